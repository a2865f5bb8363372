#!/usr/bin/env bash
# Runs the benchmarks and prints their figures: the micro-benchmarks (native),
# the launcher's size without its payload (the stub), the whole-run benchmark
# under Wine (bench/wine_bench.py; pass --rounds N to change the 15 rounds),
# which ends with every target in one table, and packing with build against pack.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QUILLBOX_BUILD_DIR:-$root/build}
"$root/scripts/build.sh" >/dev/null
source "$root/scripts/wine-env.sh"
# The packer's default cache in the build folder, as in the tests: the user's stays untouched.
export XDG_CACHE_HOME=$build/host/test-cache

micro=$(mktemp)
trap 'rm -f "$micro"' EXIT
echo "== micro-benchmarks =="
taskset -c 0 "$build/host/bench/quillbox_bench" --benchmark_min_time=0.5 --benchmark_color=false | tee "$micro"

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
cmake --build "$e2e_build" --target bench_programs >/dev/null
QUILLBOX_TARGET_BUILD=$e2e_build \
  QUILLBOX_WINE=$QUILLBOX_WINE_LOADER QUILLBOX_PACKER=$build/host/tools/packer/quillbox-pack \
  /usr/bin/python3 "$root/bench/wine_bench.py" --micro "$micro" "$@"

echo
echo "== packing: build against pack =="
QUILLBOX_TARGET_BUILD=$e2e_build QUILLBOX_PACKER=$build/host/tools/packer/quillbox-pack \
  /usr/bin/python3 "$root/bench/pack_bench.py"
