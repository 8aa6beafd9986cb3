#!/usr/bin/env bash
# The colour path on a built tree, with 1, 16 and 128 lamps on loopback: from
# the stand-in Chroma library's colour event (its stamp) to the lamp frame's
# arrival at lampsim (p50, p99, max), and halvix's CPU time per second of
# running, both over --seconds S (default 10) after a second of warm-up.
# The CPU is also split: the SDK worker thread ("sdk-worker": the demo
# application's Lua and the SDK's calls into it) and the host's own work (every
# other thread: the platform thread, the engine's I/O thread, the Chroma
# library's notifications).
#
#   bench/colour_path.sh [--build DIR] [--seconds S]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
seconds=10
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--seconds S]" >&2; exit 2 ;;
  esac
done
say() { printf 'colour path: %s\n' "$*" >&2; }
source "$root/scripts/flow-lib.sh"
flow_check_tree || exit 2
logs=$(mktemp -d /tmp/halvix-bench.XXXXXX)
work=$(mktemp -d /tmp/halvix-work.XXXXXX)
halvix_pid="" lamps_pid=""
cleanup() {
  flow_stop "$halvix_pid" TERM
  flow_stop "$lamps_pid" INT
  rm -rf "$work" "$logs"
}
trap cleanup EXIT
flow_sign_chroma "$work"
ticks=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
worker_ticks() {  # the SDK worker's share; its name has no spaces, so the fields hold
  local task total=0
  for task in /proc/"$1"/task/*; do
    [ "$(cat "$task/comm" 2> /dev/null)" = sdk-worker ] || continue
    total=$((total + $(awk '{ print $14 + $15 }' "$task/stat" 2> /dev/null || echo 0)))
  done
  echo "$total"
}
percent() { awk -v t="$1" -v hz="$ticks" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }
ms() { awk -v ns="$1" 'BEGIN { printf "%.1f", ns / 1e6 }'; }

printf '%-6s %10s %10s %10s %14s %12s %12s\n' lamps "p50 ms" "p99 ms" "max ms" "halvix CPU %" "Lua worker %" "host own %"
for lamps in 1 16 128; do
  for i in $(seq -f '%03g' "$lamps"); do echo "lamp$i 127.0.0.1 47960"; done > "$work/lamps.conf"
  rm -f "$work/stamps" "$work/messenger.sock"
  socket=$work/messenger.sock
  flow_start_halvix HALVIX_DEMO_LAMPS="$work/lamps.conf" HALVIX_CHROMA_STAMPS="$work/stamps" || exit 1
  expect '[true,""]' "$sdk" initSDK '{"sdkEnv":{"VAR_IS_HOTDEV":false}}' > /dev/null || exit 1
  expect '[true,""]' "$sdk" startLooper > /dev/null || exit 1
  for i in $(seq -f '%03g' "$lamps"); do
    expect null "$razerkit" enableChromaConnect "{\"uuid\":\"lamp$i\",\"enable\":true}" > /dev/null || exit 1
  done
  sleep 1
  "$bin/lampsim" --config "$work/lamps.conf" --stamps "$work/stamps" --json --seconds "$seconds" \
    > >(tail -n 1 > "$logs/summary.json") 2> /dev/null &
  lamps_pid=$!
  before=$(cpu_ticks "$halvix_pid") worker_before=$(worker_ticks "$halvix_pid")
  wait "$lamps_pid" || true
  lamps_pid=""
  after=$(cpu_ticks "$halvix_pid") worker_after=$(worker_ticks "$halvix_pid")
  flow_stop "$halvix_pid" TERM
  halvix_pid=""
  sleep 0.2
  latency=$(grep -o '"latency":{[^}]*}}*$' "$logs/summary.json" || true)
  p50=$(printf '%s' "$latency" | grep -o '"p50_ns":[0-9]*' | cut -d: -f2)
  p99=$(printf '%s' "$latency" | grep -o '"p99_ns":[0-9]*' | cut -d: -f2)
  max=$(printf '%s' "$latency" | grep -o '"max_ns":[0-9]*' | cut -d: -f2)
  worker=$((worker_after - worker_before))
  printf '%-6s %10s %10s %10s %14s %12s %12s\n' "$lamps" "$(ms "${p50:-0}")" "$(ms "${p99:-0}")" "$(ms "${max:-0}")" \
    "$(percent $((after - before)))" "$(percent "$worker")" "$(percent $((after - before - worker)))"
done
