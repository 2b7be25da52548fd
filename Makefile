# Thin wrapper around CMake. `make run` builds the library and the command line
# and runs the main job; `make test` builds and runs every test; `make install
# PREFIX=...` installs the command line, its man page, the module, its header and the data.
# All install missing Debian packages.
BUILD ?= build
JOBS ?= $(shell nproc)

PREFIX ?= /usr/local

.PHONY: all deps configure configure-run build run test install clean man

all: build

deps:
	scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVIMOR_BUILD_TESTS=ON -DVIMOR_BUILD_BENCH=ON

build: configure
	cmake --build $(BUILD) -j $(JOBS)

# Only the module and the command line, and only the packages they need: a
# new build folder is configured without tests and benchmarks; an existing
# one keeps its settings.
configure-run:
	scripts/install-deps.sh --run
	if [ -f $(BUILD)/CMakeCache.txt ]; then cmake -S . -B $(BUILD); else \
	  cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVIMOR_BUILD_TESTS=OFF -DVIMOR_BUILD_BENCH=OFF; fi

run: configure-run
	cmake --build $(BUILD) -j $(JOBS) --target vimor_cli
	$(BUILD)/hosts/cli/vimor fit

install: configure-run
	cmake --build $(BUILD) -j $(JOBS) --target vimor_cli
	cmake --install $(BUILD) --prefix $(PREFIX)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

clean:
	rm -rf $(BUILD)

# The man page from the command line's --help; commit the result.
man: build
	hosts/cli/man/make-man.sh $(BUILD)/hosts/cli/vimor hosts/cli/man/vimor.1

# The Windows DLL: cross-built with MinGW-w64, its export table checked, and
# run under Wine against the Linux build's transcript.
WINBUILD ?= build-windows
WINDOWS_DEPS = g++-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64 wine64

.PHONY: windows
windows: build
	scripts/install-deps.sh $(WINDOWS_DEPS)
	cmake -S . -B $(WINBUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=Release -DVIMOR_LINUX_HOST=$(CURDIR)/$(BUILD)/tests/windows/vimor_dll_host
	cmake --build $(WINBUILD) -j $(JOBS)
	ctest --test-dir $(WINBUILD) --output-on-failure

# Benchmarks of the objective and the search: median of 5 repetitions, then
# the table and plot of bench/README.md.
.PHONY: bench
bench: build
	$(BUILD)/bench/vimor_bench --benchmark_repetitions=5 --benchmark_min_time=0.2 \
	  --benchmark_report_aggregates_only=true \
	  --benchmark_out=$(BUILD)/bench.json --benchmark_out_format=json
	python3 bench/report.py $(BUILD)/bench.json bench/objective.svg bench/search.svg

# Hardening: the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer,
# the thread tests (the module's and the core's), a threaded fit, threaded subsample fits and
# bootstrap draws under ThreadSanitizer, the fuzz targets for FUZZ_TIME seconds
# each, and the load/unload host under valgrind.
FUZZ_TIME ?= 60
.PHONY: asan tsan fuzz valgrind

# ASan builds unoptimised: GCC 12 at -O2 with address,undefined reports reads
# of a thread_local defined in another file as member accesses through null.
# Under ASan, dlopen of a bare name searches the run path of the sanitizer's
# runtime rather than the host's, so the hosts find the module through
# LD_LIBRARY_PATH.
asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVIMOR_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)
	LD_LIBRARY_PATH=$(CURDIR)/build-asan ctest --test-dir build-asan --output-on-failure -j $(JOBS)

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIMOR_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS) --target vimor_tests vimor_fit_tests vimor_cli
	TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/vimor_tests --gtest_filter='*Thread*:*Concurrent*'
	TSAN_OPTIONS=halt_on_error=1 build-tsan/tests/fit/vimor_fit_tests --gtest_filter='Api.*'
	TSAN_OPTIONS=halt_on_error=1 build-tsan/hosts/cli/vimor fit --restarts 8 --threads 4 \
	  --max-evals 20000 --library build-tsan/libvimor.so >/dev/null
	TSAN_OPTIONS=halt_on_error=1 build-tsan/hosts/cli/vimor fit --restarts 2 --threads 2 \
	  --max-evals 20000 --subsamples 8 --subsample-restarts 2 --level 0.5 \
	  --library build-tsan/libvimor.so >/dev/null
	TSAN_OPTIONS=halt_on_error=1 build-tsan/hosts/cli/vimor fit --restarts 2 --threads 2 \
	  --max-evals 20000 --bootstrap 8 --bootstrap-restarts 1 --level 0.5 \
	  --library build-tsan/libvimor.so >/dev/null

fuzz: deps
	fuzz/run.sh $(FUZZ_TIME)

valgrind: build
	ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -R load_unload

# The R package: the library's sources staged into r/, the tarball built
# (R CMD build) and installed into $(BUILD)/r-package/lib, then R CMD check without
# the PDF manual (its testthat suite included); any WARNING or ERROR fails.
.PHONY: r-package r-check
r-package: deps
	r/make-package.sh $(BUILD)/r-package

r-check: r-package
	r/check-package.sh $(BUILD)/r-package
