# Shared by demo-flow.sh and soak.sh (sourced, not run): a built tree's
# programs, a signed stand-in Chroma Connect library in a throwaway trusted
# folder, halvix with the demo bundle, and halvixctl as the Dart side.
# The caller sets `build` and `logs` and a `say` function first.

flow_check_tree() {  # fails unless the tree has every program the flow runs
  bin=$build/bin
  bundle=$build/demo
  local program
  for program in halvix halvixctl lampsim chroma-sign; do
    [ -x "$bin/$program" ] || { echo "$bin/$program is missing; build the tree first" >&2; return 2; }
  done
  [ -f "$build/lib/RzChromaConnectAPI64.dll" ] || { echo "$build/lib/RzChromaConnectAPI64.dll is missing" >&2; return 2; }
  [ -f "$bundle/lsd/ls.lsd" ] || { echo "$bundle/lsd/ls.lsd is missing" >&2; return 2; }
}

flow_stop() {  # pid signal: ends the process, at worst with SIGKILL after 5 s
  local pid=$1 signal=$2
  [ -n "$pid" ] && kill -0 "$pid" 2> /dev/null || return 0
  kill "-$signal" "$pid" 2> /dev/null || true
  for _ in $(seq 50); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2> /dev/null || true
  wait "$pid" 2> /dev/null || true
}

# A throwaway root and a "Razer USA Ltd." signer, and the stand-in library
# signed in a folder that the loader trusts; sets `trusted` and `flow_env`,
# the environment halvix runs with.
flow_sign_chroma() {  # work-folder
  local work=$1
  bash "$(dirname "${BASH_SOURCE[0]}")/make-chroma-signer.sh" "$work/keys" > /dev/null
  trusted="$work/Program Files/Razer/ChromaBroadcast/bin"
  mkdir -p "$trusted"
  cp "$build/lib/RzChromaConnectAPI64.dll" "$trusted/"
  "$bin/chroma-sign" --key "$work/keys/signer-key.pem" --cert "$work/keys/signer.pem" \
    "$trusted/RzChromaConnectAPI64.dll" > /dev/null
  flow_env=(ProgramFiles="$work/Program Files" LD_LIBRARY_PATH="$trusted" SSL_CERT_FILE="$work/keys/root.pem")
}

# Starts halvix on `socket` with the demo bundle in normal mode and waits for
# its socket; sets `halvix_pid`. Extra environment entries and a command
# prefix (ip netns exec ...) may be given: env... -- prefix...
flow_start_halvix() {
  local environment=() prefix=()
  while [ $# -gt 0 ] && [ "$1" != "--" ]; do environment+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  prefix=("$@")
  env "${flow_env[@]}" "${environment[@]}" "${prefix[@]}" "$bin/halvix" --socket "$socket" \
    --current-dir "$bundle" --console > "$logs/halvix.log" 2>&1 &
  halvix_pid=$!
  for _ in $(seq 200); do [ -S "$socket" ] && return 0; sleep 0.05; done
  say "halvix did not start (see $logs/halvix.log)"
  return 1
}

# Asks halvix to end as a user would and waits for it, however long its
# orderly stop takes; sets `halvix_status` to its exit code.
flow_stop_halvix() {
  kill -TERM "$halvix_pid"
  halvix_status=0
  wait "$halvix_pid" || halvix_status=$?
  halvix_pid=""
}

sdk=com.brisktide.corvel.methodchannel
razerkit=com.brisktide.com/razerkit

ctl() {  # channel method [json]: one call as the Dart side; its reply is printed
  "$bin/halvixctl" --socket "$socket" --timeout 5 "$@"
}

expect() {  # reply channel method [json]: fails when the reply differs
  local want=$1 got
  shift
  got=$(ctl "$@") || true
  [ "$got" = "$want" ] && return 0
  say "$2 answered '$got', not '$want' (see $logs/halvix.log)"
  return 1
}
