#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
# With --run, only those that the library and the command line need (make run,
# make install), so a first run does not wait for the test tools and R.
# Extra package names may be given as arguments.
set -euo pipefail

packages=(
  g++ cmake make binutils
  libcli11-dev libfmt-dev libcsv-dev nlohmann-json3-dev
)
if [ "${1:-}" = --run ]; then
  shift
else
  packages+=(
    libgtest-dev libgmock-dev libbenchmark-dev
    python3
    python3-numpy python3-pandas python3-pip python3-setuptools python3-venv python3-sklearn
    python3-distributed python3-matplotlib
    clang-14 libclang-rt-14-dev valgrind
    r-base-dev r-cran-testthat r-cran-jsonlite r-cran-knitr r-cran-rmarkdown pandoc
    help2man
  )
fi
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
