#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the fuzzers and the
# benchmarks need, and what the Windows cross build needs (mingw-w64, Wine,
# and Debian's source packages for scripts/windows-deps.sh). Safe to run
# again: apt-get skips what is already there.
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
  # Windows cross build; the -posix compilers have std::thread
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 xvfb xauth osslsigncode
  wixl binutils                       # the Windows installer (wixl), its check (strings)
  dpkg-dev xz-utils tcl               # apt-get source; SQLite's amalgamation is made with tclsh
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
updated=no

# scripts/windows-deps.sh fetches Debian's sources with apt-get source.
if ! grep -Eqs '^[[:space:]]*(deb-src[[:space:]]|Types:.*deb-src)' \
     /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; then
  $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  $SUDO apt-get update
  updated=yes
fi

if [ "${#missing[@]}" -gt 0 ]; then
  [ "$updated" = yes ] || $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
