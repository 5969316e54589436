#!/usr/bin/env bash
# Runs every test: sets up the machine, builds the Linux library and its tests, runs
# them inside a private network namespace, does the same with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs the concurrency programs under ThreadSanitizer, then
# cross-builds the Windows DLL and runs its tests under wine (ZX_WITH_WINDOWS=0 skips
# the Windows part). The fuzz targets run 30 s each.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${ZX_JOBS:-2}

bash scripts/setup.sh || exit 1

# A second run rebuilds only what changed: ccache keys objects by paths relative to the
# tree, so a fresh clone elsewhere reuses them too. CMake reads these launchers itself.
if command -v ccache >/dev/null; then
  export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
  export CCACHE_BASEDIR=$root CCACHE_NOHASHDIR=1
fi

passed=0
failed=0
failures=()
step() { # step <name> <command...>
  local name=$1
  shift
  echo "==> $name"
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    failures+=("$name")
  fi
}

build() { # build <folder> [cmake options...]
  local dir=$1
  shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null && ninja -C "$dir" -j "$jobs"
}

tests_passed=0
tests_failed=0
# counted <command...>: runs a command that ends with CTest's summary and adds its
# figures to the totals printed at the end.
counted() {
  local out
  out=$(mktemp)
  "$@" 2>&1 | tee "$out"
  local status=${PIPESTATUS[0]}
  # "100% tests passed, 0 tests failed out of 9"
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$out" | tail -n 1)
  rm -f "$out"
  if [ -n "$summary" ]; then
    local f t
    f=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$summary")
    t=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$summary")
    tests_failed=$((tests_failed + f))
    tests_passed=$((tests_passed + t - f))
  fi
  return "$status"
}
run_suite() { # run_suite <folder>: CTest inside a private network namespace
  counted scripts/netns-run.sh ctest --test-dir "$1" --output-on-failure --timeout 900
}
run_sanitized_suite() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_suite "$1"
}

step "linux build" build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_BUILD_TESTS=ON -DZX_BUILD_BENCH=ON
step "linux tests" run_suite build

step "sanitizer build" build build-asan -DCMAKE_BUILD_TYPE=Debug -DZX_SANITIZE=address,undefined -DZX_BUILD_BENCH=OFF
step "sanitizer tests" run_sanitized_suite build-asan

# ThreadSanitizer only for the programs where host threads meet the library's threads:
# the many-threaded host (which covers the collector through the shared object), the
# exported functions and the device's requests. The rest of the suite, the collector's
# own program included, adds minutes under ThreadSanitizer and no other concurrency.
tsan_programs=(test_stress test_api test_vci)
build_tsan() {
  cmake -S "$root" -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZX_SANITIZE=thread \
    -DZX_BUILD_BENCH=OFF >/dev/null && ninja -C build-tsan -j "$jobs" "${tsan_programs[@]}"
}
run_tsan_suite() {
  TSAN_OPTIONS="suppressions=$root/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1" \
    counted scripts/netns-run.sh ctest --test-dir build-tsan --output-on-failure --timeout 900 \
    -R '^(stress|api|vci)$'
}
step "thread sanitizer build" build_tsan
step "thread sanitizer tests" run_tsan_suite

# The fuzz targets from the committed corpus, 30 s each (longer runs: scripts/fuzz.sh).
step "fuzz targets" bash scripts/fuzz.sh --time 30

if [ "${ZX_WITH_WINDOWS:-1}" = 1 ] && [ -x scripts/build-windows.sh ]; then
  step "windows build" bash scripts/build-windows.sh
  step "windows tests" counted bash scripts/test-windows.sh
  # zxcollect.exe publishing to a broker on the Linux side (64-bit, under wine).
  step "windows mqtt" bash scripts/check-mqtt-windows.sh build-win
  # zxcollect.exe's live page under wine, fetched from the Linux side.
  step "windows live page" bash scripts/check-live-windows.sh build-win
fi

# The 32-bit DLL (i686): build, export table, zip, and the 32-bit hosts where this machine
# can run 32-bit programs.
if [ "${ZX_WITH_WINDOWS:-1}" = 1 ] && [ -x scripts/build-windows.sh ]; then
  step "windows 32-bit build" env ZX_WIN_ARCH=i686 bash scripts/build-windows.sh
  step "windows 32-bit tests" counted env ZX_WIN_ARCH=i686 bash scripts/test-windows.sh
  # The 32-bit zxcollect.exe with a broker, where 32-bit programs run.
  if bash scripts/wine-loader.sh --can-run-32; then
    step "windows 32-bit mqtt" env ZX_WIN_ARCH=i686 bash scripts/check-mqtt-windows.sh build-win32
  fi
fi

echo
if [ "$failed" -gt 0 ]; then
  echo "failed steps: ${failures[*]}"
fi
echo "steps: $passed passed, $failed failed"
echo "tests: $tests_passed passed, $tests_failed failed"
[ "$failed" -eq 0 ]
