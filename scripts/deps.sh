#!/usr/bin/env bash
# Installs the Debian packages Brisal needs to build, run and test, if any are missing.
# Safe to run again: it does nothing when everything is there.
set -euo pipefail

packages=(
    cmake g++ ninja-build pkg-config
    libgtest-dev libgmock-dev libbenchmark-dev
    libssl-dev openssl
    qt6-base-dev fonts-urw-base35
    xvfb xauth x11-apps x11-utils imagemagick xdotool
    clang-format clang
    ngircd ii dante-server microsocks util-linux mount
    # The Windows build of the core, and wine to run its suites.
    g++-mingw-w64-x86-64 googletest wine wine64
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi
