#!/usr/bin/env bash
# Cross-compiles brotli's decoder and encoder (the encoder for the Windows
# packer) and the part of OpenSSL's libcrypto the launcher and the packer link
# (MD5 and SHA-256, with their assembly) as static libraries for MinGW-w64 from
# Debian's source packages, and caches the result.
#
#   prefix=$(scripts/build-mingw-deps.sh [i686|x86_64])
#
# i686 (the default) is the launcher's architecture; x86_64 serves only the test
# build used where 32-bit Wine cannot run.
#
# The prefix (with include/ and lib/) is the last line on stdout; progress goes
# to stderr. A cached build returns at once. Needs what scripts/install-deps.sh
# installs (MinGW cross compiler, cmake, ninja, perl, make, a bookworm deb-src).
#
# Environment:
#   QUILLBOX_DEPS_CACHE  cache root (default: $HOME/.cache/quillbox)
#   QUILLBOX_DEPS_JOBS   parallel build jobs (default: 2)
set -euo pipefail

# Debian versions we build from. The orig tarballs are checked against these
# hashes too, so a rebuilt cache always holds the same code.
BROTLI_DEB_VERSION=1.0.9-2
BROTLI_ORIG_SHA256=f9e8d81d0405ba66d181529af42a3354f838c939095ff99930da6aa9cdf6fe46
OPENSSL_DEB_VERSION=3.0.20-1~deb12u2
OPENSSL_ORIG_SHA256=c80a01dfc70ece4dc21168932c37739042d404d46ccc81a5986dd75314ecda6f

BROTLI_VERSION=${BROTLI_DEB_VERSION%-*}    # upstream part, names the orig tarball
OPENSSL_VERSION=${OPENSSL_DEB_VERSION%-*}
ARCH=${1:-i686}
case $ARCH in
  i686) OPENSSL_TARGET=mingw ;;
  x86_64) OPENSSL_TARGET=mingw64 ;;
  *) printf 'build-mingw-deps: error: unknown architecture %s (i686 or x86_64)\n' "$ARCH" >&2; exit 2 ;;
esac
TRIPLE=$ARCH-w64-mingw32
JOBS=${QUILLBOX_DEPS_JOBS:-2}

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
toolchain_file=$(cd "$script_dir/../cmake" && pwd)/mingw-$ARCH.cmake
cache_root=${QUILLBOX_DEPS_CACHE:-$HOME/.cache/quillbox}
# The upstream versions name the directory: only the orig tarballs are built.
prefix=$cache_root/mingw-deps-$ARCH-$BROTLI_VERSION-$OPENSSL_VERSION
stamp_name=.complete

# Keep stdout for the final prefix line only; everything else goes to stderr.
exec 3>&1 1>&2

log() { printf 'build-mingw-deps: %s\n' "$*"; }
die() { printf 'build-mingw-deps: error: %s\n' "$*"; exit 1; }

# The stamp records what the cache was built from, including this script and the
# toolchain file, so changing the recipe rebuilds instead of reusing stale libs.
stamp_content() {
  printf 'brotli %s\nopenssl %s\nrecipe %s\n' "$BROTLI_DEB_VERSION" "$OPENSSL_DEB_VERSION" \
    "$(cat "${BASH_SOURCE[0]}" "$toolchain_file" | sha256sum | cut -d' ' -f1)"
}

cache_is_valid() {
  [ -f "$prefix/$stamp_name" ] && [ "$(cat "$prefix/$stamp_name")" = "$(stamp_content)" ]
}

finish() {
  printf '%s\n' "$prefix" >&3
  exit 0
}

[ -f "$toolchain_file" ] || die "toolchain file not found: $toolchain_file"
if cache_is_valid; then
  finish
fi

for tool in "$TRIPLE-gcc" "$TRIPLE-ar" "$TRIPLE-ranlib" cmake ninja perl make apt-get flock sha256sum tar; do
  command -v "$tool" >/dev/null || die "'$tool' not found; run scripts/install-deps.sh first"
done

mkdir -p "$cache_root"
# Builds from parallel callers (e.g. two build dirs configuring at once) must not
# race on the same prefix: serialize, then check again in case another finished.
exec 9>"$cache_root/mingw-deps-$ARCH.lock"
if ! flock -n 9; then
  log "waiting for another build of the dependencies to finish"
  flock 9
fi
if cache_is_valid; then
  finish
fi

