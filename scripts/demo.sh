#!/usr/bin/env bash
# The first thing to run: builds zxcollect and the box simulator, then inside one
# private network namespace starts the simulated box 0 with its four modules, collects
# from it for a few seconds with the temperature module switched to 200 Hz, and shows
# the CSV files written below out/demo-<time>/ and a picture of them, plot.png beside them.
# With --live the run lasts a minute by default and its live page is open in the meantime
# at the address printed (http://127.0.0.1:8080/, ZX_LIVE_PORT picks another port).
#   scripts/demo.sh [--live] [seconds]   (ZX_BUILD_DIR picks the build folder, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
live=0
if [ "${1:-}" = --live ]; then
  live=1
  shift
fi
seconds=${1:-$([ "$live" = 1 ] && echo 60 || echo 5)}
build=${ZX_BUILD_DIR:-build}
port=${ZX_LIVE_PORT:-8080}

bash scripts/setup.sh --demo
if [ ! -f "$build/build.ninja" ]; then
  # Tests and benchmarks need packages the demo does not install (scripts/test.sh
  # installs them and switches both on in this folder).
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_BUILD_TESTS=OFF -DZX_BUILD_BENCH=OFF
fi
ninja -C "$build" zxcollect vci-sim

out="out/demo-$(date +%Y%m%d-%H%M%S)"
mkdir -p "$out"
echo "==> collecting for $seconds s from the simulated box into $out"
. scripts/live-relay.sh
if [ "$live" = 1 ]; then
  start_live_relay "$port" "$out/live.sock"
  trap stop_live_relay EXIT
  echo "==> live page: http://127.0.0.1:$port/ (open it in a browser; the run lasts $seconds s)"
fi

# Everything that talks to 192.168.201.x runs in here, and nothing sent in here can
# leave the machine.
scripts/netns-run.sh bash -c '
  set -euo pipefail
  build=$1 out=$2 seconds=$3 live=$4 port=$5
  . scripts/simulator.sh
  . scripts/live-relay.sh
  trap "stop_simulator; kill \$(jobs -p) 2>/dev/null || true" EXIT
  start_simulator "$build/tools/vci-sim/vci-sim" "$out/vci-sim.txt"
  live_options=()
  if [ "$live" = 1 ]; then
    live_relay_inside "$port" "$out/live.sock"
    live_options=(--live "$port")
  fi
  "$build/tools/zxcollect/zxcollect" --device 0 --channel 0:canfd:500000:2000000 \
    --frequency 0x101:200 --save "$out/csv" --duration "$seconds" --log "$out/zxcollector.log" \
    "${live_options[@]}"
' demo "$build" "$out" "$seconds" "$live" "$port"

echo
echo "==> CSV files written below $out/csv"
mapfile -t files < <(find "$out/csv" -name "*.csv" | sort)
if [ "${#files[@]}" -eq 0 ]; then
  echo "demo: no CSV file was written" >&2
  exit 1
fi
for f in "${files[@]}"; do
  printf '  %s  (%s lines)\n' "$f" "$(wc -l <"$f")"
done
echo
echo "==> first lines of ${files[0]}"
head -n 5 "${files[0]}"

echo
echo "==> picture of what was collected"
# The tree's Python package (python/) with Debian's python3, numpy and matplotlib,
# whatever python3 comes first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
PYTHONPATH=python${PYTHONPATH:+:$PYTHONPATH} "$python" -m zxcollector plot "$out/csv" -o "$out/csv/plot.png"
