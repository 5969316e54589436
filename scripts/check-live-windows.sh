#!/usr/bin/env bash
# The Windows zxcollect.exe serves its live page: under wine inside the private namespace,
# against Linux's vci-sim, the page, its embedded chart library and its event stream are
# fetched from the Linux side while it collects (data ticks arrive), and a path outside
# the page is refused. Needs the Linux build (build/) for vci-sim and the Windows build
# (build-win/, scripts/build-windows.sh) for zxcollect.exe.
#   scripts/check-live-windows.sh [BUILD_WIN_DIR]
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$repo/build-win}" && pwd)
exec "$repo/scripts/netns-run.sh" bash -c '
  set -euo pipefail
  repo=$1 build=$2
  . "$repo/scripts/wine-env.sh" "$build"
  work=$(mktemp -d)
  chmod 755 "$work"
  . "$repo/scripts/simulator.sh"
  zx_pid=
  trap "stop_simulator; [ -z \"\$zx_pid\" ] || kill \$zx_pid 2>/dev/null; rm -rf $work" EXIT
  start_simulator "$repo/build/tools/vci-sim/vci-sim" "$work/sim.txt"
  port=18091
  timeout 180 "$repo/scripts/wine-loader.sh" "$build/tools/zxcollect/zxcollect.exe" --duration 20 \
    --live "127.0.0.1:$port" >"$work/zx.txt" 2>&1 &
  zx_pid=$!
  /usr/bin/python3 - "$port" "$work/zx.txt" <<"PY"
import sys, time, urllib.error, urllib.request
port, output = sys.argv[1], sys.argv[2]
base = f"http://127.0.0.1:{port}"
deadline = time.monotonic() + 120  # wine starts slowly on a busy machine
while "Live page:" not in open(output, errors="replace").read():
    if time.monotonic() > deadline:
        sys.exit("FAILED: zxcollect.exe printed no live page address:\n" + open(output, errors="replace").read())
    time.sleep(0.2)
def get(path):
    try:
        with urllib.request.urlopen(base + path, timeout=10) as reply:
            return reply.status, reply.read()
    except urllib.error.HTTPError as error:
        return error.code, b""
status, page = get("/")
assert status == 200 and b"uPlot" in page, f"the page: {status}"
status, chart = get("/uPlot.iife.min.js")
assert status == 200 and len(chart) > 10000, f"the chart library: {status}, {len(chart)} bytes"
status, _ = get("/../../etc/passwd")
assert status == 404, f"a path outside the page: {status}"
ticks, meta = 0, False
with urllib.request.urlopen(base + "/events", timeout=10) as stream:
    end = time.monotonic() + 8
    while time.monotonic() < end and ticks < 3:
        line = stream.readline().decode()
        meta = meta or line.startswith("event: meta")
        ticks += line.startswith("event: tick")
assert meta and ticks >= 3, f"the event stream: meta {meta}, {ticks} ticks"
print(f"zxcollect.exe --live: page {len(page)} bytes, chart library {len(chart)} bytes, traversal 404, {ticks} data ticks")
print("PASS")
PY
' check-live-windows "$repo" "$build"
