#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds
# (default 15, or the first argument).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}

cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DHALVIX_FUZZ=ON -DHALVIX_BENCH=OFF
cmake --build build-fuzz -j"$(nproc)" --target halvix_fuzz_targets

shopt -s nullglob
status=0
for target in build-fuzz/bin/fuzz_*; do
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  echo "-- $name (${seconds}s)"
  if ! LSAN_OPTIONS=suppressions=$PWD/fuzz/lsan.supp "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix=build-fuzz/ "$corpus" \
      > "build-fuzz/$name.log" 2>&1; then
    tail -n 60 "build-fuzz/$name.log"
    status=1
  fi
done
exit $status
