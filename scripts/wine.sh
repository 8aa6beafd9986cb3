#!/usr/bin/env bash
# The one place that says how the Windows tree's programs run under Wine:
#   wine.sh BUILD-DIR PROGRAM [ARGUMENTS...]   runs a program
#   wine.sh BUILD-DIR --prepare                readies the prefix for tests
# Each build tree has a prefix of its own (BUILD-DIR/wineprefix), so that no
# user's ~/.wine is touched. Without .NET and HTML engines a new prefix never
# asks to install them, which nobody could answer under Xvfb. Wine's heap
# checks are on: it fills freed blocks and warns ("warn:heap") of a bad
# free, which the tests count as a failure.
set -euo pipefail
build=$1
shift
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all,warn+heap WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine

if [ "${1:-}" = --prepare ]; then
  # A process that ends in an unhandled exception (as one delay-load test
  # must) would otherwise wait in Wine's crash dialog, which nobody closes
  # under Xvfb.
  "$wine/wine64" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f > /dev/null
  # A new prefix goes on setting itself up after that command returns; the
  # first program with a window could lose the race, so wait for it.
  exec "$wine/wineserver" -w
fi
exec "$wine/wine64" "$@"
