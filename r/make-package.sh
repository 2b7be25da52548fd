#!/usr/bin/env bash
# Stages the library into the R package, builds its source tarball into OUT
# (R CMD build) and installs the tarball into OUT/lib (R CMD INSTALL).
#   r/make-package.sh OUT
set -euo pipefail
out=$(realpath -m "${1:?usage: make-package.sh OUT}")
here=$(dirname "$(realpath "$0")")
python3 "$here/stage.py"
mkdir -p "$out"
cd "$out"
rm -rf lib vimor.Rcheck vimor_*.tar.gz
mkdir lib
R CMD build "$here"
R CMD INSTALL -l "$out/lib" vimor_*.tar.gz
