# Everyday commands. Each one installs what is missing first (scripts/install-deps.sh).
#   make run     build and start the program
#   make test    build and run every test: the normal build, the sanitizer build, the fuzz
#                targets for a short time, the formatting check, and the Debian package
#   make package build the Debian package, build/default/quillomat_VERSION_ARCH.deb
.PHONY: all deps build run test test-default test-asan test-fuzz test-package package \
        fuzz-long bench format format-check clean

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

test: deps format-check test-default test-asan test-fuzz test-package

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

# The Debian package, made by CPack from the optimised build.
package: deps
	cmake --preset default
	cmake --build --preset default -j $(JOBS) --target quillomat quillomat-cli lindrel \
		qm_package_files
	rm -f build/default/quillomat_*.deb
	cd build/default && cpack -G DEB

# Checks the package (lintian, desktop entry, AppStream data, manual pages); as root it also
# installs it, uses the installed programs and removes it again.
test-package: package
	scripts/check-package.sh build/default/quillomat_*.deb

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
