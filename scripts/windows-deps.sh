#!/usr/bin/env bash
# Cross-builds the third-party libraries of the Windows build (mingw-w64)
# from Debian's source packages, pinned to the versions of the installed
# Linux packages, and installs them as static libraries in PREFIX
# (default build-windows/deps). Sources are unpacked in build-windows/src.
# Does nothing when PREFIX already holds a build of the same versions made
# by the same recipe. Needs the packages and the deb-src entry of
# scripts/setup.sh.
#   scripts/windows-deps.sh [PREFIX]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
work=$root/build-windows
prefix=$(realpath -m "${1:-$work/deps}")
src=$work/src
downloads=$src/debian
toolchain=$root/cmake/mingw-w64.cmake
triple=x86_64-w64-mingw32
jobs=$(nproc)

log() { echo "== $*"; }
die() { echo "windows-deps: $*" >&2; exit 1; }

# Source package and version behind an installed binary package.
source_of() {
  local out
  out=$(dpkg-query -W -f='${source:Package} ${source:Version}' "$1" 2>/dev/null) ||
    die "package $1 is not installed; run scripts/setup.sh"
  echo "$out"
}

boost_dev=$(dpkg-query -S /usr/include/boost/version.hpp 2>/dev/null | cut -d: -f1) ||
  die "Boost headers are not installed; run scripts/setup.sh"
declare -A pin
for entry in luajit:libluajit-5.1-dev cjson:lua-cjson-dev lpeg:lua-lpeg-dev \
             lfs:lua-filesystem-dev luasocket:lua-socket-dev sqlite:libsqlite3-dev \
             libdeflate:libdeflate-dev boost:"$boost_dev" googletest:libgtest-dev \
             msgpack:libmsgpack-cxx-dev nlohmann:nlohmann-json3-dev zlib:libz-mingw-w64-dev; do
  pin[${entry%%:*}]=$(source_of "${entry#*:}")
done

