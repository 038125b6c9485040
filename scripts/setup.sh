#!/usr/bin/env bash
# Installs what the build and the tests need from Debian packages, when missing.
set -euo pipefail
# gaviotatb: the independent three-man reference of the probing tests;
# python3: the Python module and its tests; zok-serve: HTTP server and JSON
# libraries, and its page test drives Chromium with Node.
packages=(cmake ninja-build g++ make libgtest-dev libbenchmark-dev clang clang-format
  gaviotatb libgaviotatb-dev python3 python3-pytest
  pkg-config libcpp-httplib-dev nlohmann-json3-dev chromium nodejs)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" </dev/null
fi