# One build per architecture runs at a time, so a work dir of this
# architecture left here is from a killed run; the other architecture's may be
# in use.
rm -rf "$cache_root/work-$ARCH".*
work=$(mktemp -d "$cache_root/work-$ARCH.XXXXXX")
build_log=$work/build.log
wine_prefix=
# Wine leaves services running after the program exits. Stop everything that
# runs in our throwaway prefix; when wineserver cannot reach them (it may pick
# a 32-bit server that cannot run here), end them by pid.
stop_wine() {
  WINEPREFIX=$wine_prefix timeout 20 wineserver -k >/dev/null 2>&1 9>&- 3>&- || true
  local p pids=()
  for _ in 1 2 3; do
    pids=()
    for p in /proc/[0-9]*; do
      grep -qszxF "WINEPREFIX=$wine_prefix" "$p/environ" && pids+=("${p#/proc/}")
    done
    [ "${#pids[@]}" -gt 0 ] || return 0
    kill "${pids[@]}" 2>/dev/null || true
    sleep 1
  done
  kill -KILL "${pids[@]}" 2>/dev/null || true
}
# shellcheck disable=SC2317  # only called from the trap
on_exit() {
  local rc=$?
  if [ "$rc" -ne 0 ] && [ -s "$build_log" ]; then
    cp "$build_log" "$cache_root/mingw-deps-failed.log" &&
      log "full log: $cache_root/mingw-deps-failed.log"
  fi
  if [ -n "$wine_prefix" ]; then
    stop_wine
    rm -rf "$wine_prefix"
  fi
  rm -rf "$work"
}
trap on_exit EXIT
# Turn signals into a normal exit so the work dir is still cleaned up.
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a build step with its (long) output in the log, shown only on failure.
run() {
  printf '+ %s\n' "$*" >>"$build_log"
  if ! "$@" >>"$build_log" 2>&1; then
    log "failed: $*"
    tail -n 15 "$build_log" | cut -c1-400
    return 1
  fi
}

start=$SECONDS
stage=$work/stage
mkdir -p "$work/src" "$stage/include" "$stage/lib"

# --- sources ---------------------------------------------------------------
log "downloading brotli and openssl sources"
fetch_sources() {
  (cd "$work/src" && apt-get source --download-only -q "brotli/bookworm" "openssl/bookworm")
}
if ! fetch_sources >>"$build_log" 2>&1; then
  # Usually the package lists are missing or predate the deb-src entry.
  [ "$(id -u)" -eq 0 ] || die "apt-get source failed; run 'apt-get update' as root (or scripts/install-deps.sh)"
  log "apt-get source failed; updating package lists and retrying"
  # shellcheck source=apt.sh
  source "$script_dir/apt.sh"
  apt_update >>"$build_log" 2>&1
  rm -f "$work/src"/*
  run fetch_sources || die "apt-get source failed even after apt-get update (is the bookworm deb-src entry present?)"
fi

check_source() { # name deb_version upstream_version sha256
  local name=$1 want=$2 upstream=$3 sha=$4 dsc found
  dsc=$(find "$work/src" -maxdepth 1 -name "${name}_*.dsc" | head -n 1)
  [ -n "$dsc" ] || die "no .dsc for $name was downloaded"
  found=$(sed -n 's/^Version: *//p' "$dsc" | head -n 1)
  [ "$found" = "$want" ] ||
    die "$name: expected Debian version $want but bookworm has '$found'; update the pinned version and hash in ${BASH_SOURCE[0]}"
  local orig=$work/src/${name}_${upstream}.orig.tar.gz
  [ -f "$orig" ] || die "$name: expected $(basename "$orig") but it was not downloaded"
  echo "$sha  $orig" | sha256sum -c --quiet - >/dev/null 2>&1 ||
    die "$name: $(basename "$orig") does not match the pinned sha256 $sha"
}
check_source brotli "$BROTLI_DEB_VERSION" "$BROTLI_VERSION" "$BROTLI_ORIG_SHA256"
check_source openssl "$OPENSSL_DEB_VERSION" "$OPENSSL_VERSION" "$OPENSSL_ORIG_SHA256"

# Upstream trees only: Debian's patches (pic.patch in particular) break the
# MinGW x86 assembly build.
mkdir -p "$work/brotli" "$work/openssl"
tar -xzf "$work/src/brotli_${BROTLI_VERSION}.orig.tar.gz" -C "$work/brotli" --strip-components=1
tar -xzf "$work/src/openssl_${OPENSSL_VERSION}.orig.tar.gz" -C "$work/openssl" --strip-components=1

# --- brotli ----------------------------------------------------------------
log "building brotli $BROTLI_VERSION"
run cmake -S "$work/brotli" -B "$work/brotli-build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain_file" \
  -DCMAKE_BUILD_TYPE=Release \
  -DBROTLI_DISABLE_TESTS=ON \
  -DBROTLI_BUNDLED_MODE=ON
