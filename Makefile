# Everyday commands. Each one installs what is missing first (scripts/install-deps.sh).
#   make run     build and start the program
#   make test    build and run every test: the normal build, the sanitizer build, the fuzz
#                targets for a short time, and the formatting check
.PHONY: all deps build run test test-default test-asan test-fuzz fuzz-long bench format \
        format-check clean

JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 20
FUZZ_LONG_SECONDS ?= 600

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS)

run: build
	./build/default/src/app/quillomat

test: deps format-check test-default test-asan test-fuzz

test-default:
	cmake --preset default
	cmake --build --preset default -j $(JOBS)
	ctest --preset default -j $(JOBS)

test-asan:
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

test-fuzz:
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_SECONDS)

# Opt-in: a long fuzzing session of every target.
fuzz-long: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	scripts/fuzz.sh $(FUZZ_LONG_SECONDS)

# Opt-in: the benchmarks (see bench/README.md).
bench: deps
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	bench/run.sh

format:
	git ls-files '*.cpp' '*.h' | xargs -r clang-format -i

format-check:
	git ls-files '*.cpp' '*.h' | xargs -r clang-format --dry-run -Werror

clean:
	rm -rf build
