#!/bin/sh
# Builds the libFuzzer targets and runs each for the given number of seconds (default 30)
# from its committed seed corpus. New inputs go to a scratch folder, not into the tree.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-30}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in build/fuzz/bin/*_fuzz; do
  name=$(basename "$target" _fuzz)
  scratch=build/fuzz/corpus/$name
  mkdir -p "$scratch"
  echo "== fuzz $name for ${seconds}s"
  log=build/fuzz/$name.log
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$(pwd)/build/fuzz/$name-" \
      "$scratch" "fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz $name: FAILED"
    exit 1
  fi
  tail -n 3 "$log"
done
