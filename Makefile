# Front door of the project: every target installs what is missing, configures and builds.
.PHONY: all deps configure build run share-service test test-unit bench fuzz format clean

all: build

deps:
	@./scripts/install-deps.sh

configure: deps
	@test -f build/build.ninja || cmake --preset default

build: configure
	@cmake --build --preset default

run: build
	@./scripts/run.sh

share-service: build
	@build/bin/lumaro-share-service

test: build
	@ctest --preset default

test-unit: build
	@ctest --preset default -L unit

bench: build
	@./scripts/bench.sh

fuzz: deps
	@test -f build-fuzz/build.ninja || cmake --preset fuzz
	@cmake --build --preset fuzz
	@./scripts/fuzz.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-debug build-asan build-fuzz
