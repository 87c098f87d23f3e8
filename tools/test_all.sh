#!/usr/bin/env bash
# Installs what it needs, then builds everything with warnings as errors and
# runs every test: shellcheck on the scripts, the native build and its tests,
# the tests under the sanitizers and the fuzz targets, patcher.exe under Wine
# against the native build, the release (its files, its package, and the
# end-to-end and minimal-root suites on its static program), and the
# benchmark's small version.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install_deps.sh all
tools/shellcheck.sh
cmake --preset ci >/dev/null
cmake --build --preset ci -j"$(nproc)"
ctest --preset ci -j"$(nproc)"
tools/ci_hostile.sh
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$(nproc)"
ctest --preset windows
tools/release.sh
bash tests/release_test.sh out/release examples
tools/ci_bench.sh  # the benchmark, small, as a smoke test
