#!/usr/bin/env bash
# Runs wine with a loader this machine can start. Debian's `wine` command prefers the
# 32-bit loader once wine32 is installed; on a kernel that runs no 32-bit programs that
# loader fails ("Exec format error") for 64-bit programs too, so the 64-bit loader is
# called directly there. `wine-loader.sh --can-run-32` only answers whether 32-bit
# Windows programs can run here (exit 0) or not (exit 1).
#   scripts/wine-loader.sh <program.exe> [args...]
wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
can_run_32() { [ -x "$wine32" ] && "$wine32" --version >/dev/null 2>&1; }
if [ "${1:-}" = --can-run-32 ]; then
  can_run_32 && exit 0
  exit 1
fi
if can_run_32 || [ ! -x "$wine64" ]; then
  exec wine "$@"
fi
export WINELOADER=$wine64
exec "$wine64" "$@"
