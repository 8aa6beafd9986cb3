#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite twice: once
# in an optimised build and once under AddressSanitizer and
# UndefinedBehaviorSanitizer. The suites whose code hands work between
# threads run again under ThreadSanitizer. The whole system gets a 30-second
# soak run, and the fuzz targets a short smoke run. Last, the Windows tree is
# cross-built, its suites run under Wine, and its installer is installed,
# run and uninstalled in a new Wine prefix. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

jobs=$(nproc)

echo "== build (RelWithDebInfo)"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIX_BENCH=ON
cmake --build build -j"$jobs"
echo "== tests (RelWithDebInfo)"
ctest --test-dir build --output-on-failure -j"$jobs"
echo "== soak (30 s)"
bash scripts/soak.sh --build build --seconds 30

echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DHALVIX_SANITIZE=ON -DHALVIX_BENCH=OFF
cmake --build build-asan -j"$jobs"
echo "== tests (sanitizers)"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

# Threads meet in the SDK (platform thread and worker), the engine stand-in
# (platform thread and socket thread), the plugin, the socket layer, the
# Chroma bridge (library thread, worker and platform thread) and the host.
tsan_suites=(test_sdk test_sdk_plugin test_flutter_engine test_zsocket_sockets test_platform test_chroma test_host)
echo "== build (ThreadSanitizer)"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVIX_SANITIZE=thread -DHALVIX_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target "${tsan_suites[@]}" corvel-lua
echo "== tests (ThreadSanitizer)"
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L "^($(IFS='|'; echo "${tsan_suites[*]}"))\$"

echo "== fuzz smoke"
bash scripts/fuzz.sh 15

echo "== Windows (mingw-w64 build and installer, tests and installer check under Wine)"
bash scripts/build-windows.sh --test
