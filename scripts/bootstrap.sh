#!/usr/bin/env bash
# Installs the Debian packages that building and testing need. Quiet and idempotent: the package
# index is refreshed only when something is missing.
set -euo pipefail

packages=(
  g++
  cmake
  ninja-build
  pkg-config
  libgtest-dev
  libgmock-dev
  nlohmann-json3-dev
  libsystemd-dev
  libplist-dev
  libxml2-dev
  libpcre2-dev
  uuid-dev
  libmnl-dev
  iproute2
  libssl-dev
  qt6-base-dev
  qt6-svg-dev
  fonts-dejavu-core
  libsecret-1-dev
  gnome-keyring
  libcurl4-openssl-dev
  dbus-daemon
  libblkid-dev
  udisks2
  udev
  fdisk
  e2fsprogs
  openssl
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "bootstrap: need root (or sudo) to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "bootstrap: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
