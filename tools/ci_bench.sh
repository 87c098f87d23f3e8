#!/usr/bin/env bash
# CI: runs the benchmark's small version to prove that it builds, that the
# runs it times succeed and copy the right files, and that it prints its
# figures. The figures are not checked: timings on a shared CI machine say
# little, and the full benchmark is the one that tells (README, Benchmark).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(PATCHER_WERROR=1 "$root/bench/run.sh" --quick)
echo "ci_bench: the figures below are for information: a target missed here is"
echo "ci_bench: no failure (bench/run.sh on a quiet machine is what tells)"
echo "$out"
for figure in "16 MiB .* ratio " "512 KiB.* ratio " "4 KiB.* ratio " \
  "mis-cased .* ratio to exact case" "peak RSS: patcher [0-9.]* MiB" \
  "product key found .* s" "App Paths .* s" "discovery over .* s" \
  "batch-syncfs .* s" "[0-9.]* replacing files, [0-9.]* new files" \
  "files, .* folders: patcher .* us/file .* ratio " \
  "[0-9.]* system calls per file .* peak RSS: patcher [0-9.]* MiB"; do
  if ! grep -q -- "$figure" <<<"$out"; then
    echo "ci_bench: no figure matching '$figure'" >&2
    exit 1
  fi
done
echo "ci_bench: passed: the benchmark builds, its runs succeed and copy the right files"
