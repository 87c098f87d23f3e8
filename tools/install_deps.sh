#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they are
# missing. Usage: tools/install_deps.sh [package...] (default: the basics)
set -euo pipefail
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=(make cmake g++ libgtest-dev)
missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "installing: ${missing[*]}"
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
