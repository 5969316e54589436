#!/usr/bin/env bash
# End to end under wine: the Windows host program loads the DLL, reads box 0 of the
# Linux box simulator and saves CSV files; a second run unloads the DLL with the device
# still open and saving. The Windows files must have the Linux build's format byte for
# byte: same header line, LF endings only, same file and line shapes as the C host of the
# Linux build writes against the same simulator. Runs only inside scripts/netns-run.sh.
#   win-host-check.sh <win-host.exe> <zxcollector_api.dll> <linux build folder>
set -uo pipefail
win_host=$1 dll=$2 linux_build=$3
. "$(dirname "$0")/../support/sim.sh"
require_private_network
sim=$linux_build/tools/vci-sim/vci-sim
c_host=$linux_build/examples/c-host/c_host
if [ ! -x "$sim" ]; then
  echo "skipped: no Linux box simulator at $sim (build the Linux tree first)"
  exit $skip
fi

work=$(mktemp -d)
trap 'stop_simulator; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; failed=1; }
failed=0
start_simulator "$sim" "$work"

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
name_shapes() { csv_files "$1" | shape | sort -u; }
line_shapes() { (cd "$1" && find . -name '*.csv' -exec tail -q -n +2 {} + | grep -v '^$' | shape | sort -u); }

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
  [ "$(name_shapes "$work/linux")" = "$(name_shapes "$work/win")" ] ||
    fail "file names differ: linux $(name_shapes "$work/linux" | tr '\n' ' ') windows $(name_shapes "$work/win" | tr '\n' ' ')"
  linux_lines=$(line_shapes "$work/linux")
  win_lines=$(line_shapes "$work/win")
  # A line cut short by the unload would show as a shape of its own.
  for run in win win-unload-open; do
    unknown=$(comm -13 <(echo "$linux_lines") <(line_shapes "$work/$run"))
    [ -z "$unknown" ] || fail "$run lines of a shape the Linux build never writes: $unknown"
  done
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
