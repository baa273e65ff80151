# The two commands of a fresh machine: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run check test test-asan test-fuzz fuzz package clean

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake --preset dev

build: configure
	cmake --build --preset dev -j $(JOBS)

# Only what running needs: the program, its pictures and its sound (no test, no benchmark).
run: configure
	cmake --build --preset dev --target tolvane -j $(JOBS)
	./scripts/run

# The layers each folder may include, and the source format.
check: deps
	./scripts/check-layers
	./scripts/check-format

# Every test: the checks, the normal build, then the same suite under ASan and UBSan, then short
# fuzz runs.
test: check build
	ctest --preset dev -j $(JOBS)
	$(MAKE) test-asan test-fuzz

test-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	./scripts/run-fuzz 15

# Longer fuzzing: FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 600
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	./scripts/run-fuzz $(FUZZ_SECONDS)

package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cd build-release && cpack
	@ls build-release/tolvane_*.deb

clean:
	rm -rf build build-release build-asan build-fuzz

.PHONY: bench
bench: build
	./build/bench/bench_engine
	./scripts/with-xvfb ./build/bench/bench_delivery
	./scripts/with-xvfb ./build/bench/bench_startup ./build/app/tolvane ./build/bench/minimal_window
	./scripts/with-sway ./build/bench/bench_wayland
