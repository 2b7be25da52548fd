# Thin wrapper around CMake. `make run` builds and runs the main job;
# `make test` builds and runs every test. Both install missing Debian packages.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: all deps build run test clean

all: build

deps:
	scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/hosts/example/vimor_example

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# Hardening: the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# the thread tests under ThreadSanitizer, the fuzz targets for FUZZ_TIME seconds
# each, and the load/unload host under valgrind.
FUZZ_TIME ?= 60
.PHONY: asan tsan fuzz valgrind

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMOR_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMOR_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS) --target vimor_tests
	TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/vimor_tests --gtest_filter='Threads.*'

fuzz: deps
	fuzz/run.sh $(FUZZ_TIME)

valgrind: build
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -R load_unload
