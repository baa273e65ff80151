# The two commands of a fresh machine: `make run` and `make test`.
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test clean

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

clean:
	rm -rf build build-release

.PHONY: bench
bench: build
	./build/bench/bench_engine
	./scripts/with-xvfb ./build/bench/bench_delivery
