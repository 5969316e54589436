#!/usr/bin/env bash
# The library's export table (a Windows DLL's or a Linux shared object's dynamic symbols)
# holds exactly the functions the public header declares, under their plain names, and
# the module-definition file lists the same ones.
#   check-exports.sh <library> <public header> <module-definition file>
set -euo pipefail
dll=$1 header=$2 def=$3
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

if [ "$(head -c 4 "$dll" | tail -c 3)" = ELF ]; then
  exported=$(nm -D --defined-only --format=just-symbols "$dll" | sed 's/@.*//' | sort)
else # the names after "[Ordinal/Name Pointer] Table" up to the next blank line
  exported=$("$objdump" -p "$dll" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
                                          on && NF == 0 {on = 0}
                                          on {print $NF}' | sort)
fi
declared=$(grep -oE 'ZX_CALL[[:space:]]+Zx[A-Za-z]+[[:space:]]*\(' "$header" |
           sed -E 's/ZX_CALL[[:space:]]+//; s/[[:space:]]*\($//' | sort)
listed=$(awk '/^EXPORTS/ {on = 1; next} on && $1 !~ /^;/ && NF {print $1}' "$def" | sort)

status=0
if [ "$(wc -l <<<"$declared")" -ne 15 ]; then
  echo "the header declares $(wc -l <<<"$declared") functions, not 15:"; echo "$declared"; status=1
fi
if [ "$exported" != "$declared" ]; then
  echo "export table differs from the header (< exported, > declared):"
  diff <(echo "$exported") <(echo "$declared") || true
  status=1
fi
if [ "$listed" != "$declared" ]; then
  echo "module-definition file differs from the header (< listed, > declared):"
  diff <(echo "$listed") <(echo "$declared") || true
  status=1
fi
[ "$status" -eq 0 ] && echo "exports: $(tr '\n' ' ' <<<"$exported")"
exit "$status"
