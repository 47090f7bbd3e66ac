#!/bin/sh
# Installs what the build and the tests need on a Debian 12 machine (as root), only when missing.
set -eu
packages="g++ cmake ninja-build libgtest-dev libgmock-dev libbenchmark-dev g++-powerpc-linux-gnu
qemu-user clang-14 libclang-rt-14-dev iproute2 util-linux procps"
missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq $missing
fi
