#!/usr/bin/env bash
# Builds everything: installs what is missing, cross-builds brotli and OpenSSL
# once (cached), then the host configuration (packer, tests) and the target
# configuration (the launcher around the payload, the Windows test programs).
#   QUILLBOX_APP=DIR|PAYLOAD  embed that application instead of the sample
#   QUILLBOX_BUILD_DIR=DIR    build folder (default: build/)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh"
prefix=$("$root/scripts/build-mingw-deps.sh" | tail -n 1)

cmake -S "$root" -B "$build/host" -G Ninja -DQUILLBOX_TARGET_BUILD="$build/target" \
  -DQUILLBOX_FUZZ_BUILD="$build/fuzz" >/dev/null
cmake --build "$build/host"

cmake -S "$root" -B "$build/target" -G Ninja --toolchain "$root/cmake/mingw-i686.cmake" \
  -DQUILLBOX_DEPS_PREFIX="$prefix" -DQUILLBOX_PACKER="$build/host/tools/packer/quillbox-pack" \
  -DQUILLBOX_APP="${QUILLBOX_APP:-}" >/dev/null
cmake --build "$build/target"

echo "launcher: $build/target/quillbox.exe" >&2
