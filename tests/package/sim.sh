# Sourced by the package checks: starts the Linux box simulator (inside the private
# namespace only) and ends it when the script exits.
#   start_simulator <vci-sim> <work folder>
skip=77
in_private_network() {
  local links addresses
  links=$(ip -o link 2>/dev/null | awk -F': ' '{print $2}' | sed 's/@.*//' | sort -u | tr '\n' ' ')
  addresses=$(ip -o -4 addr show dev lo 2>/dev/null)
  [ "$links" = "lo " ] && grep -q ' 192\.168\.201\.130/' <<<"$addresses"
}
sim_pid=
stop_simulator() {
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
    sim_pid=
  fi
}
start_simulator() {
  in_private_network || { echo "skipped: not inside a private network namespace (run through scripts/netns-run.sh)"; exit $skip; }
  "$1" >"$2/sim.out" 2>&1 &
  sim_pid=$!
  local deadline=$((SECONDS + 10))
  until grep -q '^vci-sim ready' "$2/sim.out"; do
    if ! kill -0 "$sim_pid" 2>/dev/null || [ "$SECONDS" -ge "$deadline" ]; then
      cat "$2/sim.out"
      echo "FAIL: the simulator did not start"
      exit 1
    fi
    sleep 0.1
  done
}
