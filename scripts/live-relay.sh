# shellcheck shell=bash
# Sourced by the demos for --live. zxcollect's page listens inside the private network
# namespace, which the host's browser cannot reach; socat relays 127.0.0.1:<port> on the
# host through a Unix socket (a file, seen from both sides) to the same port inside. Only
# the page's TCP stream crosses; nothing sent to 192.168.201.x leaves the namespace.
#   start_live_relay <port> <socket>   on the host, before scripts/netns-run.sh
#   live_relay_inside <port> <socket>  inside the namespace, before zxcollect
#   stop_live_relay                    on the host, at the end
live_relay_pid=
start_live_relay() {
  local port=$1 socket=$2
  command -v socat >/dev/null || { echo "$(basename "$0" .sh): --live needs socat (scripts/setup.sh)" >&2; return 1; }
  socat "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr,fork" "UNIX-CONNECT:$socket" &
  live_relay_pid=$!
}
live_relay_inside() {
  local port=$1 socket=$2
  socat "UNIX-LISTEN:$socket,fork,unlink-early" "TCP:127.0.0.1:$port" &
}
stop_live_relay() {
  [ -n "$live_relay_pid" ] || return 0
  kill "$live_relay_pid" 2>/dev/null || true
  wait "$live_relay_pid" 2>/dev/null || true
  live_relay_pid=
}
