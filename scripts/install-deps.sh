#!/usr/bin/env bash
# Installs every Debian package the build and the tests need; run it once (as
# root) before the first build. Safe to run again: when everything is present it
# changes nothing, runs no apt-get update and returns at once.
#   --check  only report what is missing (exit status 1 if anything is)
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/apt.sh"

PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32:i386
  libbrotli-dev libssl-dev libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64 python3-brotli
  # an independent PE reader for the resource tests
  python3-pefile
  dpkg-dev perl make xz-utils
  # the unit tests as a 32-bit program, run under qemu-i386
  g++-i686-linux-gnu qemu-user libbrotli-dev:i386 libssl-dev:i386 libgtest-dev:i386
  # signing the built launcher in the tests
  osslsigncode openssl
  # the pack benchmark compares compression CPU with the brotli command line
  brotli
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

# Where the kernel runs no 32-bit programs, qemu-i386 registered with binfmt_misc
# runs them (32-bit Wine with them), slowly. Registered once per boot; never
# where the kernel runs them itself, since binfmt_misc would then take them over.
BINFMT=/proc/sys/fs/binfmt_misc
I386_ENTRY=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'
register_qemu_i386() {
  [ -x /usr/bin/qemu-i386 ] && [ -x /usr/lib/wine/wine ] || return 0
  [ -e "$BINFMT/qemu-i386" ] && return 0
  timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1 && return 0  # the kernel runs them
  if [ "$(id -u)" -ne 0 ]; then
    echo "note: 32-bit programs cannot run here; as root this script registers qemu-i386 for them" >&2
    return 0
  fi
  [ -e "$BINFMT/register" ] || mount -t binfmt_misc binfmt_misc "$BINFMT" 2>/dev/null || true
  if [ -e "$BINFMT/register" ] && printf '%s' "$I386_ENTRY" > "$BINFMT/register" 2>/dev/null; then
    echo "registered qemu-i386 with binfmt_misc: 32-bit programs (32-bit Wine too) now run emulated" >&2
  else
    echo "note: this kernel offers no binfmt_misc; 32-bit programs cannot run here" >&2
  fi
}

if [ "${#missing[@]}" -eq 0 ] && [ "$need_i386" -eq 0 ] && [ "$need_src" -eq 0 ]; then
  [ "${1:-}" = --check ] || register_qemu_i386
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
apt_update
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  # --no-remove: none of these may take the MinGW cross compilers away.
  apt_install "${missing[@]}"
fi
register_qemu_i386
