#!/usr/bin/env bash
# The loader choice of scripts/wine-loader.sh, with stand-in loaders: the test command
# puts a link to the loader, named wine, first on PATH. Where 32-bit programs run, the
# loader must hand over to the next `wine` on PATH exactly once (never to itself, which
# would exec for ever); where they do not, to the 64-bit loader. --can-run-32 gives both
# answers.
#   wine-loader-check.sh <repo>
set -uo pipefail
loader=$1/scripts/wine-loader.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

mkdir -p "$work/first" "$work/system"
ln -s "$loader" "$work/first/wine"
# stand-in <file> <what it prints> <--version status>
stand_in() {
  printf '#!/bin/sh\n[ "$1" = --version ] && exit %s\necho "%s $*"\n' "$3" "$2" >"$1"
  chmod +x "$1"
}
stand_in "$work/system/wine" "system wine" 0
stand_in "$work/wine64" "wine64" 0

# case: <name> <32-bit loader's --version status> <expected --can-run-32 status> <expected output>
for case in "runs-32 0 0 system wine prog.exe a" "no-32 1 1 wine64 prog.exe a"; do
  read -r name status can expected <<<"$case"
  stand_in "$work/wine32" "wine32" "$status"
  export ZX_WINE32=$work/wine32 ZX_WINE64=$work/wine64
  PATH=$work/first:$work/system:$PATH timeout 10 "$loader" --can-run-32
  got=$?
  [ "$got" = "$can" ] || fail "$name: --can-run-32 answered $got, not $can"
  out=$(PATH=$work/first:$work/system:$PATH timeout 10 "$work/first/wine" prog.exe a)
  got=$?
  [ "$got" = 0 ] && [ "$out" = "$expected" ] ||
    fail "$name: the link first on PATH ran '$out' (status $got), not '$expected'"
done
[ "$failed" -eq 0 ] && echo "PASS"
exit "$failed"
