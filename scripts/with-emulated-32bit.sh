#!/usr/bin/env bash
# Runs a command as on a kernel without 32-bit support, where qemu-i386 runs
# every 32-bit program (32-bit Wine too): a user namespace with a binfmt_misc
# of its own (Linux 6.7 or later), leaving the machine's own untouched. For
# measuring the emulated case on a machine that runs 32-bit programs itself:
#   scripts/with-emulated-32bit.sh scripts/run-sample.sh
set -euo pipefail
ENTRY=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386:F'
# apt cannot switch to its sandbox user in the namespace: it downloads as root.
apt_config=$(mktemp)
trap 'rm -f "$apt_config"' EXIT
printf 'APT::Sandbox::User "root";\n' >"$apt_config"
APT_CONFIG=$apt_config unshare --user --map-root-user --mount bash -c '
mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc || exit 1
printf "%s" "$0" > /proc/sys/fs/binfmt_misc/register || exit 1
exec "$@"' "$ENTRY" "$@"
