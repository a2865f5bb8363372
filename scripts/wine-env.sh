# Sourced by the scripts that build for or run Windows programs: the one place
# that probes Wine. Sets QUILLBOX_WINE32 (native, emulated or none),
# QUILLBOX_WINE_ARCH and QUILLBOX_WINE_LOADER: 32-bit Wine where this kernel runs
# 32-bit programs itself, else wine64 (which then runs the x86_64 build of the
# same sources). Unless sourced with --no-prefix, it also makes the
# project's own quiet Wine prefix, created once and reused.
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-${QUILLBOX_BUILD_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}/wineprefix}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
# 32-bit Wine runs natively, emulated (qemu-i386 registered with binfmt_misc by
# install-deps.sh: minutes per start) or not at all. Only native 32-bit Wine runs
# the broad end-to-end suites; emulated, they run the x86_64 build under wine64,
# and only the e2e_i686 test runs the shipped 32-bit launcher.
qemu_i386_registered() {
  local entry
  for entry in /proc/sys/fs/binfmt_misc/*; do
    [ "$(head -n 1 "$entry" 2>/dev/null)" = enabled ] && grep -qs '^interpreter .*qemu-i386' "$entry" && return 0
  done
  return 1
}
if ! timeout 300 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  QUILLBOX_WINE32=none  # "Exec format error": nothing runs 32-bit programs here
elif qemu_i386_registered; then
  QUILLBOX_WINE32=emulated
else
  QUILLBOX_WINE32=native
fi
# QUILLBOX_WINE_ARCH=x86_64 set beforehand picks wine64 and the x86_64 build
# all the same (to compare the two builds on one machine).
if [ "$QUILLBOX_WINE32" = native ] && [ "${QUILLBOX_WINE_ARCH:-}" != x86_64 ]; then
  QUILLBOX_WINE_ARCH=i686 QUILLBOX_WINE_LOADER=/usr/lib/wine/wine
else
  QUILLBOX_WINE_ARCH=x86_64 QUILLBOX_WINE_LOADER=/usr/lib/wine/wine64
fi
export QUILLBOX_WINE32 QUILLBOX_WINE_ARCH QUILLBOX_WINE_LOADER
# Where 32-bit Wine is emulated, a prefix for wine64 only ever runs x86_64
# programs (the shipped i686 launcher has a prefix of its own), yet wineboot
# would set up its 32-bit half under emulation for minutes. There it runs with
# the 32-bit loader hidden in a mount namespace of its own: a 64-bit-only prefix.
make_wine_prefix() { # loader; makes $WINEPREFIX
  local boot=(timeout 1200 "$1" wineboot --init)
  if [ "$QUILLBOX_WINE32" = emulated ] && [ "$1" = /usr/lib/wine/wine64 ]; then
    local ns=(unshare --mount --propagation private)
    [ "$(id -u)" -eq 0 ] || ns=(unshare --user --map-root-user --mount)
    if "${ns[@]}" true 2>/dev/null; then
      "${ns[@]}" sh -c 'mount --bind /bin/false /usr/lib/wine/wine && exec "$@"' sh "${boot[@]}" </dev/null >/dev/null 2>&1
      return
    fi
    echo "note: no mount namespace here; the prefix's 32-bit half is set up too, emulated" >&2
  fi
  "${boot[@]}" </dev/null >/dev/null 2>&1
}
if [ "${1:-}" != --no-prefix ] && [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX (once; seconds)" >&2
  mkdir -p "$WINEPREFIX"
  make_wine_prefix "$QUILLBOX_WINE_LOADER" || true
  timeout 60 wineserver --wait || true
fi
