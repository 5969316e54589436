#!/usr/bin/env bash
# The Windows zxcollect.exe publishes to an MQTT broker: under wine inside the private
# namespace, against Linux's vci-sim (--unique-values, a fixed frame count) and mosquitto on
# 127.0.0.1, the Temperature summaries' counts add up to the records zxcollect.exe read of it
# and the final status says "stopped". Needs the Linux build (build/) for vci-sim and the
# Windows build (build-win/, scripts/build-windows.sh) for zxcollect.exe.
#   [ZX_WIN_ARCH=i686] scripts/check-mqtt-windows.sh [BUILD_WIN_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build-win}" && pwd)
exec "$repo/scripts/netns-run.sh" bash -c '
  set -euo pipefail
  repo=$1 build=$2
  . "$repo/scripts/wine-env.sh" "$build"
  work=$(mktemp -d)
  chmod 755 "$work"
  pids=()
  trap "kill \${pids[*]} 2>/dev/null || true; rm -rf $work" EXIT
  printf "listener 18899 127.0.0.1\nallow_anonymous true\n" >"$work/broker.conf"
  mosquitto -c "$work/broker.conf" >"$work/broker.txt" 2>&1 & pids+=($!)
  "$repo/build/tools/vci-sim/vci-sim" --unique-values --rate 2000 --rate-count 6000 >"$work/sim.txt" 2>&1 & pids+=($!)
  for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/18899) 2>/dev/null && break; sleep 0.1; done
  mosquitto_sub -h 127.0.0.1 -p 18899 -t "win/#" -v >"$work/sub.txt" & pids+=($!)
  sleep 0.5
  timeout 120 "$repo/scripts/wine-loader.sh" "$build/tools/zxcollect/zxcollect.exe" --duration 6 \
    --mqtt 127.0.0.1:18899 --mqtt-topic win >"$work/zx.txt" 2>&1
  sleep 1
  python3 - "$work" <<"PY"
import json, re, sys
work = sys.argv[1]
out = open(f"{work}/zx.txt").read()
read = int(re.search(r"0x101 Temperature: (\d+)", out).group(1))
counts, status = 0, ""
for line in open(f"{work}/sub.txt"):
    topic, _, text = line.rstrip("\n").partition(" ")
    if topic == "win/dev0/can0/Temperature":
        counts += json.loads(text)["count"]
    elif topic == "win/status":
        status = text
state = json.loads(status)["state"] if status.startswith("{") else status
print(f"zxcollect.exe read {read} Temperature records; summaries count {counts}; final status {state}")
ok = counts == read > 0 and state == "stopped"
print("PASS" if ok else "FAILED")
sys.exit(0 if ok else 1)
PY
' check-mqtt-windows "$repo" "$build"
