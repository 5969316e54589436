#!/usr/bin/env bash
# The CPU that zxcollect's live page costs with one browser open: the same run with and
# without --live, each timed (user + system seconds of zxcollect), with headless chromium
# showing the page during the --live run (the browser's own CPU is not counted). Two loads:
# one channel at 1,000,000 frames/s (vci-sim --rate, the same 4,000,000 frames in both runs
# so that both read as much) and the full plan (16 boxes x 8 channels) at the modules'
# default rates.
#   bench/live-cpu.sh [seconds (20)]      (ZX_BUILD_DIR picks the build folder, default build)
# Runs everything inside scripts/netns-run.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${ZX_BUILD_DIR:-build}
ninja -C "$build" zxcollect vci-sim >/dev/null

scripts/netns-run.sh bash -c '
  set -euo pipefail
  build=$1 seconds=$2
  work=$(mktemp -d)
  . scripts/simulator.sh
  browser_pid=
  cleanup() { stop_simulator; [ -z "$browser_pid" ] || kill "$browser_pid" 2>/dev/null; rm -rf "$work"; }
  trap cleanup EXIT
  port=18090
  # measure <label> <live: 0|1> <zxcollect options...>: prints CPU seconds and records read.
  measure() {
    local label=$1 live=$2
    shift 2
    local options=("$@")
    if [ "$live" = 1 ]; then
      options+=(--live "$port")
      # The browser opens the page once zxcollect serves it.
      ( for _ in $(seq 100); do
          if (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then break; fi
          sleep 0.1
        done
        exec chromium --headless --no-sandbox --disable-gpu --disable-dev-shm-usage \
          --disable-background-networking --disable-component-update --disable-sync --no-first-run \
          --remote-debugging-port=0 --user-data-dir="$work/profile-$label" "http://127.0.0.1:$port/" \
          >/dev/null 2>&1 ) &
      browser_pid=$!
    fi
    TIMEFORMAT="%U %S"
    { time "$build/tools/zxcollect/zxcollect" "${options[@]}" --duration "$seconds" >"$work/out.txt" 2>&1; } \
      2>"$work/time.txt"
    if [ -n "$browser_pid" ]; then
      pkill -P "$browser_pid" 2>/dev/null || true
      kill "$browser_pid" 2>/dev/null || true
      wait "$browser_pid" 2>/dev/null || true
      browser_pid=
    fi
    read -r user system <"$work/time.txt"
    records=$(sed -n "s/^Records read: //p" "$work/out.txt")
    awk -v l="$label" -v u="$user" -v s="$system" -v d="$seconds" -v r="$records" \
      "BEGIN { printf \"%-34s %6.2f s CPU over %d s = %5.1f%% of a core, %d records read\\n\", l, u + s, d, 100 * (u + s) / d, r }"
  }

  echo "== one channel at 1,000,000 frames/s"
  start_simulator "$build/tools/vci-sim/vci-sim" "$work/sim.txt" --rate 1000000 --rate-count 4000000
  measure "without --live" 0
  measure "with --live and one browser" 1
  stop_simulator

  echo "== full plan: 16 boxes x 8 channels at default rates"
  start_simulator "$build/tools/vci-sim/vci-sim" "$work/sim.txt" --devices "$(seq -s, 0 15)"
  plan=(--device 0-15)
  for channel in 0 1 2 3 4 5 6 7; do plan+=(--channel "$channel:canfd:500000:2000000"); done
  measure "without --live" 0 "${plan[@]}"
  measure "with --live and one browser" 1 "${plan[@]}"
' live-cpu "$build" "$seconds"
