#!/usr/bin/env bash
# R CMD check of the tarball in OUT (from make-package.sh), without the PDF
# manual. R CMD check exits 0 with warnings, so its log decides: any WARNING
# or ERROR fails; NOTEs are printed for the reader.
#   r/check-package.sh OUT
set -euo pipefail
cd "${1:?usage: check-package.sh OUT}"
export _R_CHECK_FORCE_SUGGESTS_=false
# No network: the dependency check looks packages up in an empty local
# repository instead of the default one.
mkdir -p no-repo/src/contrib
: > no-repo/src/contrib/PACKAGES
echo "options(repos = c(none = 'file://$PWD/no-repo'))" > no-repo/Rprofile
export R_PROFILE_USER=$PWD/no-repo/Rprofile
status=0
R CMD check --no-manual vimor_*.tar.gz || status=$?
log=vimor.Rcheck/00check.log
grep -A8 -E '\.\.\. (NOTE|WARNING|ERROR)$' "$log" || true
grep '^Status:' "$log"
if [ "$status" -ne 0 ] || grep -q '^Status:.*\(WARNING\|ERROR\)' "$log"; then
  echo "R CMD check failed (see $PWD/$log)" >&2
  exit 1
fi
