#!/usr/bin/env bash
# Soak run on a built tree: 128 simulated lamps on loopback, lamps switched
# on and off at random through the razerkit channel, the application stopped
# and started again (unInitSDK, initSDK, startLooper) every 20 s, and the
# Chroma colour wheel changing 30 times a second, for --minutes N (default 10;
# --seconds S for a short run). It samples halvix's resident memory every
# 5 s and ends with frames lost, bad frames, error lines and the memory
# growth after the first minute. Exit status 0 when nothing was lost, no
# error line appeared, halvix exited with 0 and (on runs of two minutes or
# more) the memory grew by less than 1 MiB after the first minute.
#
#   soak.sh [--build DIR] [--minutes N | --seconds S] [--logs DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
duration=600
logs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --minutes) duration=$(($2 * 60)); shift 2 ;;
    --seconds) duration=$2; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--minutes N | --seconds S] [--logs DIR]" >&2; exit 2 ;;
  esac
done
say() { printf 'soak: %s\n' "$*"; }
source "$root/scripts/flow-lib.sh"
flow_check_tree || exit 2
[ -z "$logs" ] && logs=$(mktemp -d /tmp/halvix-soak.XXXXXX)
mkdir -p "$logs"

work=$(mktemp -d /tmp/halvix-work.XXXXXX)
halvix_pid="" lamps_pid=""
cleanup() {
  flow_stop "$halvix_pid" TERM
  flow_stop "$lamps_pid" INT
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

lamps=128
for i in $(seq -f '%03g' "$lamps"); do echo "lamp$i 127.0.0.1 47950"; done > "$work/lamps.conf"
# Only lampsim's summary is kept: a frame a line would fill the disk.
"$bin/lampsim" --config "$work/lamps.conf" --json > >(tail -n 1 > "$logs/summary.json") 2> "$logs/lampsim.err" &
lamps_pid=$!
flow_sign_chroma "$work"
socket=$work/messenger.sock
flow_start_halvix HALVIX_DEMO_LAMPS="$work/lamps.conf" || exit 1

start_app() {
  expect '[true,""]' "$sdk" initSDK '{"sdkEnv":{"VAR_IS_HOTDEV":false}}' && expect '[true,""]' "$sdk" startLooper
}
start_app || exit 1
for i in $(seq -f '%03g' "$lamps"); do
  expect null "$razerkit" enableChromaConnect "{\"uuid\":\"lamp$i\",\"enable\":true}" || exit 1
done

rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$halvix_pid/status" 2> /dev/null || echo 0; }
echo "seconds rss_kib" > "$logs/memory.txt"
began=$SECONDS
next_sample=0 next_cycle=20
while [ $((SECONDS - began)) -lt "$duration" ]; do
  elapsed=$((SECONDS - began))
  if [ "$elapsed" -ge "$next_sample" ]; then
    echo "$elapsed $(rss)" >> "$logs/memory.txt"
    next_sample=$((next_sample + 5))
  fi
  if [ "$elapsed" -ge "$next_cycle" ]; then
    ctl "$sdk" unInitSDK > /dev/null
    start_app || exit 1
    next_cycle=$((next_cycle + 20))
  fi
  # A few lamps switched at random; every lamp is on again at the end.
  for _ in 1 2 3; do
    lamp=$(printf 'lamp%03d' $((RANDOM % lamps + 1)))
    state=$([ $((RANDOM % 2)) -eq 0 ] && echo true || echo false)
    expect null "$razerkit" enableChromaConnect "{\"uuid\":\"$lamp\",\"enable\":$state}" || exit 1
  done
  sleep 0.5
done
echo "$((SECONDS - began)) $(rss)" >> "$logs/memory.txt"

flow_stop_halvix
status=$halvix_status
sleep 0.3
flow_stop "$lamps_pid" INT
lamps_pid=""

# Lines of halvix's log that name a failure are errors.
sleep 0.2
summary=$(cat "$logs/summary.json")
frames=$(printf '%s' "$summary" | grep -o '"frames":[0-9]*' | cut -d: -f2 | awk '{ s += $1 } END { print s + 0 }')
bad=$(printf '%s' "$summary" | grep -o '"bad_frames":[0-9]*' | cut -d: -f2)
lost=$(printf '%s' "$summary" | grep -o '"gaps":[0-9]*' | cut -d: -f2 | awk '{ s += $1 } END { print s + 0 }')
errors=$(grep -ciE 'error|failed|exception|sanitizer' "$logs/halvix.log" || true)
growth=$(awk 'NR > 1 && $1 >= 60 && !first { first = $2 } NR > 1 { last = $2 } END { print (first ? last - first : 0) }' \
  "$logs/memory.txt")

say "$((SECONDS - began)) s, $frames frames, $lost lost, $bad bad, $errors error lines, halvix exit $status"
say "resident memory (KiB) by second:"
awk 'NR > 1 { printf "  %5d %8d\n", $1, $2 }' "$logs/memory.txt"
say "growth after the first minute: $growth KiB; logs in $logs"
[ "$errors" -gt 0 ] && grep -iE 'error|failed|exception|sanitizer' "$logs/halvix.log" | head -5
ok=1
[ "$status" -eq 0 ] && [ "${lost:-1}" -eq 0 ] && [ "${bad:-1}" -eq 0 ] && [ "$errors" -eq 0 ] || ok=0
[ "$duration" -ge 120 ] && [ "$growth" -ge 1024 ] && ok=0
[ "$ok" -eq 1 ] || { say "FAILED"; exit 1; }
say "passed"
