#!/usr/bin/env bash
# A release pipeline for an application packed by quillbox, as a CI job on a
# Linux runner runs it: fetch the packer's release archive, check it against
# its checksum, pack the application folder into a launcher, verify it, sign it
# with osslsigncode, check the signature, and put the signed launcher with its
# checksum into the folder the job publishes. docs/releasing.md shows the
# workflow around it; the project's test suite runs it with a throwaway
# certificate, so the recipe stays true.
#
#   release-ci.sh APP_DIR OUT_DIR/NAME.exe [quillbox-pack build options...]
#
# Writes OUT_DIR/NAME.exe (signed) and OUT_DIR/NAME.exe.sha256 (sha256sum -c
# reads it); on any failure it writes neither and exits non-zero.
#
# Environment:
#   QUILLBOX_RELEASE    where the packer's release files are: an http(s) URL of
#                       the release folder, or a local folder
#   QUILLBOX_VERSION    the packer's version (default 1.0.0)
#   QUILLBOX_SHA256     the archive's SHA-256 as pinned in the pipeline; without
#                       it the release folder must hold a SHA256SUMS that lists
#                       the archive
#   SIGN_PKCS12         the signing certificate and private key (PKCS#12 file)
#   SIGN_PASSWORD_FILE  a file holding the PKCS#12 password
#   SIGN_NAME           the description the signature carries (default: NAME)
#   SIGN_URL            a link the signature carries (optional)
#   SIGN_TIMESTAMP_URL  an RFC 3161 time-stamp server (optional; without one the
#                       signature is valid only while the certificate is)
#   SIGN_CAFILE         the CA certificates the signature must chain to
#                       (default: osslsigncode's, the system's)
set -euo pipefail

fail() {
  echo "release-ci: $*" >&2
  exit 1
}
step() { echo "== $*" >&2; }

[ $# -ge 2 ] || fail "usage: release-ci.sh APP_DIR OUT_DIR/NAME.exe [quillbox-pack build options...]"
app=$1
out=$2
shift 2
[ -d "$app" ] || fail "the application folder $app does not exist"
: "${QUILLBOX_RELEASE:?where the release files are: a URL or a folder}"
: "${SIGN_PKCS12:?the signing certificate and key, a PKCS#12 file}"
: "${SIGN_PASSWORD_FILE:?a file holding the PKCS#12 password}"
version=${QUILLBOX_VERSION:-1.0.0}
name=$(basename "$out")
archive=quillbox-$version-linux-x86_64.tar.gz

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fetched() { # file name in the release folder -> $work/name; fails quietly
  case $QUILLBOX_RELEASE in
    http://* | https://*) curl -fsSL --retry 3 -o "$work/$1" "${QUILLBOX_RELEASE%/}/$1" ;;
    *) [ -f "$QUILLBOX_RELEASE/$1" ] && cp "$QUILLBOX_RELEASE/$1" "$work/$1" ;;
  esac
}
fetch() { fetched "$1" || fail "cannot fetch $1 from $QUILLBOX_RELEASE"; }

step "fetching $archive"
fetch "$archive"

step "checking its checksum"
if [ -n "${QUILLBOX_SHA256:-}" ]; then
  printf '%s  %s\n' "$QUILLBOX_SHA256" "$archive" >"$work/pinned.sha256"
  (cd "$work" && sha256sum --check --strict pinned.sha256) || fail "$archive is not the archive pinned by QUILLBOX_SHA256"
else
  fetched SHA256SUMS || fail "nothing to check $archive against: pin QUILLBOX_SHA256, or fetch from a release that publishes SHA256SUMS"
  # --ignore-missing passes a list that names the archive nowhere: ask first.
  awk -v file="$archive" '$2 == file || $2 == "*" file { found = 1 } END { exit !found }' "$work/SHA256SUMS" ||
    fail "the release's SHA256SUMS does not list $archive"
  (cd "$work" && sha256sum --check --strict --ignore-missing SHA256SUMS) ||
    fail "$archive does not match the release's SHA256SUMS"
fi

step "packing $app"
tar -xzf "$work/$archive" -C "$work"
packer=$work/quillbox-$version-linux-x86_64/quillbox-pack
"$packer" build "$app" -o "$work/$name" "$@"

step "verifying $name"
"$packer" verify "$work/$name"

step "signing $name"
sign=(osslsigncode sign -pkcs12 "$SIGN_PKCS12" -readpass "$SIGN_PASSWORD_FILE" -n "${SIGN_NAME:-$name}" -h sha256)
[ -z "${SIGN_URL:-}" ] || sign+=(-i "$SIGN_URL")
[ -z "${SIGN_TIMESTAMP_URL:-}" ] || sign+=(-ts "$SIGN_TIMESTAMP_URL")
"${sign[@]}" -in "$work/$name" -out "$work/signed.exe" >/dev/null
check=(osslsigncode verify)
[ -z "${SIGN_CAFILE:-}" ] || check+=(-CAfile "$SIGN_CAFILE")
"${check[@]}" -in "$work/signed.exe" >"$work/signature.txt" 2>&1 || {
  cat "$work/signature.txt" >&2
  fail "the signature of $name does not verify"
}
# Signing appends to the image: the payload must still read whole.
"$packer" verify "$work/signed.exe" >/dev/null

step "publishing $out"
out_dir=$(dirname "$out")
mkdir -p "$out_dir"
printf '%s  %s\n' "$(sha256sum <"$work/signed.exe" | cut -d ' ' -f 1)" "$name" >"$work/$name.sha256"
cp "$work/$name.sha256" "$out.sha256.partial"
cp "$work/signed.exe" "$out.partial"
mv "$out.sha256.partial" "$out.sha256"
mv "$out.partial" "$out"
echo "release-ci: $out ($(stat -c %s "$out") bytes), signed; checksum in $out.sha256" >&2
