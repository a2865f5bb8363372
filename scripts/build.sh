#!/usr/bin/env bash
# Builds everything; installs nothing (scripts/install-deps.sh does, once). It
# stops early, naming what is missing. Cross-builds brotli and OpenSSL once
# (cached), then the host configuration (packer, unit tests, their 32-bit run,
# fuzzers) and the target configurations (the stub, the launcher around the
# payload, the Windows test programs), i686 and x86_64: the release archive
# carries both stubs; and the Windows packer, quillbox-pack.exe (x86_64).
#   QUILLBOX_APP=DIR|PAYLOAD  embed that application instead of the sample
#   QUILLBOX_BUILD_DIR=DIR    build folder (default: build/)
#
# The end-to-end tests run the i686 build under 32-bit Wine. Where this kernel
# cannot run 32-bit Linux programs (and so no 32-bit Wine), they run a 64-bit
# build of the same sources under wine64 instead; that build is made here too.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh" --check
app=${QUILLBOX_APP:+$(realpath "$QUILLBOX_APP")}  # the build runs elsewhere: make it absolute
source "$root/scripts/wine-env.sh" --no-prefix

configure_target() { # arch build-dir
  local prefix
  prefix=$("$root/scripts/build-mingw-deps.sh" "$1" | tail -n 1)
  cmake -S "$root" -B "$2" -G Ninja --toolchain "$root/cmake/mingw-$1.cmake" \
    -DQUILLBOX_DEPS_PREFIX="$prefix" -DQUILLBOX_PACKER="$build/host/tools/packer/quillbox-pack" \
    -DQUILLBOX_APP="$app" >/dev/null
}

e2e_build=$build/target
[ "$QUILLBOX_WINE_ARCH" = i686 ] || e2e_build=$build/target-$QUILLBOX_WINE_ARCH

cmake -S "$root" -B "$build/host" -G Ninja \
  -DQUILLBOX_LAUNCHER="$build/target/quillbox.exe" \
  -DQUILLBOX_TARGET_BUILD="$e2e_build" -DQUILLBOX_E2E_WINE="$QUILLBOX_WINE_LOADER" \
  -DQUILLBOX_I686_BUILD="$build/target" \
  -DQUILLBOX_STUB="$build/target/quillbox-stub.exe" \
  -DQUILLBOX_STUB_X86_64="$build/target-x86_64/quillbox-stub.exe" \
  -DQUILLBOX_PACKER_EXE="$build/packer-windows/quillbox-pack.exe" >/dev/null
cmake --build "$build/host"

configure_target i686 "$build/target"
cmake --build "$build/target"
configure_target x86_64 "$build/target-x86_64"
cmake --build "$build/target-x86_64"
cmake -S "$root" -B "$build/packer-windows" -G Ninja --toolchain "$root/cmake/packer-windows.cmake" \
  -DQUILLBOX_WINDOWS_PACKER=ON -DQUILLBOX_DEPS_PREFIX="$("$root/scripts/build-mingw-deps.sh" x86_64 | tail -n 1)" >/dev/null
cmake --build "$build/packer-windows"

echo "launcher: $build/target/quillbox.exe" >&2
