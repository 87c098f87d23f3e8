#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test: the native
# build and its tests, then patcher.exe under Wine against the native build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install_deps.sh all
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$(nproc)"
ctest --preset ci -j"$(nproc)"
tools/ci_hostile.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows
tools/ci_bench.sh  # the benchmark, small, as a smoke test
