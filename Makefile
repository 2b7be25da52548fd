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

# Benchmarks of the objective and the search: median of 5 repetitions, then
# the table and plot of bench/README.md.
.PHONY: bench
bench: build
	$(BUILD)/bench/vimor_bench --benchmark_repetitions=5 --benchmark_min_time=0.2 \
	  --benchmark_report_aggregates_only=true \
	  --benchmark_out=$(BUILD)/bench.json --benchmark_out_format=json
	python3 bench/report.py $(BUILD)/bench.json bench/objective.svg
