#!/usr/bin/env bash
# Builds the launcher around the sample application (only that: the host
# packer, one stub and what it needs) and runs it under Wine twice: the first
# start unpacks, the second finds every file current.
#
# The shipped launcher is the i686 one. Where 32-bit Wine runs natively, that is
# the one started. Where it runs only emulated (minutes per start) or not at all,
# the x86_64 build of the same sources runs under wine64 instead;
# QUILLBOX_DEMO_ARCH=i686 starts the i686 launcher all the same.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
source "$root/scripts/wine-env.sh" --no-prefix
arch=${QUILLBOX_DEMO_ARCH:-$QUILLBOX_WINE_ARCH}
export QUILLBOX_DEMO_ARCH=$arch
# A fresh Wine prefix takes minutes on a busy machine: make it while building.
(source "$root/scripts/wine-env.sh") &
prefix_maker=$!
"$root/scripts/build.sh" demo
wait "$prefix_maker"

if [ "$arch" = i686 ]; then
  launcher=$build/target/quillbox.exe
  loader=/usr/lib/wine/wine
  if [ "$QUILLBOX_WINE32" = emulated ]; then
    echo "note: 32-bit Wine runs emulated here (qemu-i386): each start takes minutes" >&2
  elif [ "$QUILLBOX_WINE32" = none ]; then
    echo "run-sample: this machine runs no 32-bit Windows programs; leave QUILLBOX_DEMO_ARCH unset" >&2
    exit 1
  fi
else
  launcher=$build/target-$arch/quillbox.exe
  loader=/usr/lib/wine/wine64
  if [ "$QUILLBOX_WINE_ARCH" != i686 ]; then
    echo "note: 32-bit Wine runs $QUILLBOX_WINE32 here; running the $arch build of the same launcher" \
      "under wine64 (QUILLBOX_DEMO_ARCH=i686 runs the shipped i686 launcher)" >&2
  fi
fi

app_dir="$WINEPREFIX/drive_c/users/${USER:-root}/AppData/Local/quillbox"
rm -rf "$app_dir"
echo "== first start: unpacks into %LOCALAPPDATA%\\quillbox =="
"$loader" "$launcher" "hello world" --flag </dev/null 2>&1 | cat
echo "== second start: every file current =="
"$loader" "$launcher" </dev/null 2>&1 | cat
echo "== unpacked files =="
ls -l "$app_dir"
