#!/usr/bin/env bash
# The first thing to run: builds zxcollect and the box simulator, then inside one
# private network namespace starts the simulated box 0 with its four modules, collects
# from it for a few seconds with the temperature module switched to 200 Hz, and shows
# the CSV files written below out/demo-<time>/ and a picture of them, plot.png beside them.
#   scripts/demo.sh [seconds]        (ZX_BUILD_DIR picks the build folder, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
build=${ZX_BUILD_DIR:-build}

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

# Everything that talks to 192.168.201.x runs in here, and nothing sent in here can
# leave the machine.
scripts/netns-run.sh bash -c '
  set -euo pipefail
  build=$1 out=$2 seconds=$3
  . scripts/simulator.sh
  trap stop_simulator EXIT
  start_simulator "$build/tools/vci-sim/vci-sim" "$out/vci-sim.txt"
  "$build/tools/zxcollect/zxcollect" --device 0 --channel 0:canfd:500000:2000000 \
    --frequency 0x101:200 --save "$out/csv" --duration "$seconds" --log "$out/zxcollector.log"
' demo "$build" "$out" "$seconds"

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
# Debian's python3 (with python3-matplotlib), whatever python3 comes first on PATH.
python=/usr/bin/python3
[ -x "$python" ] || python=python3
"$python" scripts/plot.py "$out/csv" -o "$out/csv/plot.png"
