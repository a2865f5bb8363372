#!/usr/bin/env bash
# Runs every test: installs what is missing (once), builds everything, then
# CTest runs the unit tests (plain, sanitized and as a 32-bit program under
# qemu-i386), the fuzz smoke runs, the launcher file check and the end-to-end
# tests of the real launcher under Wine.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
# The Wine prefix is made while the build runs.
(source "$root/scripts/wine-env.sh") &
prefix_maker=$!
"$root/scripts/build.sh"
wait "$prefix_maker"
source "$root/scripts/wine-env.sh"
ctest --test-dir "$build/host" --output-on-failure -j2 "$@"
