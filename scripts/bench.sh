#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: the micro-benchmarks (native),
# the launcher's size without its payload, and the whole-run benchmark under
# Wine (bench/wine_bench.py; pass --rounds N to change the 15 rounds), which
# ends with every target in one table.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
source "$root/scripts/wine-env.sh"

micro=$(mktemp)
trap 'rm -f "$micro"' EXIT
echo "== micro-benchmarks =="
taskset -c 0 "$build/host/bench/quillbox_bench" --benchmark_min_time=0.5 --benchmark_color=false | tee "$micro"

echo
echo "== launcher size =="
exe=$build/target/quillbox.exe
payload=$(ls "$root"/libs/portable/payload-i686.bin)
printf 'launcher %d bytes, payload %d bytes, launcher without payload %d bytes (%d KiB)\n' \
  "$(stat -c %s "$exe")" "$(stat -c %s "$payload")" \
  "$(( $(stat -c %s "$exe") - $(stat -c %s "$payload") ))" "$(( ($(stat -c %s "$exe") - $(stat -c %s "$payload")) / 1024 ))"

echo
echo "== whole runs under Wine =="
e2e_build=$build/target
[ "$QUILLBOX_WINE_ARCH" = i686 ] || e2e_build=$build/target-$QUILLBOX_WINE_ARCH
QUILLBOX_TARGET_BUILD=$e2e_build QUILLBOX_MINGW_CXX=$QUILLBOX_WINE_ARCH-w64-mingw32-g++ \
  QUILLBOX_WINE=$QUILLBOX_WINE_LOADER QUILLBOX_PACKER=$build/host/tools/packer/quillbox-pack \
  /usr/bin/python3 "$root/bench/wine_bench.py" --micro "$micro" "$@"
