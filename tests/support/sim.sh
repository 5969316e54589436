# Sourced by the script tests: the private-namespace guard, the Linux box simulator
# (started inside the namespace only, ended by stop_simulator, which the caller's exit
# trap runs) and small helpers.
#   require_private_network; start_simulator <vci-sim> <output file> || fail ...; stop_simulator
skip=77
require_private_network() {
  local links addresses # read whole: grep -q ending a pipe early fails it under pipefail
  links=$(ip -o link 2>/dev/null | awk -F': ' '{print $2}' | sed 's/@.*//' | sort -u | tr '\n' ' ')
  addresses=$(ip -o -4 addr show dev lo 2>/dev/null)
  if [ "$links" != "lo " ] || ! grep -q ' 192\.168\.201\.130/' <<<"$addresses"; then
    echo "skipped: not inside a private network namespace (run through scripts/netns-run.sh)"
    exit $skip
  fi
}
# start_simulator <vci-sim> <output file> and stop_simulator, shared with the scripts.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/simulator.sh"
# A path as wine's Z: drive shows it.
windows_path() { echo "Z:${1//\//\\}"; }
fail() { echo "FAIL: $*"; exit 1; }
# quiet <name> <command...>: output kept in $work/<name>.out, shown only when it fails.
quiet() {
  local name=$1
  shift
  "$@" >"$work/$name.out" 2>&1 || { cat "$work/$name.out"; fail "$name"; }
}
