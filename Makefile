# Front door of the project: every target installs what is missing, configures and builds.
.PHONY: all deps configure build run share-service test test-unit bench fuzz format clean install package

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

# make install PREFIX=~/.local installs for one user; the default is /usr/local.
PREFIX ?= /usr/local
install: build
	@cmake --install build --prefix $(PREFIX)

# A Debian package in this folder: sudo apt install ./lumaro_*.deb
package: build
	@cd build && cpack -G DEB -B $(CURDIR)/build/package
	@cp build/package/lumaro_*.deb .
	@ls lumaro_*.deb

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	@rm -rf build build-debug build-asan build-fuzz
