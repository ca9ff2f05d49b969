#!/usr/bin/env bash
# Installs the Debian packages Lumaro builds, tests and benchmarks with.
# Idempotent: packages already present are skipped, so repeated runs are quick.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang
  qt6-base-dev qt6-tools-dev qt6-declarative-dev qt6-svg-dev libqt6opengl6-dev
  libgl-dev zlib1g-dev libssl-dev libexiv2-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libsqlite3-dev
  nginx-light python3-httpbin tinyproxy microsocks
  libvips-tools curl openssl time xvfb xauth
  desktop-file-utils appstream dpkg-dev
  iproute2 util-linux
  clang-format gcovr
  qtkeychain-qt6-dev gnome-keyring dbus-daemon dbus-bin
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
