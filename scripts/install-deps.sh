#!/usr/bin/env bash
# Installs every Debian package needed to build, test and run Quillmarsh.
# Idempotent: does nothing when all packages are present.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-tools-dev-tools libqt6sql6-sqlite
  qt6-webengine-dev qt6-webengine-dev-tools
  qt6-multimedia-dev qt6-image-formats-plugins
  qcoro-qt6-dev libgl-dev libglx-dev zlib1g-dev
  dbus xvfb xauth
  python3 zip openssl
  desktop-file-utils appstream dpkg-dev file valgrind
  fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  SUDO=sudo
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
