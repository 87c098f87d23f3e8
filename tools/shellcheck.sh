#!/usr/bin/env bash
# Checks every shell script in the repository with shellcheck and fails on
# any finding, whatever its severity. Usage: tools/shellcheck.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
tools/install_deps.sh --check lint

# The scripts git tracks; outside a checkout, the ones in the tree.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t scripts < <(git ls-files '*.sh' .ci/run)
else
  mapfile -t scripts < <(find . -path './build*' -prune -o \
    \( -name '*.sh' -o -path ./.ci/run \) -type f -print | sort)
fi
# -x follows a script's "# shellcheck source=" to the file it sources.
shellcheck -x "${scripts[@]}"
echo "shellcheck: ${#scripts[@]} scripts, no findings"
