#!/usr/bin/env bash
# Cross-builds the Windows tree with mingw-w64 into build-windows/: the
# third-party libraries from Debian's sources (scripts/windows-deps.sh), then
# the project with cmake/mingw-w64.cmake. The executables land in
# build-windows/bin/, the signed installer in build-windows/dist/
# (packaging/windows/make-msi.sh). Pass --test to run the Windows suites and
# the installer check (scripts/installer-check.sh) under Wine after.
#   build-windows.sh [--test] [--sign-key KEY.pem --sign-cert CERTS.pem]
# Without a key the installer and halvix.exe are signed by a throwaway
# certificate; HALVIX_SIGN_KEY and HALVIX_SIGN_CERT stand for the options.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 [--test] [--sign-key KEY.pem --sign-cert CERTS.pem]" >&2; exit 2; }
run_tests=0
sign_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --test) run_tests=1; shift ;;
    --sign-key | --sign-cert) [ $# -ge 2 ] || usage; sign_options+=("$1" "$2"); shift 2 ;;
    *) usage ;;
  esac
done

bash scripts/setup.sh
jobs=$(nproc)

# Build-time generators run on this machine, so they come from a native tree.
echo "== native build tools"
cmake -S . -B build-windows/native -DCMAKE_BUILD_TYPE=Release -DHALVIX_BENCH=OFF >/dev/null
cmake --build build-windows/native -j"$jobs" --target halvix_blobgen

echo "== third-party libraries for Windows"
bash scripts/windows-deps.sh build-windows/deps

echo "== build (Windows, mingw-w64)"
cmake -S . -B build-windows -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" \
  -DHALVIX_WINDOWS_DEPS="$PWD/build-windows/deps" \
  -DHALVIX_BLOBGEN="$PWD/build-windows/native/bin/halvix_blobgen"
cmake --build build-windows -j"$jobs"

echo "== installer"
bash packaging/windows/make-msi.sh build-windows "${sign_options[@]}"

if [ "$run_tests" = 1 ]; then
  echo "== tests (Windows, under Wine)"
  # Windows programs that open windows need a display; Wine's first start of
  # the build's own prefix takes a few seconds.
  bash scripts/wine.sh "$PWD/build-windows" --prepare
  # One at a time: Wine programs started side by side have hung here. The
  # screen holds the window tests' largest window (1024 x 768 at 144 DPI).
  xvfb-run -a -s "-screen 0 1920x1200x24" ctest --test-dir build-windows --output-on-failure --timeout 300
  bash scripts/installer-check.sh build-windows
fi
