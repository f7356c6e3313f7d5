#!/bin/sh
# Installs every Debian 12 package KVAAgent needs to build, test and run.
# Idempotent: when all packages are present it only checks and exits.
set -eu

PACKAGES="
  build-essential cmake ninja-build pkg-config git
  libsdl2-dev libimgui-dev libgl-dev libgl1-mesa-dri libstb-dev
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev libgstreamer-plugins-bad1.0-dev
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  gstreamer1.0-plugins-ugly gstreamer1.0-nice gstreamer1.0-libav gstreamer1.0-x
  libavcodec-dev libavutil-dev
  libcurl4-openssl-dev nlohmann-json3-dev
  libzmq3-dev cppzmq-dev
  libcpp-httplib-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb x11-utils
  python3 python3-zmq python3-numpy
"

missing=""
for p in $PACKAGES; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done

if [ -z "$missing" ]; then
  echo "install-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
# shellcheck disable=SC2086
$SUDO apt-get install -y -q --no-install-recommends $missing
