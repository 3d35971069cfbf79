#!/usr/bin/env bash
# Installs the Debian packages Quillo needs (only those missing), then configures and builds it
# in build/. Safe to run again: an up-to-date tree builds in seconds.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(g++ cmake ninja-build pkg-config libsqlite3-dev libssl-dev openssl qt6-base-dev
          qt6-webengine-dev qtkeychain-qt6-dev
          libgtest-dev libgmock-dev fonts-noto-cjk xvfb xauth tzdata)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build="${QUILLO_BUILD_DIR:-$here/build}"
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2
