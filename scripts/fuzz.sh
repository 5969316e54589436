#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and UndefinedBehaviorSanitizer
# on, in build-fuzz/) and runs each for a time or a number of executions, starting from
# the committed corpus in fuzz/corpus/<target>. New inputs go to a scratch folder, so
# the committed corpus stays as it is; a crash leaves its input in build-fuzz/artifacts.
#
#   scripts/fuzz.sh [--time SECONDS] [--runs N] [target...]   (default --time 60; both: whichever ends first)
#
# Targets: frame_scanner mapping_parser collector_config (default: all). Prints one
# "fuzz <target>: N executions in S s" line each; exits non-zero on any finding.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
limit=()
targets=()
while [ $# -gt 0 ]; do
  case $1 in
    --time) limit+=(-max_total_time="$2"); shift 2 ;;
    --runs) limit+=(-runs="$2"); shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) targets+=("$1"); shift ;;
  esac
done
[ ${#limit[@]} -gt 0 ] || limit=(-max_total_time=60)
[ ${#targets[@]} -gt 0 ] || targets=(frame_scanner mapping_parser collector_config)

build=$root/build-fuzz
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
    -DZX_BUILD_FUZZ=ON -DZX_BUILD_TESTS=OFF -DZX_BUILD_BENCH=OFF >/dev/null || exit 1
fi
ninja -C "$build" -j "${ZX_JOBS:-2}" "${targets[@]/#/fuzz_}" || exit 1

status=0
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
  scratch=$(mktemp -d)
  out=$build/fuzz_$target.out
  # Seeds stay in play even when they add no coverage (the INI reader's parsing is
  # not instrumented), and a dictionary gives inputs the shape of the format.
  extra=(-keep_seed=1 -cross_over_uniform_dist=1)
  [ -f "$root/fuzz/$target.dict" ] && extra+=(-dict="$root/fuzz/$target.dict")
  # A small quarantine and no fill of fresh blocks: the settings reader allocates large
  # buffers per run, and filling them and faulting in fresh pages dominated its time.
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=16:max_malloc_fill_size=0 \
    UBSAN_OPTIONS=print_stacktrace=1 \
    nice -n 19 "$build/fuzz/fuzz_$target" "${limit[@]}" "${extra[@]}" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/${target}-" "$scratch" "$root/fuzz/corpus/$target" >"$out" 2>&1
  rc=$?
  rm -rf "$scratch"
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+).*/\1/p' "$out" | tail -n 1)
  secs=$(sed -nE 's/^Done [0-9]+ runs in ([0-9]+) second.*/\1/p' "$out" | tail -n 1)
  if [ "$rc" -ne 0 ] || grep -qE 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error:' "$out"; then
    echo "fuzz $target: FAILED after ${runs:-?} executions (see $out)"
    tail -n 30 "$out"
    status=1
  else
    echo "fuzz $target: ${runs:-?} executions in ${secs:-?} s, no finding"
  fi
done
exit $status
