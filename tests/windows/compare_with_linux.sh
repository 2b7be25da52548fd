#!/usr/bin/env bash
# Runs the Linux host against libvimor.so and the Windows host against
# vimor.dll (through the given runner, Wine) and requires the same transcript
# byte for byte: the same objective values and search outputs, bit for bit.
# Usage: compare_with_linux.sh LINUX_HOST WINDOWS_RUNNER... WINDOWS_HOST
set -euo pipefail
linux_host=$1
shift

"$linux_host" >linux.txt || { echo "compare_with_linux: the Linux host failed" >&2; exit 1; }
"$@" >windows.txt || { echo "compare_with_linux: the Windows host failed" >&2; exit 1; }
if ! cmp -s linux.txt windows.txt; then
  echo "compare_with_linux: vimor.dll and libvimor.so give different outputs:" >&2
  diff -u linux.txt windows.txt >&2 || true
  exit 1
fi
echo "compare_with_linux: $(wc -l <linux.txt) lines agree"
