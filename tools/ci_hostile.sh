#!/usr/bin/env bash
# Hostile input and faults: the whole test suite (end-to-end, fault and
# hostile-input tests included) built with AddressSanitizer and
# UndefinedBehaviorSanitizer, then every fuzz target for a bounded time
# (FUZZ_SECONDS, default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install_deps.sh --check sanitizers

step() { echo "== $1: $(($(date +%s) - started)) s"; }
started=$(date +%s)
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$(nproc)" >/dev/null
step "sanitizer build"
started=$(date +%s)
ctest --preset asan -j"$(nproc)"
step "test suite under the sanitizers"
started=$(date +%s)
tools/fuzz.sh "${FUZZ_SECONDS:-30}"
step "fuzz build and runs"
