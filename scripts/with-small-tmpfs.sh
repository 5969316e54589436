#!/usr/bin/env bash
# Runs a command with ZX_SMALL_TMPFS naming an empty tmpfs of 512 KiB that only the
# command sees (a private mount namespace; as root, or as the mapped root of a user
# namespace). The full-disk tests fill it; without it they skip.
#   scripts/with-small-tmpfs.sh <command> [args...]
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  [ "$#" -ge 1 ] || { echo "usage: $0 <command> [args...]" >&2; exit 2; }
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --mount --propagation private -- "$0" --inside "$@"
  fi
  exec unshare --map-root-user --mount --propagation private -- "$0" --inside "$@"
fi
shift

dir=$(mktemp -d "${TMPDIR:-/tmp}/zx-small-tmpfs.XXXXXX")
mount -t tmpfs -o size=512k zx-small-tmpfs "$dir"
status=0
ZX_SMALL_TMPFS="$dir" "$@" || status=$?
umount "$dir"
rmdir "$dir"
exit "$status"
