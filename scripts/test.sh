#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite twice: once
# in an optimised build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer. Then the fuzz targets get a short smoke run.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)

echo "== build (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIX_BENCH=ON
cmake --build build -j"$jobs"
echo "== tests (RelWithDebInfo)"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHALVIX_SANITIZE=ON -DHALVIX_BENCH=OFF
cmake --build build-asan -j"$jobs"
echo "== tests (sanitizers)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzz smoke"
bash scripts/fuzz.sh 15
