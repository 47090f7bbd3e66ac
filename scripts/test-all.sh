#!/bin/sh
# Builds and tests every configuration: the PC build, the PC build under ASan+UBSan, and the
# device build (PowerPC) with every test under qemu-ppc; then runs each fuzzer for a bounded time.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
for preset in ${PRESETS:-host asan ppc}; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
if [ "${FUZZ_SECONDS:-30}" -gt 0 ] && command -v clang++-14 >/dev/null 2>&1; then
  sh scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
fi
