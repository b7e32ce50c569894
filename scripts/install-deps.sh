#!/usr/bin/env bash
# Installs what building and testing Quillmark needs on Debian 12 (run as root, or with sudo
# available). Packages already present are not fetched again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config git
    libgtest-dev libgmock-dev libbenchmark-dev libpcre2-dev
    qt6-base-dev libgmime-3.0-dev libpff-dev libbfio-dev libjemalloc-dev libsqlite3-dev
    libytnef0-dev libuchardet-dev libgumbo-dev
    clang libclang-rt-14-dev
    python3 man-db
    chromium
    "$@"
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "Installing: ${missing[*]}"
"${as_root[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -q --no-install-recommends \
    -o DPkg::Lock::Timeout=600 "${missing[@]}"