recipe=$(cat "$0" "$toolchain" "$root"/cmake/windows-deps/* | sha256sum | cut -d' ' -f1)
stamp_text=$(for k in $(printf '%s\n' "${!pin[@]}" | sort); do echo "$k ${pin[$k]}"; done
             echo "recipe $recipe")
stamp=$prefix/.halvix-windows-deps
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$stamp_text" ]; then
  log "$prefix is up to date"
  exit 0
fi
if [ -e "$prefix" ] && [ ! -f "$stamp" ] && [ -n "$(ls -A "$prefix")" ]; then
  die "$prefix is not empty and was not made by this script; refusing to replace it"
fi
rm -rf "$prefix"
mkdir -p "$prefix"/{include,lib/pkgconfig} "$downloads"
echo incomplete >"$stamp"

# Downloads the pinned source package unless already there; echoes the .dsc.
fetch() {
  local pkg=$1 version=$2 dsc
  dsc=$downloads/${pkg}_${version#*:}.dsc
  if [ ! -f "$dsc.done" ]; then
    log "download $pkg $version" >&2
    (cd "$downloads" && apt-get source -q --download-only "$pkg=$version" >&2) ||
      die "apt-get source $pkg=$version failed (deb-src entry missing? run scripts/setup.sh)"
    touch "$dsc.done"
  fi
  echo "$dsc"
}

# Unpacks a source package with Debian's patches applied into $src/$2.
unpack() {
  local dsc=$1 dir=$src/$2
  rm -rf "$dir"
  # apt has checked the files against the signed archive index already.
  dpkg-source -q -x "$dsc" "$dir" >"$dir.unpack.log" 2>&1 || die "unpacking $dsc failed; see $dir.unpack.log"
}

for name in luajit cjson lpeg lfs sqlite libdeflate; do
  read -r pkg version <<<"${pin[$name]}"
  unpack "$(fetch "$pkg" "$version")" "$name"
done

# LuaSocket: Debian's packaging tarball of this version is no longer served,
# so the original tarball is used as it is (Debian's patches are not applied).
read -r pkg version <<<"${pin[luasocket]}"
upstream=${version#*:}; upstream=${upstream%-*}
orig=$downloads/${pkg}_${upstream}.orig.tar.gz
if [ ! -f "$orig" ]; then
  log "download $pkg $version (original tarball only)"
  (cd "$downloads" && apt-get source -q --download-only "$pkg=$version" >&2) || true
  [ -f "$orig" ] || die "could not download $orig"
fi
rm -rf "$src/luasocket" && mkdir -p "$src/luasocket"
tar -xzf "$orig" -C "$src/luasocket" --strip-components=1

# Boost: only the Boost.Thread and Boost.Chrono sources are taken out of the
# large original tarball; the headers are the installed ones. Debian's
# patches are not applied, so make sure none of them touches those sources.
read -r pkg version <<<"${pin[boost]}"
dsc=$(fetch "$pkg" "$version")
upstream=${version#*:}; upstream=${upstream%-*}
if tar -xJOf "${dsc%.dsc}.debian.tar.xz" --wildcards 'debian/patches/*' |
     grep -Eq '^\+\+\+ [^ ]*libs/(thread|chrono)/src/'; then
  die "a Debian patch of $pkg changes Boost.Thread or Boost.Chrono sources; apply it here"
fi
rm -rf "$src/boost" && mkdir -p "$src/boost"
tar -xJf "$downloads/${pkg}_${upstream}.orig.tar.xz" -C "$src/boost" --strip-components=1 \
  --wildcards '*/libs/thread/src/*' '*/libs/chrono/src/*'
boost_version=$(sed -n 's/^#define BOOST_LIB_VERSION "\([0-9_]*\)"/\1/p' /usr/include/boost/version.hpp | tr _ .)
[[ $boost_version == *.*.* ]] || boost_version=$boost_version.0

log "LuaJIT"
make -C "$src/luajit" -j"$jobs" amalg Q= E=@: HOST_CC=gcc CC=gcc-posix CROSS=$triple- \
  TARGET_SYS=Windows BUILDMODE=static >"$src/luajit.log" 2>&1 || die "LuaJIT failed; see $src/luajit.log"
luajit_inc=$prefix/include/luajit-2.1
mkdir -p "$luajit_inc" "$prefix/bin"
(cd "$src/luajit/src" &&
  cp lua.h lualib.h lauxlib.h luaconf.h lua.hpp luajit.h "$luajit_inc/" &&
  cp libluajit.a "$prefix/lib/libluajit-5.1.a" &&
  cp luajit.exe "$prefix/bin/")
# A static Windows library needs none of the Linux link flags.
sed -e "s|^prefix=.*|prefix=$prefix|" -e 's|^Libs.private:.*|Libs.private:|' \
  "$src/luajit/etc/luajit.pc" >"$prefix/lib/pkgconfig/luajit.pc"

log "libdeflate"
make -C "$src/libdeflate" -j"$jobs" libdeflatestatic.lib CC=$triple-gcc-posix AR=$triple-ar \
  >"$src/libdeflate.log" 2>&1 || die "libdeflate failed; see $src/libdeflate.log"
cp "$src/libdeflate/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
cp "$src/libdeflate/libdeflate.h" "$prefix/include/"
deflate_version=$(sed -n 's/#define LIBDEFLATE_VERSION_STRING.*"\(.*\)"/\1/p' "$src/libdeflate/libdeflate.h")
sed -e "s|@PREFIX@|$prefix|" -e "s|@LIBDIR@|$prefix/lib|" -e "s|@INCDIR@|$prefix/include|" \
  -e "s|@VERSION@|$deflate_version|" "$src/libdeflate/libdeflate.pc.in" >"$prefix/lib/pkgconfig/libdeflate.pc"

# The package compiles SQLite file by file; the amalgamation, made by the
# tree's own tools on the build machine, is the same code in one unit.
log "SQLite amalgamation"
mkdir -p "$src/sqlite/amalgamation"
(cd "$src/sqlite/amalgamation" && ../configure -q --disable-tcl >/dev/null &&
  make -j"$jobs" sqlite3.c) >"$src/sqlite.log" 2>&1 ||
  die "SQLite amalgamation failed; see $src/sqlite.log"
cp "$src/sqlite/src/sqlite3ext.h" "$src/sqlite/amalgamation/"

# Header-only libraries: links to Debian's headers, never to all of
# /usr/include, which holds Linux headers. Their CMake package files are
# linked where the relative paths inside them lead back to this prefix.
ln -s /usr/include/boost /usr/include/msgpack /usr/include/msgpack.hpp /usr/include/nlohmann \
  "$prefix/include/"
mkdir -p "$prefix/msgpack/lib/cmake/msgpackc-cxx" "$prefix/share/cmake/nlohmann_json"
ln -s /usr/lib/x86_64-linux-gnu/cmake/msgpackc-cxx/*.cmake "$prefix/msgpack/lib/cmake/msgpackc-cxx/"
ln -s /usr/share/cmake/nlohmann_json/*.cmake "$prefix/share/cmake/nlohmann_json/"

log "Lua modules, SQLite, Boost.Thread"
build=$work/deps-build
rm -rf "$build"
cmake -S "$root/cmake/windows-deps" -B "$build/small" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DHALVIX_WINDOWS_DEPS="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DLUAJIT_INCLUDE_DIR="$luajit_inc" -DCJSON_SOURCE_DIR="$src/cjson" -DLPEG_SOURCE_DIR="$src/lpeg" \
  -DLFS_SOURCE_DIR="$src/lfs" -DLUASOCKET_SOURCE_DIR="$src/luasocket" \
  -DSQLITE_AMALGAMATION_DIR="$src/sqlite/amalgamation" -DSQLITE_DEBIAN_RULES="$src/sqlite/debian/rules" \
  -DBOOST_SOURCE_DIR="$src/boost" -DBOOST_VERSION="$boost_version" >"$src/small.log"
cmake --build "$build/small" -j"$jobs" >>"$src/small.log" 2>&1 || die "build failed; see $src/small.log"
cmake --install "$build/small" >>"$src/small.log"

log "GoogleTest"
cmake -S /usr/src/googletest -B "$build/googletest" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DHALVIX_WINDOWS_DEPS="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF >"$src/googletest.log"
cmake --build "$build/googletest" -j"$jobs" >>"$src/googletest.log" 2>&1 ||
  die "GoogleTest failed; see $src/googletest.log"
cmake --install "$build/googletest" >>"$src/googletest.log"

echo "$stamp_text" >"$stamp"
log "installed in $prefix"