# Its CMakeLists always adds shared libs, the encoder and the CLI: build only
# the static targets we link.
run cmake --build "$work/brotli-build" --parallel "$JOBS" --target brotlicommon-static brotlidec-static brotlienc-static
cp "$work/brotli-build/libbrotlicommon-static.a" "$stage/lib/libbrotlicommon.a"
cp "$work/brotli-build/libbrotlidec-static.a" "$stage/lib/libbrotlidec.a"
cp "$work/brotli-build/libbrotlienc-static.a" "$stage/lib/libbrotlienc.a"
mkdir -p "$stage/include/brotli"
cp "$work/brotli/c/include/brotli/"{decode.h,encode.h,port.h,types.h} "$stage/include/brotli/"

# --- openssl ---------------------------------------------------------------
log "building openssl $OPENSSL_VERSION: MD5 and SHA-256"
# OpenSSL's own Configure and Makefile build the objects; only those of the
# digests' low-level calls (MD5_*, SHA256_*), their assembly and the CPU
# feature probe they dispatch on are made and archived, a few files instead
# of all of libcrypto. Nothing that reads a configuration file, loads a module
# or an engine is linked, so no built-in directory is ever consulted; they are
# still set to an admin-only place (the mingw default, C:\usr\local\ssl, can
# be created by any user), and Configure on Linux treats a C:/ path as
# relative, so they go on the make command line.
win_ssl_dir="C:/Program Files/Common Files/SSL"
openssl_objects() { # the digests' objects, named as this target's Makefile names them
  grep -oE '^crypto/(md5/libcrypto-lib-md5(-[a-z0-9_]+|_dgst|_one)|sha/libcrypto-lib-sha256(-[a-z0-9_]+)?|libcrypto-lib-([a-z0-9_]*cpuid|ctype))\.obj:' \
    Makefile | tr -d :
}
(
  cd "$work/openssl"
  run ./Configure "$OPENSSL_TARGET" --cross-compile-prefix="$TRIPLE-" \
    no-shared no-tests no-module no-dso no-engine no-async no-legacy no-autoload-config \
    --release
  objects=$(openssl_objects)
  [ "$(wc -w <<<"$objects")" -ge 8 ] || die "the Makefile names fewer digest objects than expected: $objects"
  # shellcheck disable=SC2086  # one word per object
  run make -j"$JOBS" OPENSSLDIR="$win_ssl_dir" ENGINESDIR="$win_ssl_dir/engines-3" \
    MODULESDIR="$win_ssl_dir/ossl-modules" build_generated $objects
  # shellcheck disable=SC2086
  run "$TRIPLE-ar" rcs libcrypto.a $objects
  # Every symbol the objects need is among them, or comes from the C runtime
  # and kernel32: the archive is whole.
  "$TRIPLE-nm" libcrypto.a | awk '$2 ~ /^[TDBRC]$/ {print $3}' | sort -u >defined.txt
  unresolved=$("$TRIPLE-nm" libcrypto.a | awk '$1 == "U" {print $2}' | sort -u | comm -23 - defined.txt |
    grep -vE '^_?(memcpy|memset|__imp__?(GetEnvironmentVariableW|RtlVirtualUnwind)(@[0-9]+)?)$' || true)
  [ -z "$unresolved" ] || die "libcrypto.a needs symbols it does not carry: $unresolved"
)
if grep -qaF /usr/local/ "$work/openssl/libcrypto.a"; then
  die "libcrypto.a names a user-writable /usr/local/ directory"
fi
cp "$work/openssl/libcrypto.a" "$stage/lib/libcrypto.a"
# Generated headers (opensslconf.h, configuration.h, opensslv.h, ...) sit in
# the same include/openssl directory as the static ones after build_generated.
mkdir -p "$stage/include/openssl"
cp "$work/openssl/include/openssl/"*.h "$stage/include/openssl/"
[ -f "$stage/include/openssl/configuration.h" ] || die "generated openssl headers are missing"

# --- check -----------------------------------------------------------------
# Link a program that uses both libraries the way the launcher will, so a
# broken cache is never stamped; run it too when wine is available.
log "checking the libraries with a test program"
cat >"$work/check.c" <<'EOF'
#include <stdio.h>
#include <string.h>
#include <brotli/decode.h>
#define OPENSSL_SUPPRESS_DEPRECATED /* the low-level digest calls are deprecated in 3.0 but still there */
#include <openssl/md5.h>
#include <openssl/sha.h>

/* "quillbox brotli check: abcabcabcabcabcabcabcabc\n" compressed at quality 11. */
static const unsigned char packed[] = {
  0x1b,0x2f,0x00,0xf8,0x45,0x37,0xd7,0x2d,0x69,0x25,0xdb,0x9a,
  0x33,0x09,0x03,0x51,0x3c,0x3c,0x15,0x59,0x67,0xa1,0x22,0xe0,
  0x90,0x9d,0x57,0x12,0xfb,0x83,0xdb,0xa7,0xc2,0x76,0x04,0x13,
  0x03,
};
static const char expected_text[] = "quillbox brotli check: abcabcabcabcabcabcabcabc\n";

