#!/usr/bin/env bash
# Runs every test: builds what is needed (including the fuzzers, with clang),
# then CTest runs the unit tests (plain and sanitized), the fuzz smoke runs and
# the end-to-end tests of the real launcher under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh"
if [ -f "$root/tests/fuzz/CMakeLists.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$root/tests/fuzz" -B "$build/fuzz" -G Ninja >/dev/null
  cmake --build "$build/fuzz"
fi
source "$root/scripts/wine-env.sh"
ctest --test-dir "$build/host" --output-on-failure -j2 "$@"
