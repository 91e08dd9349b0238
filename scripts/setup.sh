#!/bin/sh
# Installs the Debian packages that building, testing and the demo need.
# Packages already present are skipped; with nothing missing it touches nothing.
set -eu

PACKAGES="
build-essential cmake pkg-config make git ca-certificates
clang libclang-rt-14-dev clang-format
libopenscenegraph-dev openscenegraph
libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
libgdal-dev gdal-bin libproj-dev proj-data proj-bin
libeigen3-dev librapidxml-dev zlib1g-dev
googletest libgtest-dev libgmock-dev libbenchmark-dev
xvfb xauth x11-apps x11-utils imagemagick xdotool
libgl1-mesa-dri libglx-mesa0 mesa-utils libglvnd-dev
fonts-liberation
python3 strace
"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done

if [ -z "$missing" ]; then
    echo "setup: all packages present"
    exit 0
fi

echo "setup: installing:$missing"
SUDO=""
if [ "$(id -u)" != 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
# shellcheck disable=SC2086
$SUDO apt-get install -y --no-install-recommends $missing
