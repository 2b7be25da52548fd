#!/usr/bin/env bash
# Writes the man page vimor.1 from the program's own --help (with help2man),
# each command's flags in a section of their own, and vimor.h2m's text.
#   hosts/cli/man/make-man.sh path/to/vimor [OUT]
set -euo pipefail
cli=$(realpath "${1:?usage: make-man.sh path/to/vimor [OUT]}")
here=$(dirname "$(realpath "$0")")
out=${2:-$here/vimor.1}
include=$(mktemp)
trap 'rm -f "$include"' EXIT
cat "$here/vimor.h2m" > "$include"
echo "[commands]" >> "$include"
for command in fit score predict; do
  {
    echo ".SS \"vimor $command\""
    "$cli" "$command" --help | sed -n '1p'
    # One .TP entry per flag: its spelling in bold, then what it does.
    "$cli" "$command" --help | sed -n '/^Positionals:\|^Options:/,$p' |
      sed -e 's/\\/\\e/g' -e 's/-/\\-/g' |
      awk '/^[A-Z][a-z]*:$/ { next }
           /^  [^ ]/ { line = substr($0, 3); gap = index(line, "  ")
                       flag = substr(line, 1, gap - 1); text = substr(line, gap)
                       sub(/^ +/, "", text)
                       print ".TP"; print ".B " flag; print text }'
  } >> "$include"
done
# help2man names the program by the path it runs; the page calls it vimor.
help2man --no-info --no-discard-stderr --include "$include" --name \
  "binary-response quantile regression by maximum score" "$cli" |
  sed -e "s|$cli|vimor|g" -e "s|${cli//\//\\/}|vimor|g" > "$out"
