#!/usr/bin/env bash
# Signs copies of the test libraries with Authenticode, using throwaway RSA
# keys made here and now (never stored in the sources), all under one test
# root whose certificate is OUT_DIR/keys/root.pem:
#   sign_test_library.sh MAKE_SIGNER LIBRARY INIT_FAILS_LIBRARY OUT_DIR
# writes OUT_DIR/vendor.dll, LIBRARY signed as "Razer USA Ltd.";
# OUT_DIR/other.dll, LIBRARY signed as "Halvix Test Lighting Ltd.";
# OUT_DIR/init_fails.dll, INIT_FAILS_LIBRARY signed as "Razer USA Ltd.";
# and, for each subject listed at the end, OUT_DIR/NAME.dll, LIBRARY signed
# by a signer whose certificate has exactly that subject.
set -euo pipefail
make_signer=$1
library=$2
init_fails=$3
out=$4
keys=$out/keys

rm -rf "$out"
mkdir -p "$out"
bash "$make_signer" "$keys" vendor
bash "$make_signer" "$keys" other "Halvix Test Lighting Ltd."

hex() { od -An -tx1 -v | tr -d ' \n'; }

# A code-signing certificate under the root, as PREFIX-key.pem and
# PREFIX.pem, whose subject is the FIELD=VALUE pairs given, in order (by
# OpenSSL's short names, UTF8String values, emailAddress IA5String), and
# whose subject alternative name is the e-mail address SAN unless empty.
# `openssl req -subj` drops an attribute whose value is empty, so the subject
# is drafted with asn1parse -genconf in a self-signed certificate (which
# `openssl x509 -CA` checks), which the root then certifies.
subject_signer() {
  local prefix=$1 san=$2
  shift 2
  local key=$keys/$prefix-key.pem draft=$keys/$prefix-draft
  openssl genrsa -out "$key" 2048 2>/dev/null
  local public signature=00 from to
  # Fixed once: the draft is made twice and must not change in between.
  from=$(date -u -d '-1 hour' +%y%m%d%H%M%SZ)
  to=$(date -u -d '+30 days' +%y%m%d%H%M%SZ)
  public=$(openssl rsa -in "$key" -RSAPublicKey_out -outform DER 2>/dev/null | hex)
  while :; do
    {
      printf '%s\n' 'asn1 = SEQUENCE:certificate' '[certificate]' 'tbs = SEQUENCE:tbs' \
        'algorithm = SEQUENCE:sha256rsa' "signature = FORMAT:HEX,BITSTRING:$signature" \
        '[sha256rsa]' 'oid = OID:sha256WithRSAEncryption' 'null = NULL' \
        '[tbs]' 'version = EXPLICIT:0,INTEGER:2' 'serial = INTEGER:1' 'algorithm = SEQUENCE:sha256rsa' \
        'issuer = SEQUENCE:subject' 'validity = SEQUENCE:validity' 'subject = SEQUENCE:subject' \
        'key = SEQUENCE:spki' \
        '[validity]' "from = UTCTIME:$from" "to = UTCTIME:$to" \
        '[spki]' 'algorithm = SEQUENCE:rsa' "key = FORMAT:HEX,BITSTRING:$public" \
        '[rsa]' 'oid = OID:rsaEncryption' 'null = NULL' '[subject]'
      local n
      for ((n = 1; n <= $#; n++)); do echo "rdn$n = SET:rdn$n"; done
      n=0
      local pair field type
      for pair in "$@"; do
        n=$((n + 1))
        field=${pair%%=*}
        type=UTF8String
        [ "$field" = emailAddress ] && type=IA5String
        printf '[rdn%s]\nattribute = SEQUENCE:attribute%s\n[attribute%s]\ntype = OID:%s\nvalue = %s:%s\n' \
          "$n" "$n" "$n" "$field" "$type" "${pair#*=}"
      done
    } >"$draft.cnf"
    openssl asn1parse -genconf "$draft.cnf" -noout -out "$draft.der"
    [ "$signature" = 00 ] || break
    # The to-be-signed part is the first element of the outer sequence.
    local offset
    offset=$(openssl asn1parse -inform DER -in "$draft.der" | awk -F: 'NR == 2 { print $1 + 0 }')
    openssl asn1parse -inform DER -in "$draft.der" -strparse "$offset" -noout -out "$draft.tbs"
    signature=$(openssl dgst -sha256 -sign "$key" "$draft.tbs" | hex)
  done
  {
    printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n'
    [ -z "$san" ] || echo "subjectAltName=email:$san"
  } >"$draft.ext"
  openssl x509 -inform DER -in "$draft.der" -CA "$keys/root.pem" -CAkey "$keys/root-key.pem" -CAcreateserial \
    -days 30 -sha256 -clrext -extfile "$draft.ext" -out "$keys/$prefix.pem" 2>/dev/null
  rm -f "$draft".*
}

sign() {
  local signer=$1 input=$2 output=$3
  cat "$keys/$signer.pem" "$keys/root.pem" >"$keys/$signer-chain.pem"
  osslsigncode sign -certs "$keys/$signer-chain.pem" -key "$keys/$signer-key.pem" -h sha256 \
    -in "$input" -out "$out/$output.dll" >/dev/null
}

sign vendor "$library" vendor
sign other "$library" other
sign vendor "$init_fails" init_fails

while IFS='|' read -r name san attributes; do
  IFS=';' read -r -a pairs <<<"$attributes"
  subject_signer "$name" "$san" "${pairs[@]}"
  sign "$name" "$library" "$name"
done <<'EOF'
unit||OU=Razer USA Ltd.;O=Other
organisation||OU=Other Vendor Ltd.;O=Razer USA Ltd.
empty_common_name||CN=;O=Razer USA Ltd.
common_name_first||O=Other;CN=razer usa ltd.
email_last||L=Elsewhere;emailAddress=Razer USA Ltd.
alternative_email|Razer USA Ltd.|L=Elsewhere
EOF
