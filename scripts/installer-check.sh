#!/usr/bin/env bash
# Checks the Windows installer (BUILD-DIR/dist/halvix-*-x64.msi, made by
# scripts/build-windows.sh) as a user would meet it, under Wine in a new
# prefix of its own: the package's and halvix.exe's signatures verify, a
# silent install lays out exactly the staged files in Program Files\Halvix
# with a Start-menu entry, the installed halvix.exe runs the demo from its
# folder (driven by the built halvixctl.exe: initSDK, startLooper, a razerkit
# call and a call forwarded to the demo's Lua API) and closes with code 0,
# and a silent uninstall leaves the prefix's drive as it was before.
#   installer-check.sh [BUILD-DIR]   (default build-windows)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build-windows}")

# halvix.exe opens a window, so the check needs a display.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" "$build"
fi

shopt -s nullglob
msis=("$build"/dist/halvix-*-x64.msi)
[ "${#msis[@]}" = 1 ] || { echo "installer-check: want one installer in $build/dist, found ${#msis[@]}" >&2; exit 2; }
msi=${msis[0]}
ctl_exe=$build/bin/halvixctl.exe
stage=$build/packaging/stage
[ -f "$ctl_exe" ] && [ -d "$stage" ] || { echo "installer-check: build $build first" >&2; exit 2; }

work=$(mktemp -d /tmp/halvix-installer.XXXXXX)
# A new prefix, not the build's: nothing the tests left there can help the
# installer. Wine's menu builder stays off, or the Start-menu entry would
# also land in this machine's desktop menus.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
wine=/usr/lib/wine/wine64
drive=$WINEPREFIX/drive_c
installed=$drive/Program\ Files/Halvix
port_file=$work/messenger.port
halvix_pid=""

cleanup() {
  [ -z "$halvix_pid" ] || kill -TERM "$halvix_pid" 2> /dev/null || true
  # Ends whatever still runs in this check's own prefix, and nothing else.
  [ ! -d "$WINEPREFIX" ] || /usr/lib/wine/wineserver -k 2> /dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
check() {  # description command...: counts a failing check
  if "${@:2}"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi
}
win() { timeout 120 "$wine" "$@"; }
ctl() { timeout 60 "$wine" "$ctl_exe" --socket "Z:$port_file" --timeout 10 "$@"; }
replies() {  # want channel method [json]
  local want=$1 got
  shift
  got=$(ctl "$@" | tr -d '\r') || true
  [ "$got" = "$want" ] || { echo "  $2 answered '$got', not '$want'"; return 1; }
}
# Windows Installer's own cache folder, which Wine makes at the first
# install, is no part of the package; what is in it is.
drive_files() { (cd "$drive" && find . ! -path ./windows/Installer | LC_ALL=C sort); }
signed() { osslsigncode verify -CAfile "$build/packaging/verify-ca.pem" -in "$1" > "$work/verify.log" 2>&1; }
shortcut() { find "$drive" -iname Halvix.lnk; }
# A shell link holds its target as an ANSI path and its working folder as
# UTF-16.
points_at_halvix() {
  strings -a "$(shortcut)" | grep -qxF 'C:\Program Files\Halvix\halvix.exe' &&
    strings -a -el "$(shortcut)" | grep -qxF 'C:\Program Files\Halvix\'
}
same_tree() { diff -r "$stage" "$installed" > /dev/null; }
port_written() {
  for _ in $(seq 300); do [ -s "$port_file" ] && return 0; kill -0 "$halvix_pid" 2> /dev/null || return 1; sleep 0.2; done
  return 1
}

echo "== installer check: $(basename "$msi") ($(stat -c %s "$msi") bytes)"
check "the installer's signature verifies" signed "$msi"
# A new prefix goes on setting itself up after wineboot returns. A crash
# ends the process instead of waiting in a dialog nobody closes under Xvfb.
win wineboot -i > /dev/null 2>&1 && /usr/lib/wine/wineserver -w
win reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f > /dev/null
drive_files > "$work/before"

check "silent install" win msiexec /i "Z:$msi" /qn
check "Program Files\\Halvix holds exactly the staged files" same_tree
check "the installed halvix.exe's signature verifies" signed "$installed/halvix.exe"
check "a Start-menu entry" test -n "$(shortcut)"
check "the Start-menu entry starts the installed halvix.exe in its folder" points_at_halvix

# Started as the Start-menu entry starts it: in its own folder, where the
# demo's lsd\ls.lsd and lamps.conf are found.
(cd "$installed" && exec timeout 120 "$wine" 'C:\Program Files\Halvix\halvix.exe' --socket "Z:$port_file" --console) \
  > "$work/halvix.log" 2>&1 &
halvix_pid=$!
check "halvix.exe starts and serves" port_written
sdk=com.brisktide.corvel.methodchannel
razerkit=com.brisktide.com/razerkit
check "initSDK" replies '[true,""]' "$sdk" initSDK '{"sdkEnv":{"VAR_IS_HOTDEV":false}}'
check "startLooper" replies '[true,""]' "$sdk" startLooper
check "razerkit enableChromaConnect" replies 'null' "$razerkit" enableChromaConnect '{"uuid":"desk","enable":true}'
# ["api.razerkit.razer_halvix_control", "setColorWithoutResponse", "desk",
# {b=1, g=2, r=3}] answered [true, true]: "desk" comes from the installed
# lamps.conf.
call=94d9216170692e72617a65726b69742e72617a65725f68616c7669785f636f6e74726f6cb7736574436f6c6f72576974686f7574526573706f6e7365a46465736b83a16201a16702a17203
check "a call forwarded to the demo" replies '"hex:92c3c3"' "$sdk" forwardPlateCall "\"hex:$call\""
# taskkill without /f closes the window, as a user would.
win taskkill /im halvix.exe > /dev/null
status=0
wait "$halvix_pid" || status=$?
halvix_pid=""
check "halvix.exe closes with code 0" test "$status" = 0
check "halvix.exe removes its port file" test ! -e "$port_file"
# A file of the user's own in the program's folder outlives the uninstall.
echo "hall 127.0.0.1 47004" > "$installed/my-lamps.conf"

check "silent uninstall" win msiexec /x "Z:$msi" /qn
/usr/lib/wine/wineserver -w
check "Program Files\\Halvix holds only the user's file" test "$(ls -A "$installed")" = my-lamps.conf
rm -rf "$installed"
drive_files > "$work/after"
check "the Start-menu entry is gone" test -z "$(shortcut)"
check "nothing else is left on the drive" diff "$work/before" "$work/after"
check "no registry entry names Halvix" bash -c '! grep -qi halvix "$0"/*.reg' "$WINEPREFIX"

if [ "$failures" != 0 ]; then
  echo "installer check: $failures failed; halvix.exe's output:"
  cat "$work/halvix.log"
  exit 1
fi
echo "installer check passed"
