#!/usr/bin/env bash
# Stages the Python package of python/ for python3-zxcollector: its import package (the
# folder with __init__.py, at python/<name>/ or python/src/<name>/) goes to
# /usr/lib/python3/dist-packages/<name>/, without tests and byte code. The package loads
# libzxcollector_api.so.3 from the system paths, where libzxcollector-api3 puts it.
#   python-package.sh <python folder> <package root>
set -euo pipefail
python=$1 root=$2
init=$(find "$python" -maxdepth 3 -name __init__.py -path '*zxcollector*' ! -path '*/tests/*' |
  awk '{print length, $0}' | sort -n | head -n 1 | cut -d' ' -f2-)
[ -n "$init" ] || { echo "python-package: no import package with __init__.py below $python" >&2; exit 1; }
package=$(dirname "$init")
dest=$root/usr/lib/python3/dist-packages
mkdir -p "$dest"
cp -r "$package" "$dest/"
find "$dest" \( -name __pycache__ -o -name tests -o -name '*.pyc' \) -prune -exec rm -rf {} +
