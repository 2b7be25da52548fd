#!/usr/bin/env bash
# Checks a built vimor.dll from its PE tables, as the cross binutils' objdump
# prints them: exactly two exports, _fcna_ at ordinal 1 and _saa_ at ordinal 2,
# and imports from base Windows system DLLs only (no compiler runtime DLLs,
# which a plain Windows installation lacks).
# Usage: check_dll_exports.sh OBJDUMP vimor.dll
set -euo pipefail
objdump=$1
dll=$2

table=$("$objdump" -p "$dll")
fail() { echo "check_dll_exports: $dll: $*" >&2; exit 1; }

# "[   0] +base[   1] 17f0 Export RVA" gives the ordinals in use, and
# "[   0] _fcna_" under "[Ordinal/Name Pointer] Table" the names with the
# 0-based index of their ordinal (ordinal base 1).
ordinals=$(sed -n '/^Export Address Table -- Ordinal Base/,/^$/p' <<<"$table" |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] +base\[ *\([0-9]*\)\].*/\1/p' | tr '\n' ' ')
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$table" |
  sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\1 \2/p' | tr '\n' ' ')
grep -q '^Ordinal Base[[:space:]]*1$' <<<"$table" || fail "ordinal base is not 1"
[ "$ordinals" = "1 2 " ] || fail "export ordinals are '$ordinals', want '1 2 '"
[ "$names" = "0 _fcna_ 1 _saa_ " ] || fail "named exports are '$names', want _fcna_ at 1, _saa_ at 2"

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table")
[ -n "$imports" ] || fail "no import table"
while read -r name; do
  case "${name,,}" in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
    *) fail "imports $name, which is not a system DLL" ;;
  esac
done <<<"$imports"
echo "check_dll_exports: $dll: _fcna_ @1, _saa_ @2; imports $(tr '\n' ' ' <<<"$imports")"
