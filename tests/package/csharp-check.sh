#!/usr/bin/env bash
# The C# host of examples/csharp, compiled with mcs and run with mono against the box
# simulator and the built libzxcollector_api.so: it reads records whose timestamps are
# text (the 72-byte layout holds) and its save folder gets CSV files. Half-way it meets
# a NullReferenceException of its own (mono raises it from a memory fault) and catches
# it: the library reads on, and every value read reaches the CSV file.
#   csharp-check.sh <source folder> <folder of libzxcollector_api.so> <vci-sim>
set -euo pipefail
source=$1 libdir=$2 sim=$3
work=$(mktemp -d)
. "$(dirname "$0")/../support/sim.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT
require_private_network
command -v mcs >/dev/null && command -v mono >/dev/null || fail "mcs or mono missing (run scripts/setup.sh)"

mcs -warnaserror -out:"$work/ZxCollectorHost.exe" "$source/examples/csharp/ZxCollectorHost.cs"
start_simulator "$sim" "$work/sim.out" || fail "the simulator did not start"
mkdir "$work/save"
LD_LIBRARY_PATH=$libdir quiet host timeout 120 mono "$work/ZxCollectorHost.exe" "$work/log.txt" "$work/save" 4 \
  --null-reference
cat "$work/host.out"
# The last record's timestamp must be a date and time the library wrote, not shifted bytes.
grep -Eq 'last at [0-9]{4}-[0-9]{2}-[0-9]{2}' "$work/host.out" || fail "timestamp text not where the record has it"
files=$(find "$work/save" -name '*.csv' | wc -l)
[ "$files" -gt 0 ] || fail "no CSV file saved"
grep -q 'caught a NullReferenceException' "$work/host.out" || fail "the host met no NullReferenceException"
! grep -q 'System abnormality' "$work/log.txt" || fail "the library shut down at the host's own exception"
# "0x101 CH1 values read: <count>, last line <timestamp>,<value>"
read -r count last < <(sed -n 's/^0x101 CH1 values read: \([0-9]*\), last line \(.*\)$/\1 \2/p' "$work/host.out")
[ "${count:-0}" -gt 0 ] || fail "the host read no value of 0x101"
csv=$(find "$work/save/CH1" -name 'Temperature_*.csv')
[ "$(wc -l <"$csv")" -eq $((count + 1)) ] || fail "$csv holds $(($(wc -l <"$csv") - 1)) lines, $count values read"
[ "$(tail -n 1 "$csv")" = "$last" ] || fail "$csv ends in $(tail -n 1 "$csv"), the last value read was $last"
echo "PASS: $files CSV files"
