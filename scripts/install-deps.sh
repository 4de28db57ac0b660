#!/bin/sh
# Installs the Debian 12 packages that Brenvo needs to build, test and run.
# As root it installs what is missing; otherwise it names the missing packages.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libsqlite3-dev
  libnftables-dev nftables
  libpcap-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  fonts-dejavu-core
  iproute2 tcpdump
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing="$missing $p"
  fi
done

if [ -z "$missing" ]; then
  echo "install-deps: all packages are installed"
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages:$missing" >&2
  echo "install-deps: run this script as root (sudo $0) to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
echo "install-deps: installed$missing"
