# The two commands of the README, and a few more for developers.
#   make demo   set everything up, build, run the main job
#   make test   set everything up, build, run every test
JOBS ?= $(shell nproc)

.PHONY: bootstrap build demo test package asan tsan fuzz bench format clean

bootstrap:
	@scripts/bootstrap

build: bootstrap
	cmake --preset release
	cmake --build --preset release -j $(JOBS)

demo: build
	scripts/demo build/release

test: build
	ctest --preset release -j $(JOBS)

# The Debian package of the release build (see README, "Installing").
package: build
	cd build/release && cpack -G DEB

asan: bootstrap
	cmake --preset asan
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The app and engine tests (the job runner, the workers and the snapshots live
# there) under ThreadSanitizer. The window's tests run under AddressSanitizer
# only: Debian's Qt is not built for ThreadSanitizer, whose reports inside Qt's
# thread pool and queued calls (synchronised by locks it cannot see) would be
# false.
tsan: bootstrap
	cmake --preset tsan
	cmake --build --preset tsan -j $(JOBS)
	ctest --preset tsan -j $(JOBS)

fuzz: bootstrap
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@echo "fuzzers are in build/fuzz/bin; scripts/fuzz-smoke runs each for a minute (see fuzz/README.md)"

bench: bootstrap
	cmake --preset bench
	cmake --build --preset bench -j $(JOBS)
	bench/run-all build/bench

format:
	git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
