# Sourced by the scripts that run Windows programs: a Wine prefix of the
# project's own, quiet, created once and reused.
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-${QUILLBOX_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}/wineprefix}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX (once; takes a few seconds)" >&2
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait || true
fi
