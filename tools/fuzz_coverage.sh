#!/usr/bin/env bash
# Reports the line and branch coverage that each fuzz target's corpus
# (build-fuzz/corpus/TARGET and the seeds) reaches in the code it feeds,
# from a build with clang's source-based coverage in build-fuzz-cov.
# Usage: tools/fuzz_coverage.sh [TARGET...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
targets=("$@")
# Every target has its seeds in fuzz/corpus/TARGET.
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(ls fuzz/corpus)
tools/install_deps.sh --check coverage
cmake -S . -B build-fuzz-cov -DCMAKE_CXX_COMPILER=clang++ -DPATCHER_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build build-fuzz-cov -j"$(nproc)" >/dev/null

declare -A sources=(
  [list]="src/list/patch_list.cc src/run/check.cc src/run/patch_run.cc src/game/install_dir.cc"
  [registry]="src/wine/registry.cc src/run/check.cc src/game/install_dir.cc"
  [path]="src/wine/windows_path.cc src/wine/host_path.cc"
  [nls]="src/text/code_page.cc src/text/case_table.cc src/text/ansi_text.cc"
  [launcher]="src/prefixes/vdf.cc src/prefixes/launcher_config.cc"
)
for t in "${targets[@]}"; do
  out=build-fuzz-cov/$t
  mkdir -p "build-fuzz/corpus/$t"
  rm -f "$out".profraw
  LLVM_PROFILE_FILE="$out.profraw" "build-fuzz-cov/fuzz/${t}_fuzzer" -runs=0 \
    "build-fuzz/corpus/$t" "fuzz/corpus/$t" >/dev/null 2>&1
  llvm-profdata merge -sparse "$out.profraw" -o "$out.profdata"
  echo "== $t ($(find "build-fuzz/corpus/$t" "fuzz/corpus/$t" -type f | wc -l) inputs)"
  # shellcheck disable=SC2086  # the sources are several words
  llvm-cov report "build-fuzz-cov/fuzz/${t}_fuzzer" \
    -instr-profile="$out.profdata" ${sources[$t]}
done
