#!/usr/bin/env bash
# Adds source lines (deb-src) for the Debian archive the machine already uses, once, so
# that `apt-get source` finds Debian's source packages (Qt for mingw, cpp-httplib's
# header for the cross build). Asks for sudo only when not root.
set -euo pipefail
as_root=()
[ "$(id -u)" -ne 0 ] && as_root=(sudo)
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -rqs '^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  echo "debian-source-lines: adding source lines for the Debian archive"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    sed 's/^Types: deb$/Types: deb-src/' "$f" | "${as_root[@]}" tee "${f%.sources}-src.sources" >/dev/null
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list | "${as_root[@]}" tee /etc/apt/sources.list.d/zx-debian-src.list >/dev/null
  fi
  "${as_root[@]}" apt-get update -qq
fi
