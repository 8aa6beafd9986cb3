#!/usr/bin/env bash
# Makes the Windows installer from a built Windows tree: stages what a
# running halvix.exe needs (support.dat, lua\, the demo's lsd\ls.lsd and
# lamps.conf) and the licences of the third-party code linked into it,
# signs halvix.exe, builds a Windows Installer package with wixl and signs
# that too (Authenticode, osslsigncode).
#   make-msi.sh BUILD-DIR [--sign-key KEY.pem --sign-cert CERTS.pem]
# Writes BUILD-DIR/dist/halvix-VERSION-x64.msi; its work folder is
# BUILD-DIR/packaging. Without a key, a throwaway self-signed code-signing
# certificate is made once in BUILD-DIR/packaging/signer and used.
# Environment: HALVIX_SIGN_KEY and HALVIX_SIGN_CERT stand for the options;
# HALVIX_SIGN_PASS_FILE holds the key's passphrase; HALVIX_SIGN_TIMESTAMP is
# a time-stamping server's URL (a release needs one, so that its signature
# outlives the certificate); HALVIX_SIGN_CA is the CA file that
# scripts/installer-check.sh verifies a real signature with (default: the
# system's trust store).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:?usage: $0 BUILD-DIR [--sign-key KEY --sign-cert CERTS]}")
shift
key=${HALVIX_SIGN_KEY:-}
cert=${HALVIX_SIGN_CERT:-}
while [ $# -gt 0 ]; do
  case "$1" in
    --sign-key) key=$(realpath "$2"); shift 2 ;;
    --sign-cert) cert=$(realpath "$2"); shift 2 ;;
    *) echo "usage: $0 BUILD-DIR [--sign-key KEY --sign-cert CERTS]" >&2; exit 2 ;;
  esac
done
if { [ -n "$key" ] && [ -z "$cert" ]; } || { [ -z "$key" ] && [ -n "$cert" ]; }; then
  echo "make-msi: a signing key needs its certificate and the other way round" >&2
  exit 2
fi

die() { echo "make-msi: $*" >&2; exit 1; }
for tool in wixl wixl-heat osslsigncode openssl x86_64-w64-mingw32-strip; do
  command -v "$tool" > /dev/null || die "$tool is missing; run scripts/setup.sh"
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || die "$build is not a configured build tree"

work=$build/packaging
stage=$work/stage
rm -rf "$stage" "$work"/*.wxs "$work"/*.msi
mkdir -p "$stage/lsd" "$stage/licences" "$build/dist"

for file in bin/halvix.exe bin/support.dat bin/lua/socket.lua demo/lsd/ls.lsd; do
  [ -f "$build/$file" ] || die "$build/$file is missing; build the Windows tree first"
done
cp "$build/bin/halvix.exe" "$build/bin/support.dat" "$stage/"
cp -r "$build/bin/lua" "$stage/lua"
cp "$build/demo/lsd/ls.lsd" "$stage/lsd/"
cp "$here/../../demo/lamps.conf" "$stage/"
# Debug sections are a third of the executable's size and of no use to a user.
x86_64-w64-mingw32-strip --strip-debug "$stage/halvix.exe" "$stage/support.dat"

# Debian's copyright file of every library linked into halvix.exe (the
# cross-built ones are built from the same source versions as these
# packages), of lua-MessagePack (built in as Lua), and of the MinGW-w64 and
# GCC run-time code that static linking puts in.
boost_dev=$(dpkg-query -S /usr/include/boost/version.hpp | cut -d: -f1)
for entry in luajit:libluajit-5.1-dev lua-cjson:lua-cjson-dev lpeg:lua-lpeg-dev \
             luafilesystem:lua-filesystem-dev luasocket:lua-socket-dev sqlite:libsqlite3-dev \
             zlib:libz-mingw-w64-dev libdeflate:libdeflate-dev boost:"$boost_dev" \
             msgpack-cxx:libmsgpack-cxx-dev lua-messagepack:lua-messagepack \
             mingw-w64-runtime:mingw-w64-common gcc-runtime:gcc-mingw-w64-base; do
  copyright=/usr/share/doc/${entry#*:}/copyright
  [ -f "$copyright" ] || die "$copyright is missing; run scripts/setup.sh"
  cp "$copyright" "$stage/licences/${entry%%:*}.txt"
done

# The signer: the maker's, or a throwaway one that only this build trusts.
if [ -z "$key" ]; then
  signer=$work/signer
  key=$signer/key.pem
  cert=$signer/cert.pem
  if [ ! -f "$cert" ] || ! openssl x509 -in "$cert" -noout -checkend 86400 > /dev/null; then
    mkdir -p "$signer"
    (umask 077 && openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -out "$cert" -days 730 \
      -subj "/CN=Halvix test build/O=Halvix development" \
      -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
      -addext "extendedKeyUsage=codeSigning" 2> /dev/null) || die "making the throwaway certificate failed"
  fi
  install -m 644 "$cert" "$work/verify-ca.pem"
else
  install -m 644 "${HALVIX_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}" "$work/verify-ca.pem"
fi
sign_flags=(-key "$key" -certs "$cert" -h sha256 -n Halvix)
[ -n "${HALVIX_SIGN_PASS_FILE:-}" ] && sign_flags+=(-readpass "$HALVIX_SIGN_PASS_FILE")
[ -n "${HALVIX_SIGN_TIMESTAMP:-}" ] && sign_flags+=(-ts "$HALVIX_SIGN_TIMESTAMP")
sign() {  # file: signs it in place
  osslsigncode sign "${sign_flags[@]}" -in "$1" -out "$1.signed" > /dev/null || die "signing $1 failed"
  mv "$1.signed" "$1"
}
sign "$stage/halvix.exe"

# wixl takes sources relative to where it runs, and harvests folders only
# through wixl-heat.
cd "$work"
harvest() {  # folder group
  find "$stage/$1" -type f | LC_ALL=C sort |
    wixl-heat -p "$stage/" --directory-ref INSTALLDIR --component-group "$2" --var var.Stage --win64 > "$work/$1.wxs"
}
harvest lua LuaFiles
harvest licences LicenceFiles
msi=halvix-$version-x64.msi
wixl -a x64 -D Stage=stage -D Version="$version" -D Win64=yes -o "$work/$msi" \
  "$here/halvix.wxs" lua.wxs licences.wxs 2> "$work/wixl.log" || { cat "$work/wixl.log" >&2; die "wixl failed"; }
sign "$work/$msi"
# One installer in dist/: an older version's would be mistaken for this one.
rm -f "$build"/dist/halvix-*-x64.msi
mv "$work/$msi" "$build/dist/$msi"
echo "$build/dist/$msi ($(stat -c %s "$build/dist/$msi") bytes)"
