#!/usr/bin/env bash
# Installs the Python module zok, with the probing library it loads beside
# it, for python3 (the standard library is all it needs; PYTHON names
# another interpreter): builds the library in build/ (ZOK_BUILD_DIR names
# another tree), then copies both into the interpreter's user site directory
# or the one given. Offline.
#
#   scripts/install-python.sh [SITE_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${ZOK_BUILD_DIR:-$here/build}
python=${PYTHON:-python3}
site=${1:-$("$python" -m site --user-site)}
[ -f "$build/build.ninja" ] || cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target zok_probe_shared >/dev/null
mkdir -p "$site/zok"
cp "$here/python/zok/__init__.py" "$site/zok/"
cp -L "$build/libzok_probe.so" "$site/zok/libzok_probe.so"
# As installed, the module must find its library beside it.
(cd / && env -u ZOK_LIBRARY PYTHONPATH="$site" "$python" -c \
  'import zok; print("installed zok", zok.version(), "in", zok.__path__[0])')
