#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev libasound2-dev libcurl4-openssl-dev libssl-dev openssl libminizip-dev zlib1g-dev
  nlohmann-json3-dev libplist-dev libicu-dev libxml2-dev libpng-dev libjpeg-dev libgif-dev libtiff-dev shared-mime-info dbus-daemon
  libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev libsystemd-dev
  xvfb xauth curl ccache
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
