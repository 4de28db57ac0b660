#!/bin/sh
# Installs the Debian 12 packages that Brenvo needs to build, test and run.
# As root it installs what is missing; as another user it asks sudo to run it as root, and
# where there is no sudo it names the missing packages and says how to install them.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libsqlite3-dev nlohmann-json3-dev libcli11-dev
  libnftables-dev nftables libmnl-dev
  libpcap-dev
  libsdbus-c++-dev libsdbus-c++-bin libsystemd-dev dbus-daemon polkitd
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  fonts-dejavu-core
  iproute2 tcpdump
  file lintian systemd dbus
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
  if command -v sudo >/dev/null 2>&1; then
    echo "install-deps: installing$missing as root, through sudo" >&2
    exec sudo -- "$0" "$@"
  fi
  echo "install-deps: missing packages:$missing" >&2
  echo "install-deps: there is no sudo here; run this script as root (for example: su -c $0)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing
echo "install-deps: installed$missing"
