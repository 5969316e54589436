#!/usr/bin/env bash
# The CPU that zxcollect --mqtt costs on the full plan (16 boxes x 8 channels at the
# modules' default rates): the same run without --mqtt, with --mqtt (summaries every
# second) and with --mqtt --mqtt-records, each timed (user + system seconds of zxcollect),
# against Debian's mosquitto on 127.0.0.1 with one mosquitto_sub taking everything. Also
# prints the broker's CPU and what the subscriber received (messages, bytes).
#   bench/mqtt-cpu.sh [seconds (20)]      (ZX_BUILD_DIR picks the build folder, default build)
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
  chmod 755 "$work"
  . scripts/simulator.sh
  broker_pid=
  cleanup() { stop_simulator; [ -z "$broker_pid" ] || kill "$broker_pid" 2>/dev/null; rm -rf "$work"; }
  trap cleanup EXIT
  port=18883
  printf "listener %s 127.0.0.1\nallow_anonymous true\n" "$port" >"$work/broker.conf"
  mosquitto -c "$work/broker.conf" >"$work/broker.txt" 2>&1 &
  broker_pid=$!
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.1; done
  broker_cpu() { awk "{ print (\$14 + \$15) / $(getconf CLK_TCK) }" "/proc/$broker_pid/stat"; }
  # measure <label> <zxcollect options...>: prints CPU seconds, records read and what arrived.
  measure() {
    local label=$1
    shift
    mosquitto_sub -h 127.0.0.1 -p "$port" -t "bench/#" -F "%l" >"$work/sub.txt" &
    local sub_pid=$!
    sleep 0.5
    local before
    before=$(broker_cpu)
    TIMEFORMAT="%U %S"
    { time "$build/tools/zxcollect/zxcollect" "${plan[@]}" "$@" --duration "$seconds" >"$work/out.txt" 2>&1; } \
      2>"$work/time.txt"
    sleep 1
    kill "$sub_pid"
    wait "$sub_pid" 2>/dev/null || true
    local broker
    broker=$(awk -v a="$before" -v b="$(broker_cpu)" "BEGIN { print b - a }")
    read -r user system <"$work/time.txt"
    records=$(sed -n "s/^Records read: //p" "$work/out.txt")
    messages=$(wc -l <"$work/sub.txt")
    bytes=$(awk "{ s += \$1 } END { print s + 0 }" "$work/sub.txt")
    awk -v l="$label" -v u="$user" -v s="$system" -v d="$seconds" -v r="$records" -v b="$broker" \
      -v m="$messages" -v y="$bytes" \
      "BEGIN { printf \"%-26s %5.1f%% of a core, %d records read; broker %5.1f%%, %d messages %.1f MB received\\n\", l, 100 * (u + s) / d, r, 100 * b / d, m, y / 1e6 }"
  }

  start_simulator "$build/tools/vci-sim/vci-sim" "$work/sim.txt" --devices "$(seq -s, 0 15)"
  plan=(--device 0-15)
  for channel in 0 1 2 3 4 5 6 7; do plan+=(--channel "$channel:canfd:500000:2000000"); done
  echo "== full plan: 16 boxes x 8 channels at default rates, $seconds s"
  measure "without --mqtt"
  measure "--mqtt" --mqtt "127.0.0.1:$port" --mqtt-topic bench
  measure "--mqtt --mqtt-records" --mqtt "127.0.0.1:$port" --mqtt-topic bench --mqtt-records
' mqtt-cpu "$build" "$seconds"
