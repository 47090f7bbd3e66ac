#!/bin/sh
# Builds and tests every configuration: the PC build, the PC build under ASan+UBSan, and the
# device build (PowerPC) with every test under qemu-ppc; then runs each fuzzer for a bounded
# time (FUZZ_SECONDS, default 30; 0 skips them). Ends with one summary line.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
passed=0
failed=0
for preset in ${PRESETS:-host asan ppc}; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  log=build/ctest-$preset.log
  ctest --preset "$preset" >"$log" 2>&1 || true
  cat "$log"
  total=$(sed -n 's/.*tests failed out of \([0-9][0-9]*\).*/\1/p' "$log")
  bad=$(sed -n 's/.*, \([0-9][0-9]*\) tests failed out of.*/\1/p' "$log")
  if [ -z "$total" ]; then
    echo "ctest $preset: no result"
    failed=$((failed + 1))
    continue
  fi
  passed=$((passed + total - bad))
  failed=$((failed + bad))
done
if [ "$failed" -eq 0 ] && [ "${FUZZ_SECONDS:-30}" -gt 0 ] && command -v clang++-14 >/dev/null 2>&1; then
  sh scripts/fuzz.sh "${FUZZ_SECONDS:-30}" || failed=$((failed + 1))
fi
echo "all configurations: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
