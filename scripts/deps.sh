#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests and the demo need, where they are missing:
# scripts/deps.sh [PACKAGE...] (no package: those of the build, the tests and the demo).
set -euo pipefail

packages=("$@")
[ ${#packages[@]} -gt 0 ] || packages=(cmake ninja-build g++ clang libgtest-dev libgmock-dev libbenchmark-dev
                                      libcli11-dev python3 python3-serial ser2net socat tmux groff-base man-db
                                      pkgconf dpkg-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update
"${as_root[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
