#!/usr/bin/env bash
# Builds the fuzz targets (fuzz preset) and runs each for a bounded time.
# Usage: tools/fuzz.sh [SECONDS] [TARGET...]   (default: 30 s, every target)
# Targets: list, registry, path, nls, launcher (each has its seeds in
# fuzz/corpus/TARGET); they run side by side. The corpus each run grows is
# kept in build-fuzz/corpus/TARGET and reused by the next run; the seeds in
# fuzz/corpus/TARGET are read every time. A crashing input is written to
# build-fuzz/artifacts/ and the script fails. FUZZ_FLAGS adds libFuzzer
# flags, e.g. FUZZ_FLAGS=-max_len=300000 for inputs beyond 4 KiB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
seconds=${1:-30}
shift || true
targets=("$@")
# Every target has its seeds in fuzz/corpus/TARGET.
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(ls fuzz/corpus)

tools/install_deps.sh --check fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" >/dev/null

# All targets at once; each prints its line when all are done.
mkdir -p build-fuzz/artifacts
pids=()
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  # shellcheck disable=SC2086  # FUZZ_FLAGS holds several words
  "build-fuzz/fuzz/${t}_fuzzer" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -print_final_stats=1 -dict="fuzz/$t.dict" \
    -artifact_prefix="build-fuzz/artifacts/$t-" ${FUZZ_FLAGS:-} \
    "build-fuzz/corpus/$t" "fuzz/corpus/$t" >"build-fuzz/$t.log" 2>&1 &
  pids+=($!)
done
status=0
for i in "${!targets[@]}"; do
  t=${targets[$i]} log=build-fuzz/${targets[$i]}.log result=ok
  wait "${pids[$i]}" || result=FAILED
  if [ "$result" != ok ]; then
    status=1
    grep -E -A12 'ERROR|check failed|Test unit written' "$log" | head -40
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -Eo 'cov: [0-9]+ ft: [0-9]+' "$log" | tail -1)
  printf '%-8s %s: %s runs in %ss, %s, corpus %s\n' "$t" "$result" \
    "${runs:-?}" "$seconds" "${cov:-?}" "$(find "build-fuzz/corpus/$t" -type f | wc -l)"
done
exit $status
