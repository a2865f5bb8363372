#!/usr/bin/env bash
# Builds; installs nothing (scripts/install-deps.sh does, once). It stops early,
# naming what is missing. Cross-builds brotli and OpenSSL once per architecture
# (cached), then:
#   scripts/build.sh [all]   everything: the host configuration (packer, unit
#                            tests, their 32-bit run, fuzzers), the target
#                            configurations i686 and x86_64 (the stub, the
#                            launcher around the payload, the Windows test
#                            programs) and the Windows packer, quillbox-pack.exe
#   scripts/build.sh demo    only what scripts/run-sample.sh runs: the host
#                            packer, and the stub and launcher of the demo's
#                            architecture ($QUILLBOX_DEMO_ARCH, see run-sample.sh)
#   scripts/build.sh release what the release ships: the Linux and Windows
#                            packers, both stubs, the launcher, and the release
#                            folder <build>/host/release (the archives, each
#                            stub on its own, SHA256SUMS)
#   QUILLBOX_APP=DIR|PAYLOAD  embed that application instead of the sample
#   QUILLBOX_BUILD_DIR=DIR    build folder (default: build/)
#
# The end-to-end tests run the i686 build under 32-bit Wine where it runs
# natively; elsewhere a 64-bit build of the same sources under wine64.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
set_name=${1:-all}
case $set_name in
  all | demo | release) ;;
  *) echo "build.sh: unknown set '$set_name' (all, demo or release)" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh" --check
app=${QUILLBOX_APP:+$(realpath "$QUILLBOX_APP")}  # the build runs elsewhere: make it absolute
source "$root/scripts/wine-env.sh" --no-prefix

deps_prefix() { # arch
  "$root/scripts/build-mingw-deps.sh" "$1" | tail -n 1
}

# The dependency builds run beside the host build: started here, they are
# found done (or still running, under their lock) when deps_prefix asks. A
# failure shows there, where the build runs again in the foreground.
start_deps() { # arch...
  local arch
  for arch; do "$root/scripts/build-mingw-deps.sh" "$arch" >/dev/null 2>&1 & done
}

target_dir() { # arch
  if [ "$1" = i686 ]; then echo "$build/target"; else echo "$build/target-$1"; fi
}

build_target() { # arch [targets...]
  local arch=$1 dir deps
  shift
  dir=$(target_dir "$arch")
  deps=$(deps_prefix "$arch")
  cmake -S "$root" -B "$dir" -G Ninja --toolchain "$root/cmake/mingw-$arch.cmake" \
    -DQUILLBOX_DEPS_PREFIX="$deps" -DQUILLBOX_PACKER="$build/host/tools/packer/quillbox-pack" \
    -DQUILLBOX_APP="$app" >/dev/null
  if [ $# -gt 0 ]; then cmake --build "$dir" --target "$@"; else cmake --build "$dir"; fi
}

build_windows_packer() {
  local deps
  deps=$(deps_prefix x86_64)
  cmake -S "$root" -B "$build/packer-windows" -G Ninja --toolchain "$root/cmake/packer-windows.cmake" \
    -DQUILLBOX_WINDOWS_PACKER=ON -DQUILLBOX_DEPS_PREFIX="$deps" >/dev/null
  cmake --build "$build/packer-windows"
}

host_options=(
  -DQUILLBOX_LAUNCHER="$build/target/quillbox.exe"
  -DQUILLBOX_TARGET_BUILD="$(target_dir "$QUILLBOX_WINE_ARCH")" -DQUILLBOX_E2E_WINE="$QUILLBOX_WINE_LOADER"
  -DQUILLBOX_STUB="$build/target/quillbox-stub.exe"
  -DQUILLBOX_STUB_X86_64="$build/target-x86_64/quillbox-stub.exe"
  -DQUILLBOX_PACKER_EXE="$build/packer-windows/quillbox-pack.exe"
)
# The shipped i686 launcher gets a test of its own where the broad suites run
# the x86_64 build.
i686_suite=$build/target
[ "$QUILLBOX_WINE_ARCH" != i686 ] || i686_suite=""
host_options+=(-DQUILLBOX_I686_BUILD="$i686_suite")
# Where 32-bit Wine runs natively, so do the 32-bit unit tests.
i386_native=OFF
[ "$QUILLBOX_WINE32" != native ] || i386_native=ON
host_options+=(-DQUILLBOX_I386_RUNS_NATIVELY="$i386_native")
case $set_name in
  all | release) start_deps i686 x86_64 ;;
  demo) start_deps "${QUILLBOX_DEMO_ARCH:-$QUILLBOX_WINE_ARCH}" ;;
esac
cmake -S "$root" -B "$build/host" -G Ninja "${host_options[@]}" >/dev/null

case $set_name in
  all)
    cmake --build "$build/host"
    # The tests run the programs of the i686 build and of Wine's architecture;
    # of the other one they take only the stub.
    build_target i686
    if [ "$QUILLBOX_WINE_ARCH" = x86_64 ]; then build_target x86_64; else build_target x86_64 quillbox-stub; fi
    build_windows_packer
    echo "launcher: $build/target/quillbox.exe" >&2
    ;;
  demo)
    demo_arch=${QUILLBOX_DEMO_ARCH:-$QUILLBOX_WINE_ARCH}
    case $demo_arch in
      i686 | x86_64) ;;
      *) echo "build.sh: QUILLBOX_DEMO_ARCH must be i686 or x86_64, not '$demo_arch'" >&2; exit 2 ;;
    esac
    cmake --build "$build/host" --target quillbox-pack
    build_target "$demo_arch" quillbox
    echo "launcher: $(target_dir "$demo_arch")/quillbox.exe" >&2
    ;;
  release)
    cmake --build "$build/host" --target quillbox-pack quillbox-pack-shipped
    build_target i686 quillbox
    build_target x86_64 quillbox-stub
    build_windows_packer
    cmake --build "$build/host" --target release
    echo "release folder: $build/host/release" >&2
    ;;
esac
