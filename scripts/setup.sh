#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the fuzzers and the
# benchmarks need. Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  clang libclang-rt-14-dev            # libFuzzer targets
  luajit libluajit-5.1-dev
  lua-cjson-dev lua-socket-dev lua-lpeg-dev lua-filesystem-dev lua-md5-dev
  lua-sql-sqlite3-dev libsqlite3-dev lua-messagepack
  zlib1g-dev libdeflate-dev          # zlib compresses; libdeflate has the fast CRC-32
  libboost-dev libboost-thread-dev
  libmsgpack-cxx-dev
  libssl-dev openssl                  # Chroma Connect library signatures
  nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  iproute2 util-linux procps
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
