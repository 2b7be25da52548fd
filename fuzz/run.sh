#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   fuzz/run.sh [seconds per target, default 60]
# New inputs go to build-fuzz/corpus/<target>; the committed seeds in
# fuzz/corpus/<target> are read only (the test suite replays them too). Any
# crash, invariant violation, leak or slow input stops the target and fails
# the script (the input is saved as build-fuzz/<target>-crash-* or similar).
set -euo pipefail
seconds="${1:-60}"
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${FUZZ_BUILD:-$root/build-fuzz}"
cxx="${FUZZ_CXX:-clang++-14}"
targets=(fuzz_objective fuzz_search fuzz_cli fuzz_model fuzz_cli_args)

# The library is built by the project's own CMake (same floating-point flags,
# same kernels), with coverage hooks and sanitizers in every object.
cmake -S "$root" -B "$out" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVIMOR_SANITIZE=fuzzer-no-link,address,undefined -DVIMOR_BUILD_FUZZ=ON \
  -DVIMOR_BUILD_TESTS=OFF -DVIMOR_BUILD_HOSTS=ON -DVIMOR_BUILD_BENCH=OFF >/dev/null
cmake --build "$out" -j "${JOBS:-2}" --target "${targets[@]}" >/dev/null
for t in "${targets[@]}"; do
  mkdir -p "$out/corpus/$t"
  echo "fuzzing $t for ${seconds}s (log: $out/$t.log)" >&2
  if ! "$out/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/$t-" "$out/corpus/$t" "$root/fuzz/corpus/$t" >"$out/$t.log" 2>&1; then
    tail -n 60 "$out/$t.log" >&2
    echo "fuzz/run.sh: $t found a fault" >&2
    exit 1
  fi
  grep -aE '^stat::(number_of_executed_units|new_units_added|slowest_unit_time_sec)' "$out/$t.log" >&2
done
