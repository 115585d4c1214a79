#!/usr/bin/env bash
# Installs what building, testing and the demo need, from Debian's packages. Run as root; does nothing when all
# of it is there already.
set -euo pipefail
packages=(
    cmake ninja-build g++ clang pkg-config
    libzstd-dev libxxhash-dev libsodium-dev zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
    dosfstools mtools ntfs-3g bc
    qt6-base-dev qt6-base-dev-tools libgl-dev xvfb xauth xdotool imagemagick
    dpkg-dev desktop-file-utils xdg-utils shared-mime-info libfile-mimeinfo-perl
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi
