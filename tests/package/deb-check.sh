#!/usr/bin/env bash
# What a Debian user gets: the packages of packaging/debian/build-debs.sh, checked by
# lintian (no error, no warning), with the library in the multiarch folder, stripped
# binaries and the dependencies between them; then installed with dpkg where this user
# may (skipped otherwise), zxcollect started as installed, and everything purged again.
#   deb-check.sh <build folder> <source folder>
set -euo pipefail
build=$1 source=$2
work=$(mktemp -d)
out=$build/debian-packages
installed=()
. "$(dirname "$0")/../support/sim.sh"
cleanup() {
  [ "${#installed[@]}" -eq 0 ] || dpkg -P "${installed[@]}" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

echo "== build-debs.sh into $out"
quiet build-debs bash "$source/packaging/debian/build-debs.sh" "$out"
mapfile -t debs < <(find "$out" -maxdepth 1 -name '*.deb' | sort)
[ "${#debs[@]}" -ge 3 ] || fail "only ${#debs[@]} packages written"
for deb in "${debs[@]}"; do
  echo "  $(basename "$deb"): $(dpkg-deb -f "$deb" Depends)"
done

echo "== lintian"
command -v lintian >/dev/null || fail "lintian is not installed (scripts/setup.sh installs it)"
lintian --fail-on error,warning --display-info "${debs[@]}" >"$work/lintian.out" 2>&1 ||
  { cat "$work/lintian.out"; fail "lintian"; }
echo "  no error, no warning ($(grep -c . "$work/lintian.out" || true) information lines)"

multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
contents() { dpkg-deb -c "$out/$1"_*.deb | awk '{print $6}' | sed 's|^\./|/|'; }
lib=$(contents libzxcollector-api3 | grep -xE "/usr/lib/$multiarch/libzxcollector_api\.so\.3\.[0-9]+\.[0-9]+") ||
  fail "the library is not in /usr/lib/$multiarch"
contents libzxcollector-api-dev | grep -qx "/usr/include/zxcollector_api.h" || fail "the header is not in the -dev package"
dpkg-deb -f "$out"/libzxcollector-api-dev_*.deb Depends | grep -q 'libzxcollector-api3 (=' ||
  fail "the -dev package does not depend on the library of its version"
dpkg-deb -f "$out"/zxcollector-tools_*.deb Depends | grep -q 'libzxcollector-api3 (>= 3' ||
  fail "the tools do not depend on the library"
dpkg-deb -x "$out"/zxcollector-tools_*.deb "$work/tools"
for program in "$work"/tools/usr/bin/*; do
  file "$program" | grep -q 'not stripped' && fail "$(basename "$program") is not stripped"
done

if [ ! -w /var/lib/dpkg ]; then
  echo "dpkg install skipped: this user cannot write /var/lib/dpkg"
  echo "PASS"
  exit 0
fi
names=()
for deb in "${debs[@]}"; do
  name=$(dpkg-deb -f "$deb" Package)
  if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q 'ok installed'; then
    fail "$name is installed already; remove it first (dpkg -P $name)"
  fi
  names+=("$name")
done
quiet dpkg-install dpkg -i "${debs[@]}"
installed=("${names[@]}")
[ -e "$lib" ] || fail "$lib not installed"
quiet installed-zxcollect /usr/bin/zxcollect --version
grep -q '^zxcollect 3\.' "$work/installed-zxcollect.out" || fail "zxcollect --version: $(cat "$work/installed-zxcollect.out")"
man -w zxcollect >/dev/null 2>&1 || [ -e /usr/share/man/man1/zxcollect.1.gz ] || fail "no man page for zxcollect"
files=$(dpkg -L "${names[@]}")
quiet dpkg-purge dpkg -P "${names[@]}"
installed=()
left=$(while read -r f; do if [ -f "$f" ] || [ -L "$f" ]; then echo "$f"; fi; done <<<"$files")
[ -z "$left" ] || fail "left after removal: $left"
echo "dpkg: installed ${#names[@]} packages ($(grep -c . <<<"$files") paths), zxcollect ran, all purged cleanly"
echo "PASS"
