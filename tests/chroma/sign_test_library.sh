#!/usr/bin/env bash
# Signs copies of a test library with Authenticode, using throwaway keys made
# here and now (never stored in the sources):
#   sign_test_library.sh MAKE_SIGNER LIBRARY OUT_DIR
# writes OUT_DIR/vendor.dll, signed as "Razer USA Ltd.", OUT_DIR/other.dll,
# signed as "Halvix Test Lighting Ltd.", OUT_DIR/unit.dll, whose signer has
# no common name, OU "Razer USA Ltd." and O "Other", and
# OUT_DIR/organisation.dll, with OU "Other Vendor Ltd." and O "Razer USA
# Ltd.", all under one test root whose certificate is OUT_DIR/keys/root.pem.
set -euo pipefail
make_signer=$1
library=$2
out=$3

rm -rf "$out"
mkdir -p "$out"
bash "$make_signer" "$out/keys" vendor
bash "$make_signer" "$out/keys" other "Halvix Test Lighting Ltd."

# A code-signing certificate under the same root with the whole subject
# given, which make-chroma-signer.sh does not take.
subject_signer() {
  local prefix=$1 subject=$2
  printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$out/keys/code-signing.ext"
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -sha256 -subj "$subject" \
    -keyout "$out/keys/$prefix-key.pem" -out "$out/keys/$prefix.csr" 2>/dev/null
  openssl x509 -req -in "$out/keys/$prefix.csr" -CA "$out/keys/root.pem" -CAkey "$out/keys/root-key.pem" \
    -CAcreateserial -days 30 -sha256 -extfile "$out/keys/code-signing.ext" -out "$out/keys/$prefix.pem" 2>/dev/null
}
subject_signer unit "/OU=Razer USA Ltd./O=Other"
subject_signer organisation "/OU=Other Vendor Ltd./O=Razer USA Ltd."

for signer in vendor other unit organisation; do
  cat "$out/keys/$signer.pem" "$out/keys/root.pem" >"$out/keys/$signer-chain.pem"
  osslsigncode sign -certs "$out/keys/$signer-chain.pem" -key "$out/keys/$signer-key.pem" -h sha256 \
    -in "$library" -out "$out/$signer.dll" >/dev/null
done
