#!/usr/bin/env bash
# Runs a command inside a fresh private network namespace whose only interface is lo,
# carrying the host addresses 192.168.201.1 and .2 and the box addresses .130 to .145.
# Nothing sent in there can leave the machine. Refuses to run the command when any
# other interface is present.
#   scripts/netns-run.sh <command> [args...]
set -euo pipefail

if [ "${1:-}" != "--inside" ]; then
  [ "$#" -ge 1 ] || { echo "usage: $0 <command> [args...]" >&2; exit 2; }
  if [ "$(id -u)" -eq 0 ]; then
    exec unshare --net -- "$0" --inside "$@"
  fi
  exec unshare --map-root-user --net -- "$0" --inside "$@"
fi
shift

ip link set lo up
for host in 1 2; do
  ip addr add "192.168.201.$host/32" dev lo
done
for box in $(seq 130 145); do
  ip addr add "192.168.201.$box/32" dev lo
done

links=$(ip -o link | awk -F': ' '{print $2}' | sed 's/@.*//' | sort -u | tr '\n' ' ')
if [ "$links" != "lo " ]; then
  echo "netns-run: refusing to run, interfaces besides lo: $links" >&2
  exit 1
fi
exec "$@"
