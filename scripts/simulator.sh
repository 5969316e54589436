# shellcheck shell=bash
# Sourced by the scripts that run the box simulator, inside scripts/netns-run.sh only.
#   start_simulator <vci-sim> <output file> [vci-sim arguments...]
# starts it in the background (its process id in simulator_pid) and returns once it printed
# "vci-sim ready", or fails with its output when it did not within ten seconds;
# stop_simulator ends it with SIGTERM (it then prints its figures) and waits for it.
simulator_pid=
start_simulator() {
  local program=$1 output=$2
  shift 2
  "$program" "$@" >"$output" 2>&1 &
  simulator_pid=$!
  for _ in $(seq 100); do
    grep -qx "vci-sim ready" "$output" && return 0
    kill -0 "$simulator_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -qx "vci-sim ready" "$output" && return 0
  echo "$(basename "$0" .sh): the simulator did not start:" >&2
  cat "$output" >&2
  return 1
}
stop_simulator() {
  [ -n "$simulator_pid" ] || return 0
  kill -TERM "$simulator_pid" 2>/dev/null || true
  wait "$simulator_pid" 2>/dev/null || true
  simulator_pid=
}