int main(void) {
  unsigned char out[128];
  size_t out_len = sizeof out;
  if (BrotliDecoderDecompress(sizeof packed, packed, &out_len, out) != BROTLI_DECODER_RESULT_SUCCESS ||
      out_len != strlen(expected_text) || memcmp(out, expected_text, out_len) != 0) {
    fprintf(stderr, "brotli: wrong output\n");
    return 1;
  }
  static const unsigned char sha256_abc[SHA256_DIGEST_LENGTH] = {
    0xba,0x78,0x16,0xbf,0x8f,0x01,0xcf,0xea,0x41,0x41,0x40,0xde,0x5d,0xae,0x22,0x23,
    0xb0,0x03,0x61,0xa3,0x96,0x17,0x7a,0x9c,0xb4,0x10,0xff,0x61,0xf2,0x00,0x15,0xad,
  };
  unsigned char one_shot[MD5_DIGEST_LENGTH], sha[SHA256_DIGEST_LENGTH];
  MD5((const unsigned char *)"abc", 3, one_shot);
  SHA256_CTX sha_context;
  SHA256_Init(&sha_context);
  SHA256_Update(&sha_context, "abc", 3);
  SHA256_Final(sha, &sha_context);
  if (memcmp(sha, sha256_abc, sizeof sha) != 0) {
    fprintf(stderr, "sha256: wrong digest\n");
    return 1;
  }
  for (int i = 0; i < MD5_DIGEST_LENGTH; i++) printf("%02x", one_shot[i]);
  printf("\n");
  return 0;
}
EOF
run "$TRIPLE-gcc" -O2 -static -I"$stage/include" "$work/check.c" -o "$work/check.exe" \
  -L"$stage/lib" -lbrotlidec -lbrotlicommon -lcrypto -lws2_32 -lcrypt32 -luser32 -ladvapi32 ||
  die "the test program does not link against the new libraries"
# Wine may be present but unable to run anything (e.g. a kernel without 32-bit
# support, or an emulation layer that cannot start it). A trivial exe tells
# that apart from a real fault in the libraries, which must fail the build.
# Where 32-bit Wine is only emulated (minutes per start), the i686 program is
# linked but not run: the shipped launcher's own test runs what is built on it.
# Wine's background services must not inherit the lock (fd 9) or the caller's
# stdout (fd 3): they would block other builds and hang "$(...)" callers.
# shellcheck source=wine-env.sh
source "$script_dir/wine-env.sh" --no-prefix
loader=/usr/lib/wine/wine
[ "$ARCH" = i686 ] || loader=/usr/lib/wine/wine64
run_in_wine() { # exe -> its stdout
  WINEPREFIX=$wine_prefix timeout 180 "$loader" "$1" 2>>"$build_log" 9>&- 3>&- | tr -d '\r'
}
printf '#include <stdio.h>\nint main(void) { puts("wine-ok"); return 0; }\n' >"$work/probe.c"
run "$TRIPLE-gcc" -static "$work/probe.c" -o "$work/probe.exe"
if [ ! -x "$loader" ]; then
  log "$loader not found; the test program was linked but not run"
elif [ "$ARCH" = i686 ] && [ "$QUILLBOX_WINE32" != native ]; then
  log "32-bit Wine runs $QUILLBOX_WINE32 here; the test program was linked but not run"
else
  wine_prefix=$(mktemp -d /tmp/quillbox-deps-wine.XXXXXX)
  WINEPREFIX=$wine_prefix make_wine_prefix "$loader" 9>&- 3>&- || true
  if [ "$(run_in_wine "$work/probe.exe" || true)" != wine-ok ]; then
    log "wine cannot run Windows programs here; the test program was linked but not run"
  else
    md5=$(run_in_wine "$work/check.exe") || die "the test program failed under wine"
    [ "$md5" = 900150983cd24fb0d6963f7d28e17f72 ] || die "the test program printed MD5 '$md5' under wine"
    log "test program ran under wine: MD5(\"abc\") = $md5"
  fi
  stop_wine
fi

# --- publish ---------------------------------------------------------------
# Stamp last, then swap the whole tree in: an interrupted build leaves either
# no prefix or an unstamped one, and both get rebuilt.
stamp_content >"$stage/$stamp_name"
rm -rf "$prefix"
mv "$stage" "$prefix"
log "done in $((SECONDS - start)) s: $prefix"
finish
