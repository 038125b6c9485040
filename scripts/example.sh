#!/usr/bin/env bash
# Installs the probing library from a build into a temporary prefix, builds
# examples/ (a C-only project) against its static and its shared library
# through find_package(zok) as an engine would, and runs both on a directory
# of KQK databases made by that build's zok.
#
#   scripts/example.sh [BUILD_DIR]
set -euo pipefail
trap 'echo "example.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Runs a step silently, showing what it printed only when it fails.
quiet() {
  local out
  out=$("$@" 2>&1) || { printf '%s\n' "$out" >&2; return 1; }
}
quiet cmake --install "$build" --prefix "$work/prefix"
quiet cmake -S "$here/examples" -B "$work/example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$work/prefix"
quiet cmake --build "$work/example"
mkdir "$work/dbs"
(cd "$work/dbs" && quiet "$build/zok" -b KQK)
# Both libraries are installed; the shared one (soname libzok_probe.so.3)
# exports the zok_* calls alone, and only the shared example loads it.
so=$(ls "$work"/prefix/lib*/libzok_probe.so.3)
ls "$work"/prefix/lib*/libzok_probe.a >/dev/null
others=$(nm -D --defined-only "$so" | grep -v ' T zok_' || true)
if [ -n "$others" ]; then
  printf 'exported besides zok_*:\n%s\n' "$others"
  exit 1
fi
# ldd's whole output is read first: grep -q leaving early would kill ldd
# with SIGPIPE, which pipefail reports as a failure.
shared_deps=$(ldd "$work/example/probe_example_shared")
if ! grep -qF "libzok_probe.so.3 => $so" <<<"$shared_deps"; then
  printf 'the shared example does not load %s:\n%s\n' "$so" "$shared_deps"
  exit 1
fi
static_deps=$(ldd "$work/example/probe_example")
if grep -q libzok_probe <<<"$static_deps"; then
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
