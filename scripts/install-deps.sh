#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Safe to run again:
# when everything is present it touches nothing and returns at once.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ pkg-config python3
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  wine wine32
  libbrotli-dev libssl-dev libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix wine64 python3-brotli
  dpkg-dev perl make xz-utils
  osslsigncode openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

src_list=/etc/apt/sources.list.d/quillbox-deb-src.sources
need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi
if [ ! -f "$src_list" ]; then
  # The MinGW build compiles brotli and OpenSSL from Debian's own sources.
  cat > "$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

if [ "${#missing[@]}" -eq 0 ] && [ "$need_update" -eq 0 ]; then
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
