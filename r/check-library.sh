#!/usr/bin/env bash
# Checks the R package's compiled library (vimor.so): no fused multiply-add
# instruction anywhere (the vector kernels are compiled for instruction sets
# that have them, so a compile without -ffp-contract=off would contract), and
# no dynamic symbol but R's entry point and the library's two exports.
#   r/check-library.sh PATH/vimor.so
set -euo pipefail
so=${1:?usage: check-library.sh PATH/vimor.so}
fused=$(objdump -d "$so" | grep -cE '\svfn?m(add|sub)[0-9]' || true)
if [ "$fused" -ne 0 ]; then
  echo "$so: $fused fused multiply-add instructions" >&2
  exit 1
fi
symbols=$(nm -D --defined-only "$so" | awk '{print $3}' | sort | tr '\n' ' ')
if [ "$symbols" != "R_init_vimor _fcna_ _saa_ " ]; then
  echo "$so: exports $symbols" >&2
  exit 1
fi
echo "$so: no fused multiply-add; exports R_init_vimor, _fcna_, _saa_"
