#!/usr/bin/env bash
# The main job: installs and builds, then shows the whole system at work for
# --seconds N (default 10): the Chroma colour from a signed stand-in Chroma
# Connect library, through halvix, the SDK runtime and the demo Lua lamp
# application, to three simulated lamps drawn live in this terminal (see
# scripts/demo-flow.sh). Ends with halvix's exit code.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=10
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N]" >&2; exit 2 ;;
  esac
done

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target demo_flow
exec bash scripts/demo-flow.sh --build build --seconds "$seconds"
