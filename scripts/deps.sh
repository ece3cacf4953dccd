#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Safe to run again.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libcups2-dev libusb-1.0-0-dev libpango1.0-dev libcairo2-dev libzint-dev libpng-dev libspng-dev
  libudev-dev dpkg-dev doxygen
  cups cups-client cups-bsd
  fonts-dejavu-core fonts-liberation fonts-noto-cjk
  zbar-tools socat iproute2 util-linux libstb-dev qrencode
  umockdev libumockdev-dev gir1.2-umockdev-1.0
  python3 python3-pytest python3-setuptools
  libcpp-httplib-dev help2man chromium
  libpappl-dev cups-ipp-utils ghostscript
  clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
      echo "deps.sh: these Debian packages are missing: ${missing[*]}" >&2
      echo "deps.sh: run as root: apt-get update && apt-get install -y ${missing[*]}" >&2
      exit 1
    fi
    SUDO="sudo"
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
