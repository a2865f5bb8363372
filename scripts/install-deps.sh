#!/usr/bin/env bash
# Installs every Debian package the build and the tests need; run it once (as
# root) before the first build. Safe to run again: when everything is present it
# changes nothing, runs no apt-get update and returns at once.
#   --check  only report what is missing (exit status 1 if anything is)
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  libbrotli-dev libssl-dev libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64 python3-brotli
  dpkg-dev perl make xz-utils
  # the unit tests as a 32-bit program, run under qemu-i386
  g++-i686-linux-gnu qemu-user libbrotli-dev:i386 libssl-dev:i386 libgtest-dev:i386
  # signing the built launcher in the tests
  osslsigncode openssl
)

# The MinGW build compiles brotli and OpenSSL from Debian's own sources.
SRC_LIST=/etc/apt/sources.list.d/quillbox-deb-src.sources
SRC_ENTRY='Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'

# One query for all: dpkg names a native multi-arch package "name:amd64".
native=$(dpkg --print-architecture)
declare -A installed=()
while read -r name status; do
  [ "$status" = ii ] && installed[${name%:"$native"}]=1
done < <(dpkg-query -W -f='${binary:Package} ${db:Status-Abbrev}\n' "${PACKAGES[@]}" 2>/dev/null || true)
missing=()
for p in "${PACKAGES[@]}"; do
  [ -n "${installed[$p]:-}" ] || missing+=("$p")
done
need_i386=0
dpkg --print-foreign-architectures | grep -qx i386 || need_i386=1
need_src=0
[ "$(cat "$SRC_LIST" 2>/dev/null)" = "$SRC_ENTRY" ] || need_src=1

if [ "${#missing[@]}" -eq 0 ] && [ "$need_i386" -eq 0 ] && [ "$need_src" -eq 0 ]; then
  exit 0
fi
if [ "${1:-}" = --check ]; then
  [ "${#missing[@]}" -eq 0 ] || echo "missing packages: ${missing[*]}" >&2
  [ "$need_i386" -eq 0 ] || echo "missing: the i386 package architecture (dpkg --add-architecture i386)" >&2
  [ "$need_src" -eq 0 ] || echo "missing: the bookworm deb-src entry $SRC_LIST" >&2
  echo "run scripts/install-deps.sh (as root) to install them" >&2
  exit 1
fi

[ "$need_i386" -eq 0 ] || dpkg --add-architecture i386
[ "$need_src" -eq 0 ] || printf '%s\n' "$SRC_ENTRY" > "$SRC_LIST"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  # --no-remove: none of these may take the MinGW cross compilers away.
  apt-get install -y -q --no-install-recommends --no-remove "${missing[@]}"
fi
