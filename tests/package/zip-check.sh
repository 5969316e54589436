#!/usr/bin/env bash
# What a Windows user gets: the zip that CPack makes of the cross build, unpacked into an
# empty folder, holds every file it names and every DLL its programs load. Under wine with
# nothing on WINEPATH: zxcollect.exe starts from there; a C host linked against the zip's
# zxcollector_api.lib (the MSVC import library) and the build's win-host, both put beside
# the DLL, read and save from the Linux box simulator. Runs only inside scripts/netns-run.sh.
# For 32-bit, the built DLL's code is read too: each export returns with `ret $N`, popping
# exactly its arguments as __stdcall must (N from the header, as in the import library).
#   zip-check.sh <windows build> <source folder> <win-host.exe> <linux build> <compiler> <built dll>
set -uo pipefail
build=$1 source=$2 win_host=$3 linux_build=$4 cc=$5 built_dll=$6
work=$(mktemp -d)
. "$(dirname "$0")/../support/sim.sh"
trap 'stop_simulator; rm -rf "$work"' EXIT
require_private_network
[ -x "$linux_build/tools/vci-sim/vci-sim" ] || { echo "skipped: no Linux box simulator in $linux_build"; exit $skip; }

(cd "$build" && quiet cpack cpack -G ZIP -B "$work/package") || exit 1
zip=$(find "$work/package" -maxdepth 1 -name 'zxcollector_api-*-win*.zip' | head -n 1)
[ -n "$zip" ] || fail "no zip written"
echo "zip: $(basename "$zip"), $(stat -c %s "$zip") bytes"
mkdir "$work/unpacked"
python3 -m zipfile -e "$zip" "$work/unpacked" || fail "cannot unpack $zip"
top=$work/unpacked/$(basename "$zip" .zip)
(cd "$top" && find . -type f | sort | sed 's/^/  /')
for f in bin/zxcollector_api.dll bin/zxcollect.exe bin/Qt5Core.dll lib/zxcollector_api.lib \
  lib/libzxcollector_api.dll.a include/zxcollector_api.h lib/cmake/zxcollector/zxcollectorConfig.cmake \
  README.txt LICENSE.txt examples/c-host/c_host.c examples/csharp/ZxCollectorHost.cs; do
  [ -f "$top/$f" ] || fail "$f missing from the zip"
done
for topic in 192.168.201 "UDP port 8000" netsh ctypes LabVIEW "Declare PtrSafe Function" DllImport \
  "Saving is driven by reading"; do
  grep -q "$topic" "$top/README.txt" || fail "README.txt does not cover: $topic"
done
# The version resource (UTF-16 strings) that Explorer's Details tab shows.
version=$(sed -nE 's/^#define ZXCOLLECTOR_VERSION_(MAJOR|MINOR|PATCH) ([0-9]+).*/\2/p' "$top/include/zxcollector_api.h" | paste -sd.)
for f in bin/zxcollector_api.dll bin/zxcollect.exe; do
  resource=$(strings -e l "$top/$f")
  grep -qx FileVersion <<<"$resource" && grep -qx "$version" <<<"$resource" ||
    fail "$f has no version resource of $version"
done
echo "README.txt, LICENSE.txt, examples/ present; version resource $version in the DLL and the EXE"

# A host built the way an MSVC user builds one: header plus import library, nothing else.
"$cc" -std=c99 -O1 -o "$top/bin/c_host.exe" "$source/examples/c-host/c_host.c" -I"$top/include" \
  "$top/lib/zxcollector_api.lib" || fail "linking against zxcollector_api.lib"
cp "$win_host" "$top/bin/"
if "${OBJDUMP:-objdump}" -f "$top/bin/zxcollector_api.dll" 2>/dev/null | grep -q 'pei-i386'; then
  "${OBJDUMP:-objdump}" -d --no-show-raw-insn "$built_dll" >"$work/code.txt" || fail "cannot disassemble $built_dll"
  checked=
  while read -r export; do
    name=${export%@*} bytes=${export#*@}
    returns=$(awk -v label="<_$export>:" '$NF == label {on = 1; next} on && NF == 0 {exit} on && $2 ~ /^ret/ {print ($3 == "" ? $2 : $2 " " $3)}' "$work/code.txt" | sort -u)
    want=$([ "$bytes" = 0 ] && echo ret || printf 'ret $0x%x' "$bytes")
    if [ -n "$returns" ] && [ "$returns" != "$want" ]; then
      fail "$name returns with '$(tr '\n' ' ' <<<"$returns")', not '$want': not __stdcall with $bytes argument bytes"
    fi
    # A function that ends only in tail calls (jmp) has no return of its own to read.
    [ -z "$returns" ] || checked+="$export "
  done < <(awk '/^EXPORTS/ {on = 1; next} on && NF {print $1}' "$build/zxcollector_api-import.def")
  [ "$(wc -w <<<"$checked")" -ge 4 ] || fail "found the returns of only these exports: $checked"
  echo "__stdcall: these exports pop their own arguments: $checked"
fi
if "${OBJDUMP:-objdump}" -f "$top/bin/zxcollector_api.dll" 2>/dev/null | grep -q 'pei-i386' &&
  ! "$source/scripts/wine-loader.sh" --can-run-32; then
  echo "skipped: the zip is complete and links, but this machine runs no 32-bit programs"
  exit $skip
fi
unset WINEPATH
export WINEDEBUG=-all
wine=$source/scripts/wine-loader.sh
"$wine" "$top/bin/zxcollect.exe" --help >"$work/help.out" 2>&1 || { cat "$work/help.out"; fail "zxcollect.exe does not start from the unpacked zip"; }
echo "zxcollect.exe --help: $(head -n 1 "$work/help.out")"

start_simulator "$linux_build/tools/vci-sim/vci-sim" "$work/sim.out" || fail "the simulator did not start"
mkdir -p "$work/c"
timeout 120 "$wine" "$top/bin/c_host.exe" "$(windows_path "$work/c/log.txt")" "$(windows_path "$work/c")" 2 >"$work/c.out" 2>&1 ||
  { cat "$work/c.out"; fail "c_host.exe linked with zxcollector_api.lib"; }
echo "c_host.exe: $(cat "$work/c.out"), $(find "$work/c" -name '*.csv' | wc -l) CSV files"
[ -n "$(find "$work/c" -name '*.csv')" ] || fail "c_host.exe saved no CSV file"
stop_simulator

bash "$source/tests/windows/win-host-check.sh" "$top/bin/$(basename "$win_host")" "$top/bin/zxcollector_api.dll" "$linux_build"
