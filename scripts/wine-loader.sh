#!/usr/bin/env bash
# Runs wine with a loader this machine can start. Debian's `wine` command prefers the
# 32-bit loader once wine32 is installed; on a kernel that runs no 32-bit programs that
# loader fails ("Exec format error") for 64-bit programs too, so the 64-bit loader is
# called directly there. Where 32-bit programs run, the first `wine` on PATH that is not
# this loader runs the program (the test command puts a link to this loader first on
# PATH, named wine). `wine-loader.sh --can-run-32` only answers whether 32-bit Windows
# programs can run here (exit 0) or not (exit 1).
#   scripts/wine-loader.sh <program.exe> [args...]
# ZX_WINE32 and ZX_WINE64 name other loaders than Debian's (for the loader's own test).
wine32=${ZX_WINE32:-/usr/lib/wine/wine}
wine64=${ZX_WINE64:-/usr/lib/wine/wine64}
self=$(readlink -f "${BASH_SOURCE[0]}")
can_run_32() { [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; }
# The first `wine` on PATH that does not lead back here.
other_wine() {
  local dir
  local IFS=:
  for dir in $PATH; do
    if [ -x "${dir:-.}/wine" ] && [ "$(readlink -f "${dir:-.}/wine")" != "$self" ]; then
      echo "${dir:-.}/wine"
      return 0
    fi
  done
  return 1
}
if [ "${1:-}" = --can-run-32 ]; then
  can_run_32 && exit 0
  exit 1
fi
if can_run_32 || [ ! -x "$wine64" ]; then
  if wine=$(other_wine); then
    exec "$wine" "$@"
  fi
  echo "wine-loader: no wine on PATH besides this loader" >&2
  exit 127
fi
export WINELOADER=$wine64
exec "$wine64" "$@"
