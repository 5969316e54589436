#!/usr/bin/env bash
# The Python package as a user gets it: installed with pip into a fresh venv over Debian's
# python3 (numpy, pandas, h5py, matplotlib and pytest from Debian's packages), then its
# pytest tests run with that venv against the built library, vci-sim and zxcollect. Their
# network cases skip themselves outside a private namespace.
#   python-check.sh <source folder> <libzxcollector_api.so> <vci-sim> <zxcollect>
set -euo pipefail
source=$1 library=$2 sim=$3 zxcollect=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A copy, so that pip's build folders stay out of the tree.
cp -r "$source/python" "$work/python"
rm -rf "$work/python/build" "$work/python"/*.egg-info
/usr/bin/python3 -m venv --system-site-packages "$work/venv" || fail "no venv (python3-venv missing?)"
# Exactly the README's command; PIP_NO_INDEX keeps a missing dependency from waiting on the network.
(cd "$work" && PIP_NO_INDEX=1 "$work/venv/bin/python3" -m pip install --quiet --no-build-isolation ./python) ||
  fail "pip install of the package"
installed=$("$work/venv/bin/python3" -c 'import zxcollector; print(zxcollector.__file__)')
[[ $installed == "$work/venv/"* ]] || fail "zxcollector imported from $installed, not from the venv"

set +e
(cd "$work" && ZXCOLLECTOR_LIBRARY=$library ZX_VCI_SIM=$sim ZX_ZXCOLLECT=$zxcollect MPLBACKEND=Agg \
  ZX_TEST_KIT=$source/tests/zxcollect \
  "$work/venv/bin/python3" -m pytest -p no:cacheprovider -q -rs "$work/python/tests")
status=$?
set -e
# pytest's 5: it collected no test at all, which must not pass as success.
[ "$status" -ne 5 ] || fail "pytest collected no tests"
exit "$status"
