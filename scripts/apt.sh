# Sourced by the scripts that call apt: one way to update and install that
# survives a mirror caught mid-sync.
#
# A mirror mid-sync serves one index that fails its checksum (seen for days on
# the i386 security index). apt then ignores that index, so an amd64 package
# comes from the security suite while its i386 twin exists only at the main
# suite's version, and the install ends in "held broken packages".

# The release's main suite (bookworm), for -t.
apt_main_suite() {
  . /etc/os-release 2>/dev/null
  printf '%s' "${VERSION_CODENAME:-bookworm}"
}

# apt-get update, tried a few times with a short pause; a last failure is
# reported and the lists it could read are used.
apt_update() {
  local try
  for try in 1 2 3; do
    apt-get update -q && return 0
    [ "$try" -lt 3 ] && { echo "apt-get update failed (try $try of 3); retrying in 5 s" >&2; sleep 5; }
  done
  echo "apt-get update still reports errors; installing from the lists it could read" >&2
}

# apt-get install PACKAGES…; where versions do not match (a stale index), once
# more with the main suite as target release; a last failure names the
# packages and what to do.
apt_install() {
  local opts=(-y -q --no-install-recommends --no-remove)
  DEBIAN_FRONTEND=noninteractive apt-get install "${opts[@]}" "$@" && return 0
  local suite
  suite=$(apt_main_suite)
  echo "apt-get install failed; installing again with the target release set to $suite (a mirror mid-sync mismatches versions)" >&2
  DEBIAN_FRONTEND=noninteractive apt-get install "${opts[@]}" -t "$suite" "$@" && return 0
  echo "error: could not install: $*" >&2
  echo "  Run 'apt-get update' once the mirror has synced (or point /etc/apt/sources.list.d at a healthy mirror), then run scripts/install-deps.sh again." >&2
  return 1
}
