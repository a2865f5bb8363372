#!/usr/bin/env bash
# Builds the launcher around the sample application and runs it under Wine
# twice: the first start unpacks, the second finds every file current.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/build.sh"
source "$root/scripts/wine-env.sh"
launcher=${QUILLBOX_BUILD_DIR:-$root/build}/target/quillbox.exe

app_dir=$(winepath -u 'C:\users\'"$USER"'\AppData\Local\quillbox' 2>/dev/null || true)
rm -rf "$app_dir"
echo "== first start (unpacks into %LOCALAPPDATA%\\quillbox) =="
wine "$launcher" "hello world" --flag 2>&1 | cat
echo "== second start (every file current) =="
wine "$launcher" 2>&1 | cat
echo "== unpacked files =="
ls -l "$app_dir"
