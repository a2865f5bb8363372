#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: the micro-benchmarks (native),
# the launcher's size without its payload (the stub), and the whole-run benchmark under
# Wine (bench/wine_bench.py; pass --rounds N to change the 15 rounds).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
source "$root/scripts/wine-env.sh"

echo "== micro-benchmarks =="
"$build/host/bench/quillbox_bench" --benchmark_min_time=0.5

echo
echo "== launcher size =="
exe=$build/target/quillbox.exe
stub=$build/target/quillbox-stub.exe
printf 'launcher %d bytes, launcher without payload (the stub) %d bytes (%d KiB)\n' \
  "$(stat -c %s "$exe")" "$(stat -c %s "$stub")" "$(( $(stat -c %s "$stub") / 1024 ))"

echo
echo "== whole runs under Wine =="
e2e_build=$build/target
[ "$QUILLBOX_WINE_ARCH" = i686 ] || e2e_build=$build/target-$QUILLBOX_WINE_ARCH
QUILLBOX_TARGET_BUILD=$e2e_build \
  QUILLBOX_WINE=$QUILLBOX_WINE_LOADER QUILLBOX_PACKER=$build/host/tools/packer/quillbox-pack \
  /usr/bin/python3 "$root/bench/wine_bench.py" "$@"

echo
echo "== packing: build against pack =="
QUILLBOX_TARGET_BUILD=$e2e_build QUILLBOX_PACKER=$build/host/tools/packer/quillbox-pack \
  /usr/bin/python3 "$root/bench/pack_bench.py"
