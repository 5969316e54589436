#!/usr/bin/env bash
# Soak run (not part of the test command): vci-sim streams unique values at a high rate,
# zxsoak reads them through ZxReadBuffer and saves them, for a given time. Midway the
# box is restarted (its address gone for 2 s) and the save disk, a small tmpfs in a
# private mount namespace, is filled for 10 s and then freed. Saved files are moved
# off the small disk as they complete (every file of a series but the highest index),
# as a host's archiver would. The closing report: records sent, read, lost and spliced;
# per series (identifier and measurement channel) the lines saved and "read but not
# saved" beside the points the library's log reports lost for it; the level 2 and 3
# lines of the log, resident memory and threads, and how long each stop took.
#
#   scripts/soak.sh [--duration SECONDS (600)] [--rate FRAMES_PER_SECOND (5000)]
#                   [--disk-mb MB (64)]
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

if [ "${1:-}" != "--inside" ]; then
  duration=600 rate=5000 disk_mb=64
  while [ $# -gt 0 ]; do
    case $1 in
      --duration) duration=$2; shift 2 ;;
      --rate) rate=$2; shift 2 ;;
      --disk-mb) disk_mb=$2; shift 2 ;;
      -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
      *) echo "soak: unknown option $1" >&2; exit 2 ;;
    esac
  done
  if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
  fi
  ninja -C build -j "${ZX_JOBS:-2}" vci-sim zxsoak zxcollector_api >/dev/null || exit 1
  # A private network (only lo) and a private mount namespace for the small disk.
  exec scripts/netns-run.sh unshare --mount --propagation private -- "$0" --inside "$duration" "$rate" "$disk_mb"
fi
duration=$2 rate=$3 disk_mb=$4

work=$(mktemp -d /tmp/zxsoak.XXXXXX)
disk=$work/disk
archive=$work/archive
mkdir -p "$disk" "$archive"
mount -t tmpfs -o size="${disk_mb}m" zxsoak "$disk" || { echo "soak: cannot mount the small disk" >&2; exit 1; }
sim_pid=
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null
  umount "$disk" 2>/dev/null
}
trap cleanup EXIT

. "$root/scripts/simulator.sh"
start_simulator "$root/build/tools/vci-sim/vci-sim" "$work/sim.out" --unique-values --rate "$rate" \
  --restart-pause-ms 2000 || exit 1
sim_pid=$simulator_pid

"$root/build/tools/zxsoak/zxsoak" --duration "$duration" --save "$disk/save" --log "$work/zxsoak.log" \
  --file-size 1 >"$work/host.out" 2>&1 &
host_pid=$!

