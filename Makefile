# The two commands of a fresh machine: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run check test build-asan build-fuzz test-asan test-fuzz fuzz package \
	clean

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
# fuzz runs. The sanitizer builds go on at the lowest priority while the normal suite runs (its
# outside-in part mostly waits on windows): they take only the time the processors are idle.
test: check build
	@nice -n 19 $(MAKE) --no-print-directory build-asan build-fuzz >build/sanitizer-builds.log \
	    2>&1 & builder=$$!; \
	status=0; ctest --preset dev -j $(JOBS) || status=$$?; \
	wait $$builder || { cat build/sanitizer-builds.log; exit 1; }; \
	exit $$status
	$(MAKE) test-asan test-fuzz

build-asan: deps
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)

build-fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)

test-asan: build-asan
	ctest --preset asan -j $(JOBS)

test-fuzz: build-fuzz
	./scripts/run-fuzz 15

# Longer fuzzing: FUZZ_SECONDS per target.
FUZZ_SECONDS ?= 600
fuzz: build-fuzz
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
