# Front door of the project: every target installs what is missing, configures and builds.
.PHONY: all deps configure build run share-service test test-unit test-asan bench fuzz coverage format format-check clean install package screenshots

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

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, in a build of its own.
test-asan: deps
	@test -f build-asan/build.ninja || cmake --preset asan
	@cmake --build --preset asan
	@ctest --preset asan

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

# The README's screenshots of the window at scale factors 1 and 2 (offscreen).
screenshots: build
	@./scripts/screenshots.sh

# Line coverage of src/ and tools/ by the whole suite, from an unoptimised gcc build of its own.
# Debian 12's gcov can print a negative count for a line hit from several threads at once, which
# gcovr 5.2 cannot parse: such lines are skipped rather than failing the report.
coverage: deps
	@test -f build-coverage/build.ninja || cmake --preset coverage
	@cmake --build --preset coverage
	@find build-coverage -name '*.gcda' -delete
	@ctest --preset coverage
	@gcovr --root . --filter 'src/' --filter 'tools/' --exclude '.*_autogen/' \
	  --exclude '.*/qrc_[^/]*' --exclude-unreachable-branches --gcov-ignore-parse-errors \
	  --print-summary --output build-coverage/coverage.txt build-coverage
	@echo "Per-file table: build-coverage/coverage.txt"

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

# Fails when clang-format would change a tracked file.
format-check: deps
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	@rm -rf build build-debug build-asan build-fuzz build-coverage
