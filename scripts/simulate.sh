#!/bin/sh
# Builds the PC configuration and starts the simulator on a device root (default ./sim-root).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
cmake --preset host >/dev/null
cmake --build --preset host
root=${1:-sim-root}
if [ -x build/host/bin/stationd-sim ]; then
  mkdir -p "$root"
  exec build/host/bin/stationd-sim --root "$root"
fi
echo "built; the executables are in $(pwd)/build/host/bin:"
ls build/host/bin
