#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command of the project's on a fresh Debian root, as a new user of that release would meet
# it: makes the root with mmdebstrap from the archive this machine installs from, clones the commit
# that is checked out here into it, and runs the command there. Needs root.
#   tools/fresh-debian.sh [--include PKG,...] SUITE [COMMAND]
#     SUITE     trixie (Debian 13) or bookworm (Debian 12)
#     COMMAND   run in the clone; ./run-tests unless given
#     --include packages put into the root when it is made (what a measurement needs beside the
#               project's own set-up)
# The root is made anew on every run and removed afterwards; /proc, /sys and /dev are mounted into
# it for the run and unmounted whatever happens.
set -euo pipefail
cd "$(dirname "$0")/.."
include=git,ca-certificates
if [ "${1:-}" = "--include" ]; then
  include+=",$2"
  shift 2
fi
suite=${1:?usage: $0 [--include PKG,...] SUITE [COMMAND]}
command=${2:-./run-tests}

# The archive: the first Debian URI this machine's apt uses.
mirror=$(grep -hoE '^(URIs:|deb) +[^ ]*debian/?( |$)' /etc/apt/sources.list.d/*.sources /etc/apt/sources.list \
  2>/dev/null | head -n 1 | awk '{print $2}' || true)
mirror=${mirror:-http://deb.debian.org/debian}

command -v mmdebstrap >/dev/null || {
  DEBIAN_FRONTEND=noninteractive apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends mmdebstrap >/dev/null
}

root=$(mktemp -d "/var/tmp/ombura-$suite.XXXXXX")
mounted=()
cleanup() {
  local status=$?
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount -R "${mounted[$i]}" 2>/dev/null || umount -R -l "${mounted[$i]}" || true
  done
  # Only once nothing is mounted in it any more: never remove through a live /dev or /sys.
  if ! grep -q " $root/" /proc/mounts; then rm -rf "$root"; fi
  exit $status
}
trap cleanup EXIT INT TERM

start=$SECONDS
mmdebstrap --quiet --variant=apt --include="$include" "$suite" "$root" "$mirror"
echo "$suite: root made in $((SECONDS - start)) s from $mirror"
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true

mount -t proc proc "$root/proc" && mounted+=("$root/proc")
mount --rbind /sys "$root/sys" && mount --make-rslave "$root/sys" && mounted+=("$root/sys")
mount --rbind /dev "$root/dev" && mount --make-rslave "$root/dev" && mounted+=("$root/dev")

git clone --quiet --no-local "$PWD" "$root/ombura"
git -C "$root/ombura" checkout --quiet --detach "$(git rev-parse HEAD)"

chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI="${CI:-}" \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
  bash -c 'cd /ombura && '"$command"
echo "$suite: '$command' passed, $((SECONDS - start)) s in all"
