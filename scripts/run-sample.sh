#!/usr/bin/env bash
# Builds the launcher around the sample application and runs it under Wine
# twice: the first start unpacks, the second finds every file current.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
launcher=$build/target/quillbox.exe
if [ "$QUILLBOX_WINE_ARCH" != i686 ]; then
  echo "note: this kernel cannot run 32-bit programs; running the $QUILLBOX_WINE_ARCH build of the same launcher" >&2
  launcher=$build/target-$QUILLBOX_WINE_ARCH/quillbox.exe
fi

app_dir="$WINEPREFIX/drive_c/users/${USER:-root}/AppData/Local/quillbox"
rm -rf "$app_dir"
echo "== first start: unpacks into %LOCALAPPDATA%\\quillbox =="
"$QUILLBOX_WINE_LOADER" "$launcher" "hello world" --flag </dev/null 2>&1 | cat
echo "== second start: every file current =="
"$QUILLBOX_WINE_LOADER" "$launcher" </dev/null 2>&1 | cat
echo "== unpacked files =="
ls -l "$app_dir"
