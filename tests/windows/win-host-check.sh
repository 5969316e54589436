#!/usr/bin/env bash
# End to end under wine: the Windows host program loads the DLL, reads box 0 of the
# Linux box simulator and saves CSV files; a second run unloads the DLL with the device
# still open and saving. The Windows files must have the Linux build's format byte for
# byte: the same header line, LF endings only, every file name and data line of the
# shape the Linux build writes (a line cut short by the unload would not be). Runs only
# inside scripts/netns-run.sh.
#   win-host-check.sh <win-host.exe> <zxcollector_api.dll> <linux build folder>
set -uo pipefail
win_host=$1 dll=$2 linux_build=$3
. "$(dirname "$0")/../support/sim.sh"
require_private_network
sim=$linux_build/tools/vci-sim/vci-sim
if [ ! -x "$sim" ]; then
  echo "skipped: no Linux box simulator at $sim (build the Linux tree first)"
  exit $skip
fi

work=$(mktemp -d)
trap 'stop_simulator; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; failed=1; }
failed=0
start_simulator "$sim" "$work/sim.out" || fail "the simulator did not start"

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
# A process that ends with the device open and saving: ExitProcess (a script that never
# closes, a console window closed) or a return from main. The system has ended the other
# threads before the detach notification, perhaps inside the library's locks or waits:
# the process must end all the same (within 5 s of ExitProcess, 2 s of the return), with
# whole lines on disk.
for case in exit-process:5000 return-open:2000; do
  end=${case%:*} limit=${case#*:}
  echo "Windows host, $end with the device open and saving:"
  run "$end" 60 wine "$win_host" "$(windows_path "$dll")" "$(windows_path "$work/$end")" 2 --"$end"
  ended=$(sed -n 's/^ending at \([0-9]*\) ms.*/\1/p' "$work/$end.out")
  gone=$(date +%s%3N)
  if [ -z "$ended" ]; then
    fail "$end: the host did not say when it ended"
  elif [ $((gone - ended)) -gt "$limit" ]; then
    fail "$end: the process took $((gone - ended)) ms to end after the host ended it"
  else
    echo "  $end: process gone $((gone - ended)) ms after the host ended it"
  fi
done

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

# 100 identifiers, 600 series: more files than the C runtime's 512 streams. Saving keeps
# a bounded share of them open and reopens the rest in turn; every series must be there,
# complete, with data.
echo "Windows host, 100 identifiers (600 series):"
stop_simulator
# (0x101 as well: the host sets its sampling frequency.)
modules=$(for n in $(seq 512 611); do printf 'temperature:%d:20:0x3F,' "$n"; done)
start_simulator "$sim" "$work/sim-many.out" --modules "temperature:0x101,${modules%,}" || fail "the simulator with 100 modules did not start"
run many 120 wine "$win_host" "$(windows_path "$dll")" "$(windows_path "$work/many")" 4 --identifiers 100
many_files=$(cd "$work/many" && find . -name 'Id*_1.csv' | wc -l)
[ "$many_files" -eq 600 ] || fail "many: $many_files first files of the 600 series"
empty=$(cd "$work/many" && for f in $(find . -name 'Id*.csv'); do [ "$(wc -l <"$f")" -gt 1 ] || echo "$f"; done | head -n 3)
[ -z "$empty" ] || fail "many: series without a data line: $empty"

check_folder() { # check_folder <name>: the CSV files of one run
  local dir=$work/$1 files
  files=$(cd "$dir" && find . -name '*.csv' | sed 's|^\./||' | sort)
  [ -n "$files" ] || { fail "$1 wrote no CSV file"; return; }
  bad=$(grep -vE '^CH[1-6]/[A-Za-z][A-Za-z0-9]*_[0-9]{6}_[0-9]{6}_[0-9]+\.csv$' <<<"$files")
  [ -z "$bad" ] || fail "$1 file names not of the Linux build's shape: $bad"
  while read -r file; do
    [ "$(head -n 1 "$dir/$file")" = "Timestamp,Current_mA" ] || fail "$1/$file: header is not Timestamp,Current_mA"
    [ -z "$(tail -c 1 "$dir/$file")" ] || fail "$1/$file does not end with a line feed"
    bad=$(tail -n +2 "$dir/$file" | grep -vE '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{6},-?[0-9]+$' | head -n 2)
    [ -z "$bad" ] || fail "$1/$file holds lines of a shape the Linux build never writes: $bad"
  done <<<"$files"
  echo "$1: $(wc -l <<<"$files") CSV files, $(cd "$dir" && cat $files | wc -l) lines"
}
check_folder win
check_folder win-unload-open
check_folder exit-process
check_folder return-open
check_folder many
[ "$failed" -eq 0 ] && echo "PASS"
exit "$failed"
