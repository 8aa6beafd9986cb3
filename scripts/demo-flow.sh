#!/usr/bin/env bash
# The whole system at work, on a built tree: a signed stand-in Chroma Connect
# library in a throwaway trusted folder, simulated lamps (lampsim), halvix
# running the demo bundle in normal mode, and halvixctl playing the Dart side.
# The lamps follow the Chroma colour; half-way one lamp is switched off.
# As root, where network namespaces can be made, the run takes place in a
# namespace of its own and ends with a lamp on the LAN broadcast path, whose
# directed-broadcast datagrams reach a lampsim in a peer namespace over a
# veth pair. Nothing outside the namespaces is sent to but loopback.
#
#   demo-flow.sh [--build DIR] [--seconds N] [--colours FILE] [--json DIR] [--logs DIR]
#
# --json DIR   lampsim writes JSON lines (loopback.jsonl, broadcast.jsonl) and
#              the flow its events (events.txt) there, instead of the live view.
# --logs DIR   where halvix's output and the summaries go (default: a new
#              folder under /tmp, which is kept and named at the end).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
seconds=10
colours=""
json=""
logs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --colours) colours=$2; shift 2 ;;
    --json) json=$2; shift 2 ;;
    --logs) logs=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--seconds N] [--colours FILE] [--json DIR] [--logs DIR]" >&2; exit 2 ;;
  esac
done
case "$seconds" in '' | *[!0-9]*) echo "demo-flow: --seconds wants a whole number" >&2; exit 2 ;; esac
source "$root/scripts/flow-lib.sh"
flow_check_tree || exit 2
[ -z "$logs" ] && logs=$(mktemp -d /tmp/halvix-run.XXXXXX)
mkdir -p "$logs"
[ -n "$json" ] && mkdir -p "$json"

work=$(mktemp -d /tmp/halvix-work.XXXXXX)
tag=hx$$
ns_a="" ns_b=""
halvix_pid="" lamps_pid="" broadcast_pid=""

cleanup() {
  flow_stop "$halvix_pid" TERM
  flow_stop "$lamps_pid" INT
  flow_stop "$broadcast_pid" INT
  for ns in $ns_a $ns_b; do ip netns delete "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

say() {  # below the live line of lamps, when it is drawn
  if [ -z "$json" ] && [ -t 1 ]; then printf '\ndemo: %s\n' "$*"; else printf 'demo: %s\n' "$*"; fi
}
event() { [ -n "$json" ] && printf '%s %s\n' "$(date +%s%6N)" "$*" >> "$json/events.txt"; say "$*"; }

flow_sign_chroma "$work"

# The broadcast part needs two namespaces of our own.
in_a=()
why_not=""
if [ "$(id -u)" -ne 0 ]; then
  why_not="it needs root"
elif ! command -v ip > /dev/null; then
  why_not="the ip command (iproute2) is missing"
elif ! ip netns add "${tag}a" 2> /dev/null; then
  why_not="network namespaces cannot be made here"
else
  ns_a=${tag}a
  if ip netns add "${tag}b" && ns_b=${tag}b &&
    ip -n "$ns_a" link add "${tag}va" type veth peer name "${tag}vb" netns "$ns_b" &&
    ip -n "$ns_a" address add 10.213.0.1/24 broadcast + dev "${tag}va" &&
    ip -n "$ns_b" address add 10.213.0.2/24 broadcast + dev "${tag}vb" &&
    ip -n "$ns_a" link set "${tag}va" up && ip -n "$ns_b" link set "${tag}vb" up &&
    ip -n "$ns_a" link set lo up; then
    in_a=(ip netns exec "$ns_a")
  else
    why_not="the veth pair between the namespaces could not be set up"
  fi
fi

# Three lamps on loopback, one of our own frame and two WLED devices (a
# 600-LED strip takes two DNRGB packets a tick); the broadcast lamp, a WLED
# lamp on WLED's realtime port, only where namespaces exist.
cat > "$work/loopback.conf" << 'EOF'
desk   127.0.0.1 47801
shelf  127.0.0.1 47802 wled 30
strip  127.0.0.1 47803 wled 600
EOF
echo "broadcast hall 10.213.0.255 21324 wled 30" > "$work/broadcast.conf"
cat "$work/loopback.conf" "$work/broadcast.conf" > "$work/lamps.conf"

lampsim_out() {  # name: where a lampsim's output goes
  if [ -n "$json" ]; then echo "$json/$1.jsonl"; else echo "$logs/$1.txt"; fi
}
json_flag=()
[ -n "$json" ] && json_flag=(--json)
if [ -n "$json" ]; then
  "${in_a[@]}" "$bin/lampsim" --config "$work/loopback.conf" --stamps "$work/stamps" "${json_flag[@]}" \
    > "$(lampsim_out loopback)" 2> "$logs/lampsim.err" &
else
  # The live line of coloured blocks goes to this terminal.
  "${in_a[@]}" "$bin/lampsim" --config "$work/loopback.conf" --stamps "$work/stamps" 2> "$logs/lampsim.err" &
fi
lamps_pid=$!
if [ -n "$ns_b" ] && [ -z "$why_not" ]; then
  ip netns exec "$ns_b" "$bin/lampsim" --config "$work/broadcast.conf" --stamps "$work/stamps" "${json_flag[@]}" \
    > "$(lampsim_out broadcast)" 2> "$logs/lampsim-broadcast.err" &
  broadcast_pid=$!
fi

colour_env=()
[ -n "$colours" ] && colour_env=(HALVIX_CHROMA_COLORS="$colours")
socket=$work/messenger.sock
flow_start_halvix HALVIX_DEMO_LAMPS="$work/lamps.conf" HALVIX_CHROMA_STAMPS="$work/stamps" "${colour_env[@]}" \
  -- "${in_a[@]}" || exit 1

expect '[true,""]' "$sdk" initSDK '{"sdkEnv":{"VAR_IS_HOTDEV":false}}' || exit 1
expect '[true,""]' "$sdk" startLooper || exit 1
for lamp in desk shelf strip; do
  expect 'null' "$razerkit" enableChromaConnect "{\"uuid\":\"$lamp\",\"enable\":true}" || exit 1
done
event "lamps on: desk shelf strip"

half=$((seconds / 2))
sleep "$half"
expect 'null' "$razerkit" enableChromaConnect '{"uuid":"shelf","enable":false}' || exit 1
event "shelf off"
sleep $((seconds - half))

if [ -n "$why_not" ]; then
  say "broadcast lamp skipped: $why_not"
else
  # Stamped before the call: the host's next tick may send to the lamp
  # before the reply has even reached this script.
  event "broadcast to hall"
  expect 'null' "$razerkit" broadcastChromaConnect '{"uuid":"hall","enable":true}' || exit 1
  sleep 3
fi

event "stopping halvix"
flow_stop_halvix
status=$halvix_status
echo "$status" > "$logs/halvix.exit"
# Datagrams still on their way are let in before the lamps stop.
sleep 0.3
flow_stop "$lamps_pid" INT
lamps_pid=""
flow_stop "$broadcast_pid" INT
broadcast_pid=""

echo
if [ -z "$json" ] && [ -f "$logs/broadcast.txt" ]; then
  echo "broadcast lamp, in the peer namespace:"
  grep -E '^(lamp |bad frames|all lamps)' "$logs/broadcast.txt" || true
fi
say "halvix exited with code $status; logs in $logs"
exit "$status"
