# Sourced by the scripts that build for or run Windows programs: the one place
# that probes Wine. Sets QUILLBOX_WINE_ARCH and QUILLBOX_WINE_LOADER: 32-bit Wine
# where this kernel runs 32-bit programs, else wine64 (which then runs the x86_64
# build of the same sources). Unless sourced with --no-prefix, it also makes the
# project's own quiet Wine prefix, created once and reused.
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-${QUILLBOX_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}/wineprefix}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
# A kernel without 32-bit support refuses the 32-bit loader at once ("Exec format error").
if timeout 20 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  QUILLBOX_WINE_ARCH=i686 QUILLBOX_WINE_LOADER=/usr/lib/wine/wine
else
  QUILLBOX_WINE_ARCH=x86_64 QUILLBOX_WINE_LOADER=/usr/lib/wine/wine64
fi
if [ "${1:-}" != --no-prefix ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX (once; takes a few seconds)" >&2
  mkdir -p "$WINEPREFIX"
  timeout 300 "$QUILLBOX_WINE_LOADER" wineboot --init </dev/null >/dev/null 2>&1 || true
  timeout 60 wineserver --wait || true
fi
