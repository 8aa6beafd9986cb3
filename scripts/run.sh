#!/usr/bin/env bash
# The main job: builds the host's tools and runs the example Lua application
# in a real SDK activation (hot-development mode) for three seconds, with two
# packed calls.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)" --target corvel-lua

# MessagePack of ["api.hello.greet", "Halvix"] and ["api.hello.add", 2, 40]
greet=92af6170692e68656c6c6f2e6772656574a648616c766978
add=93ad6170692e68656c6c6f2e6164640228
exec build/bin/corvel-lua --app examples/hello --seconds 3 --call "$greet" --call "$add"