saved_files=0
cut_files=0
# Saved lines per series (CH folder and name): complete files are counted as they are
# archived, the rest after the stop.
declare -A saved_lines=()
count_file() {
  local f=$1 series
  series=${f%_*_*_*.csv}
  series=${series#"$disk"/save/}
  saved_lines[$series]=$(( ${saved_lines[$series]:-0} + $(wc -l <"$f") - 1 )) # the header line
  saved_files=$((saved_files + 1))
  # A write cut short by the full disk can leave the file ending inside a line.
  [ -z "$(tail -c 1 "$f")" ] || cut_files=$((cut_files + 1))
}
# Takes every CSV file of a series (name_date_time_index.csv, one series per name and CH
# folder) but the one with the highest index off the small disk, counting its lines: the
# library writes a file of a series only until it has created the next one. (File times
# cannot tell: the last write to one file and the creation of the next fall into the
# same tick of the kernel's coarse clock.)
archive_complete() {
  local f series index
  declare -A highest=()
  for f in "$disk"/save/*/*.csv; do
    [ -f "$f" ] || continue
    series=${f%_*_*_*.csv}
    index=${f##*_}
    index=${index%.csv}
    [ "$index" -gt "${highest[$series]:-0}" ] && highest[$series]=$index
  done
  for f in "$disk"/save/*/*.csv; do
    [ -f "$f" ] || continue
    series=${f%_*_*_*.csv}
    index=${f##*_}
    index=${index%.csv}
    [ "$index" -lt "${highest[$series]}" ] || continue
    count_file "$f"
    rm -f "$f"
  done
}

start=$(date +%s)
restart_at=$((start + duration / 2))
fill_at=$((start + duration * 6 / 10))
restarted=0 filled=0 freed=0
events=()
while kill -0 "$host_pid" 2>/dev/null; do
  now=$(date +%s)
  if [ $restarted = 0 ] && [ "$now" -ge "$restart_at" ]; then
    kill -USR1 "$sim_pid" && events+=("$((now - start)) s: box restarted (away 2 s)")
    restarted=1
  fi
  if [ $filled = 0 ] && [ "$now" -ge "$fill_at" ]; then
    dd if=/dev/zero of="$disk/filler" bs=1M status=none 2>/dev/null
    events+=("$((now - start)) s: disk filled ($(df --output=avail -k "$disk" | tail -n 1 | tr -d ' ') KiB left)")
    filled=1
  fi
  if [ $filled = 1 ] && [ $freed = 0 ] && [ "$now" -ge $((fill_at + 10)) ]; then
    rm -f "$disk/filler"
    events+=("$((now - start)) s: disk freed")
    freed=1
  fi
  # While the disk is full nothing is archived, so it stays full.
  if [ $filled = 0 ] || [ $freed = 1 ]; then
    archive_complete
  fi
  sleep 1
done
wait "$host_pid"
host_status=$?
host_pid=
kill -TERM "$sim_pid" 2>/dev/null
wait "$sim_pid" 2>/dev/null
sim_pid=
# The files still on the disk are complete now that saving stopped.
for f in "$disk"/save/*/*.csv; do
  [ -f "$f" ] || continue
  count_file "$f"
done

echo "soak: $duration s at $rate frames/s, disk ${disk_mb} MiB, zxsoak exit $host_status"
for e in "${events[@]}"; do echo "  $e"; done
sed -n '/zxsoak report/,$p' "$work/host.out"
grep 'vci-sim device' "$work/sim.out" | sed 's/^/  /'
read_records=$(sed -nE 's/^  records read +([0-9]+).*/\1/p' "$work/host.out")
sent_up_to_last=$(sed -nE 's/^  records sent \(counters\) +([0-9]+).*/\1/p' "$work/host.out")
sim_frames=$(sed -nE 's/^vci-sim device 0: ([0-9]+) frames.*/\1/p' "$work/sim.out")
echo "  sent after the last read $(( ${sim_frames:-0} - ${sent_up_to_last:-0} )) (the host had stopped reading; never counted as lost)"
# Points the library reports lost, per series: "<Word> N points for CH<c>/'<name>'", and
# apart those discarded by the stop itself (in flight at stop: no file could take them).
declare -A log_lost=() log_in_flight=()
while read -r word count series; do
  if [ "$word" = Discarded ]; then
    log_in_flight[$series]=$(( ${log_in_flight[$series]:-0} + count ))
  else
    log_lost[$series]=$(( ${log_lost[$series]:-0} + count ))
  fi
done < <(sed -nE "s/.*\] ([A-Z][a-z]+) ([0-9]+) points for (CH[0-9])\/'([^']*)'.*/\1 \2 \3\/\4/p" \
           "$work/zxsoak.log" 2>/dev/null)
echo "  saved                    $saved_files files, $cut_files of them ending inside a line"
echo "  per series (CH folder/name): records read of its identifier, lines saved, read but not"
echo "  saved, and of these the points the library's log reports lost while running and"
echo "  discarded at stop (in flight); unexplained = read - saved - lost - in flight"
unexplained_total=0
for entry in 0x101:Temperature 0x301:Voltage 0x501:Current 0x701:Frequency; do
  id=${entry%%:*} name=${entry#*:}
  read_id=$(sed -nE "s/^  module $id: read ([0-9]+),.*/\1/p" "$work/host.out")
  read_id=${read_id:-0}
  for c in 1 2 3 4 5 6; do
    series=CH$c/$name
    saved=${saved_lines[$series]:-0}
    lost=${log_lost[$series]:-0}
    in_flight=${log_in_flight[$series]:-0}
    missing=$((read_id - saved))
    unexplained=$((missing - lost - in_flight))
    unexplained_total=$((unexplained_total + (unexplained < 0 ? -unexplained : unexplained)))
    printf '    %-16s %s read %d, saved %d, read but not saved %d = lost %d + in flight %d + unexplained %d\n' \
      "$series" "$id" "$read_id" "$saved" "$missing" "$lost" "$in_flight" "$unexplained"
  done
done
echo "  records read             ${read_records:-0} (all identifiers)"
echo "  unexplained in all       $unexplained_total"
echo "  level 2 and 3 lines of the library, by message (digits as N):"
grep -E '\[(W|E)\] ' "$work/zxsoak.log" 2>/dev/null |
  sed -E 's/^[^[]*\[([WE])\] \[[0-9]+\] /\1 /; s/[0-9]+/N/g' | sort | uniq -c | sort -rn | head -n 20 | sed 's/^/    /'
grep -E 'link losses in total' "$work/zxsoak.log" | sed 's/^/  /'
echo "  status lines: $work/host.out, library log: $work/zxsoak.log"
