#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing (needs root for apt-get).
set -euo pipefail
packages=(cmake ninja-build g++ make pkg-config libssl-dev libgtest-dev libgmock-dev
          libbenchmark-dev nlohmann-json3-dev binutils "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages and not root: install them with apt-get first" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
