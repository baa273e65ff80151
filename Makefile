# The two commands of a fresh machine: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test package clean

all: build

deps:
	./scripts/install-deps

configure: deps
	cmake --preset dev

build: configure
	cmake --build --preset dev -j $(JOBS)

run: build
	./scripts/run

test: build
	ctest --preset dev -j $(JOBS)

package: deps
	cmake --preset release
	cmake --build --preset release -j $(JOBS)
	cd build-release && cpack
	@ls build-release/tolvane_*.deb

clean:
	rm -rf build build-release

.PHONY: bench
bench: build
	./build/bench/bench_engine
	./scripts/with-xvfb ./build/bench/bench_delivery
	./scripts/with-xvfb ./build/bench/bench_startup ./build/app/tolvane ./build/bench/minimal_window
