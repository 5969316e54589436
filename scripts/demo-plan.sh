#!/usr/bin/env bash
# The whole address plan on one host: 16 simulated boxes (devices 0..15) with 8 CAN FD
# channels each, every channel saving the four default module identifiers, for a few
# seconds. Prints the figures of the run: time to open the boxes and initialise the
# channels, resident memory and threads before and after saving starts, records read
# and samples saved, the time to stop saving and close everything, and CPU time.
# With --live the run lasts a minute by default and its live page is open in the meantime
# at the address printed (http://127.0.0.1:8080/, ZX_LIVE_PORT picks another port).
#   scripts/demo-plan.sh [--live] [seconds]
#                                    (ZX_BUILD_DIR picks the build folder, default build;
#                                     ZX_PLAN_DEVICES the boxes, default 0-15)
# Everything that talks to 192.168.201.x runs inside scripts/netns-run.sh. The CSV files
# are written below a temporary folder that is removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
live=0
if [ "${1:-}" = --live ]; then
  live=1
  shift
fi
seconds=${1:-$([ "$live" = 1 ] && echo 60 || echo 5)}
port=${ZX_LIVE_PORT:-8080}
build=${ZX_BUILD_DIR:-build}
devices=${ZX_PLAN_DEVICES:-0-15}

bash scripts/setup.sh --demo
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_BUILD_TESTS=OFF -DZX_BUILD_BENCH=OFF
fi
ninja -C "$build" zxcollect vci-sim >/dev/null

work=$(mktemp -d)
. scripts/live-relay.sh
trap 'stop_live_relay; rm -rf "$work"' EXIT
# vci-sim wants the boxes as a list.
first=${devices%-*} last=${devices#*-}
sim_devices=$(seq -s, "$first" "$last")
channels=()
for channel in 0 1 2 3 4 5 6 7; do
  channels+=(--channel "$channel:canfd:500000:2000000")
done
echo "==> boxes $devices x 8 CAN FD channels, saving 4 identifiers each, for $seconds s"
if [ "$live" = 1 ]; then
  start_live_relay "$port" "$work/live.sock"
  echo "==> live page: http://127.0.0.1:$port/ (open it in a browser; the run lasts $seconds s)"
  channels+=(--live "$port")
fi

scripts/netns-run.sh bash -c '
  set -euo pipefail
  build=$1 work=$2 seconds=$3 sim_devices=$4 devices=$5 live=$6 port=$7
  shift 7
  . scripts/simulator.sh
  . scripts/live-relay.sh
  trap "stop_simulator; kill \$(jobs -p) 2>/dev/null || true" EXIT
  [ "$live" = 0 ] || live_relay_inside "$port" "$work/live.sock"
  start_simulator "$build/tools/vci-sim/vci-sim" "$work/vci-sim.txt" --devices "$sim_devices"
  TIMEFORMAT="CPU of zxcollect: %U s user, %S s system over %R s"
  status=0
  { time "$build/tools/zxcollect/zxcollect" --device "$devices" "$@" --save "$work/csv" \
      --duration "$seconds" --log "$work/zxcollector.log" >"$work/zxcollect.txt" 2>"$work/errors.txt"; } \
    2>"$work/time.txt" || status=$?
  cat "$work/errors.txt" >&2
  exit $status
' demo-plan "$build" "$work" "$seconds" "$sim_devices" "$devices" "$live" "$port" "${channels[@]}" || {
  echo "demo-plan: zxcollect failed" >&2
  tail -n 30 "$work/zxcollect.txt" >&2 || true
  exit 1
}

out=$work/zxcollect.txt
cp "$out" /tmp/zx-demo-plan-last.txt 2>/dev/null || true
grep -E '^(Opened|Before saving|After starting saving|Stopped saving)' "$out"
grep -E ' rec/s ' "$out" | tail -n 1 | sed 's/^/last progress line: /' || true
grep -E '^(Summary after|Records read|Samples saved|CSV files written|Failures)' "$out"
grep -E "^  DEV[0-9]+ total" "$out" | head -n 2 || true
cat "$work/time.txt"
