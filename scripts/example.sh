#!/usr/bin/env bash
# Installs the probing library from a build into a temporary prefix, builds
# examples/ (a C-only project) against its static and its shared library
# through find_package(zok) as an engine would, and runs both on a directory
# of KQK databases made by that build's zok.
#
#   scripts/example.sh [BUILD_DIR]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here/examples" -B "$work/example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/example" >/dev/null
mkdir "$work/dbs"
(cd "$work/dbs" && "$build/zok" -b KQK >/dev/null)
# Both libraries are installed; the shared one (soname libzok_probe.so.3)
# exports the zok_* calls alone, and only the shared example loads it.
so=$(ls "$work"/prefix/lib*/libzok_probe.so.3)
ls "$work"/prefix/lib*/libzok_probe.a >/dev/null
others=$(nm -D --defined-only "$so" | grep -v ' T zok_' || true)
if [ -n "$others" ]; then
  printf 'exported besides zok_*:\n%s\n' "$others"
  exit 1
fi
ldd "$work/example/probe_example_shared" | grep -q "libzok_probe.so.3 => $so"
if ldd "$work/example/probe_example" | grep -q libzok_probe; then
  echo "the static example loads the shared library"
  exit 1
fi
expected="8/8/8/5k2/8/8/1Q6/K7 w - - 0 1: mate 10 a1a2
8/8/8/8/4k3/8/1Q6/K7 b - - 0 1: mated 10 e4f5
8/8/8/8/8/2k5/1R6/K7 w - - 0 1: unknown: KRK____W missing
8/8/8/8/8/8/8/K1k5 w - - 0 1: draw a1a2"
for program in probe_example probe_example_shared; do
  got=$("$work/example/$program" "$work/dbs")
  if [ "$got" != "$expected" ]; then
    printf '%s got:\n%s\nexpected:\n%s\n' "$program" "$got" "$expected"
    exit 1
  fi
done
echo "examples probed the installed static and shared libraries"
