#!/usr/bin/env bash
# Signs copies of a test library with Authenticode, using throwaway keys made
# here and now (never stored in the sources):
#   sign_test_library.sh MAKE_SIGNER LIBRARY OUT_DIR
# writes OUT_DIR/vendor.dll, signed as "Razer USA Ltd.", and OUT_DIR/other.dll,
# signed as "Halvix Test Lighting Ltd.", both under one test root whose
# certificate is OUT_DIR/keys/root.pem.
set -euo pipefail
make_signer=$1
library=$2
out=$3

rm -rf "$out"
mkdir -p "$out"
bash "$make_signer" "$out/keys" vendor
bash "$make_signer" "$out/keys" other "Halvix Test Lighting Ltd."
for signer in vendor other; do
  cat "$out/keys/$signer.pem" "$out/keys/root.pem" >"$out/keys/$signer-chain.pem"
  osslsigncode sign -certs "$out/keys/$signer-chain.pem" -key "$out/keys/$signer-key.pem" -h sha256 \
    -in "$library" -out "$out/$signer.dll" >/dev/null
done
