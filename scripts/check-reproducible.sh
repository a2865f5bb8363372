#!/usr/bin/env bash
# Shows that the release bytes come from the sources alone: builds the shipped
# artefacts a second time, from a copy of the tree in another folder, and
# compares every byte with those of the build folder. It also checks that no
# shipped binary names either folder.
#   scripts/check-reproducible.sh          the packers (Linux and Windows), both
#                                          stubs, the launcher and every file of
#                                          the release folder (archives, stubs,
#                                          SHA256SUMS); builds them in the build
#                                          folder first
#   scripts/check-reproducible.sh --quick  the shipped (i686) stub and the Linux
#                                          packer, taken as they are in the build
#                                          folder (CTest); the x86_64 stub is the
#                                          same sources with the other compiler
#   QUILLBOX_BUILD_DIR=DIR  the build folder (default: build/)
# The archives' times are SOURCE_DATE_EPOCH, else the time of the last commit;
# both builds get the same. Exit status 1 names every file that differs.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${QUILLBOX_BUILD_DIR:-$root/build}")
quick=0
[ "${1:-}" = --quick ] && quick=1

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH
if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
  echo "check-reproducible: note: the tree has uncommitted changes; both builds take them as they are" >&2
fi

shipped=(host/tools/packer/quillbox-pack-shipped target/quillbox-stub.exe)
if [ "$quick" = 0 ]; then
  "$root/scripts/build.sh" release
  shipped+=(target-x86_64/quillbox-stub.exe target/quillbox.exe packer-windows/quillbox-pack.exe)
  # Everything the release folder publishes: the archives, the stubs on their
  # own and SHA256SUMS, which must also check.
  for published in "$build"/host/release/*; do
    shipped+=("${published#"$build"/}")
  done
  (cd "$build/host/release" && sha256sum --check --quiet SHA256SUMS) ||
    { echo "check-reproducible: SHA256SUMS does not match the release folder" >&2; exit 1; }
fi
for file in "${shipped[@]}"; do
  [ -f "$build/$file" ] || { echo "check-reproducible: $build/$file is missing; build it first" >&2; exit 2; }
done

# The second build: a copy of the tree (what git tracks or would track) in a
# folder of another name and depth, at another time. It packs its launcher
# with the cache in its own build folder, so it compresses every entry again
# and a difference in compression shows.
second=$(mktemp -d /tmp/quillbox-repro.XXXXXX)
trap 'rm -rf "$second"' EXIT
mkdir -p "$second/elsewhere/src"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  tar --null --ignore-failed-read -T - -cf - 2>/dev/null) | tar -xf - -C "$second/elsewhere/src"
copy=$second/elsewhere/src
other=$second/elsewhere/out
echo "check-reproducible: building again in $other" >&2
if [ "$quick" = 1 ]; then
  # The same configurations as scripts/build.sh, limited to the two files.
  cmake -S "$copy" -B "$other/host" -G Ninja -DQUILLBOX_FUZZ=OFF -DQUILLBOX_I386_TESTS=OFF >/dev/null
  cmake --build "$other/host" --target quillbox-pack-shipped >/dev/null
  cmake -S "$copy" -B "$other/target" -G Ninja --toolchain "$copy/cmake/mingw-i686.cmake" \
    -DQUILLBOX_DEPS_PREFIX="$("$copy/scripts/build-mingw-deps.sh" i686 | tail -n 1)" >/dev/null
  cmake --build "$other/target" --target quillbox-stub >/dev/null
else
  QUILLBOX_BUILD_DIR=$other "$copy/scripts/build.sh" release >/dev/null
fi

status=0
for file in "${shipped[@]}"; do
  if ! cmp -s "$build/$file" "$other/$file"; then
    echo "DIFFERS: $file ($(cmp "$build/$file" "$other/$file" 2>&1 | head -n 1))"
    status=1
  elif LC_ALL=C grep -aqF -e "$root" -e "$build" -e "$second" "$build/$file"; then
    echo "NAMES A BUILD FOLDER: $file"
    status=1
  else
    echo "same: $file ($(stat -c %s "$build/$file") bytes, sha256 $(sha256sum "$build/$file" | cut -c1-16)...)"
  fi
done
[ "$status" = 0 ] && echo "check-reproducible: ${#shipped[@]} files byte-identical"
exit "$status"
