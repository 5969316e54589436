#!/usr/bin/env bash
# End to end under wine: the Windows host program loads the DLL, reads box 0 of the
# Linux box simulator and saves CSV files; a second run unloads the DLL with the device
# still open and saving. The Windows files must have the Linux build's format byte for
# byte: same header line, LF endings only, same file and line shapes as the C host of the
# Linux build writes against the same simulator. Runs only inside scripts/netns-run.sh.
#   win-host-check.sh <win-host.exe> <zxcollector_api.dll> <linux build folder>
set -uo pipefail
win_host=$1 dll=$2 linux_build=$3
skip=77

links=$(ip -o link 2>/dev/null | awk -F': ' '{print $2}' | sed 's/@.*//' | sort -u | tr '\n' ' ')
addresses=$(ip -o -4 addr show dev lo 2>/dev/null)
if [ "$links" != "lo " ] || ! grep -q ' 192\.168\.201\.130/' <<<"$addresses"; then
  echo "skipped: not inside a private network namespace (run through scripts/netns-run.sh)"
  exit $skip
fi
sim=$linux_build/tools/vci-sim/vci-sim
c_host=$linux_build/examples/c-host/c_host
if [ ! -x "$sim" ]; then
  echo "skipped: no Linux box simulator at $sim (build the Linux tree first)"
  exit $skip
fi

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill -TERM "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
windows_path() { echo "Z:${1//\//\\}"; }
fail() { echo "FAIL: $*"; failed=1; }
failed=0

"$sim" >"$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
  grep -q '^vci-sim ready' "$work/sim.out" && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^vci-sim ready' "$work/sim.out" || { cat "$work/sim.out"; echo "FAIL: the simulator did not start"; exit 1; }

run() { # run <name> <timeout> <command...>: output kept in $work/<name>.out
  local name=$1 limit=$2
  shift 2
  mkdir -p "$work/$name"
  timeout "$limit" "$@" >"$work/$name.out" 2>&1
  local status=$?
  sed "s/^/  $name: /" "$work/$name.out"
  [ "$status" -eq 0 ] || fail "$name exited with $status"
}

echo "Windows host, closing before unload:"
run win 120 wine "$win_host" "$(windows_path "$dll")" "$(windows_path "$work/win")" 4
# The detach notification closes the device and ends the saving under the loader lock:
# FreeLibrary must return and every CSV file must end complete.
echo "Windows host, unloading with the device open and saving:"
run win-unload-open 60 wine "$win_host" "$(windows_path "$dll")" "$(windows_path "$work/win-unload-open")" 2 --unload-open
# A root and a name outside ASCII reach the DLL in the active code page (wine's default
# for this locale is 1252): the files must get exactly those names, and the host must
# neither die nor hang. Wine reads our command line in the locale's UTF-8.
echo "Windows host, root and name in the ANSI code page:"
mkdir -p "$work/ansi"
LC_ALL=C.UTF-8 run ansi 60 wine "$win_host" "$(windows_path "$dll")" "$(windows_path "$work/ansi/Meß")" 2 --name Kühlung
grep -q '^code page: 1252\b' "$work/ansi.out" || fail "the host did not run in code page 1252"
ansi_files=$(find "$work/ansi/Meß/CH1" -name 'Kühlung_*.csv' 2>/dev/null)
[ -n "$ansi_files" ] || fail "no CH1/Kühlung_*.csv below Meß: $(cd "$work/ansi" && find . | tr '\n' ' ')"
for file in $ansi_files; do
  [ "$(head -n 1 "$file")" = "Timestamp,Current_mA" ] && [ "$(wc -l <"$file")" -gt 1 ] ||
    fail "$file does not hold the header and data lines"
done

if [ -x "$c_host" ]; then
  echo "Linux C host (reference):"
  run linux 120 "$c_host" "$work/linux/zxcollector.log" "$work/linux" 3
fi

# The shape of a name or line: every digit becomes 9 and every run of 9s one 9, so
# numbers of any value and width compare equal while everything else must match.
shape() { sed -E 's/[0-9]+/9/g'; }
csv_files() { (cd "$1" && find . -name '*.csv' | sed 's|^\./||' | sort); }

check_folder() { # check_folder <name>: the files of one run on their own
  local dir=$work/$1 files
  files=$(csv_files "$dir")
  [ -n "$files" ] || { fail "$1 wrote no CSV file"; return; }
  while read -r file; do
    [ "$(head -n 1 "$dir/$file")" = "Timestamp,Current_mA" ] || fail "$1/$file: header is not Timestamp,Current_mA"
    if grep -q $'\r' "$dir/$file"; then fail "$1/$file holds CR bytes"; fi
    [ -z "$(tail -c 1 "$dir/$file")" ] || fail "$1/$file does not end with a line feed"
  done <<<"$files"
  echo "$1: $(wc -l <<<"$files") CSV files, $(cat $(sed "s|^|$dir/|" <<<"$files") | wc -l) lines"
}
check_folder win
check_folder win-unload-open

if [ -d "$work/linux" ]; then
  check_folder linux
  # File names and data lines of the Windows build take the Linux build's shapes.
  diff <(csv_files "$work/linux" | shape | sort -u) <(csv_files "$work/win" | shape | sort -u) >/dev/null ||
    fail "file names differ: linux $(csv_files "$work/linux" | shape | sort -u | tr '\n' ' ') windows $(csv_files "$work/win" | shape | sort -u | tr '\n' ' ')"
  linux_lines=$(cd "$work/linux" && find . -name '*.csv' -exec tail -n +2 {} + | grep -v '^==>' | grep -v '^$' | shape | sort -u)
  win_lines=$(cd "$work/win" && find . -name '*.csv' -exec tail -n +2 {} + | grep -v '^==>' | grep -v '^$' | shape | sort -u)
  unknown=$(comm -13 <(echo "$linux_lines") <(echo "$win_lines"))
  [ -z "$unknown" ] || fail "Windows lines of a shape the Linux build never writes: $unknown"
  # A line cut short by the unload would show as a shape of its own.
  unload_lines=$(cd "$work/win-unload-open" && find . -name '*.csv' -exec tail -n +2 {} + | grep -v '^==>' | grep -v '^$' | shape | sort -u)
  unknown=$(comm -13 <(echo "$linux_lines") <(echo "$unload_lines"))
  [ -z "$unknown" ] || fail "lines written at the unload of a shape the Linux build never writes: $unknown"
  for file in $(csv_files "$work/win" | head -n 3); do
    reference=$(csv_files "$work/linux" | grep "^$(dirname "$file")/" | head -n 1)
    [ -n "$reference" ] || continue
    cmp -s <(head -n 1 "$work/win/$file") <(head -n 1 "$work/linux/$reference") || fail "header bytes of $file differ"
  done
  echo "line shapes: linux $(tr '\n' ' ' <<<"$linux_lines")| windows $(tr '\n' ' ' <<<"$win_lines")"
else
  echo "no Linux C host at $c_host: the format was checked against the fixed header and line ends only"
fi
[ "$failed" -eq 0 ] && echo "PASS"
exit "$failed"
