#!/usr/bin/env bash
# Runs every test: installs what is missing (once), builds everything, then
# CTest runs the unit tests (plain, sanitized and as a 32-bit program), the
# fuzz smoke runs, the launcher file check and the end-to-end
# tests of the real launcher under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
source "$root/scripts/wine-env.sh" --no-prefix
# The Wine prefixes are made while the build runs: the project's, and where the
# broad suites run the x86_64 build, e2e_i686's own (minutes where emulated).
(source "$root/scripts/wine-env.sh") &
prefix_makers=($!)
if [ "$QUILLBOX_WINE_ARCH" != i686 ] && [ "$QUILLBOX_WINE32" != none ]; then
  (cd "$root/tests/e2e" && WINEPREFIX="$build/host/wineprefix-i686" QUILLBOX_WINE=/usr/lib/wine/wine \
    /usr/bin/python3 test_i686.py --make-prefix) &
  prefix_makers+=($!)
fi
"$root/scripts/build.sh"
wait "${prefix_makers[@]}"
source "$root/scripts/wine-env.sh"
ctest --test-dir "$build/host" --output-on-failure -j2 "$@"
