#!/usr/bin/env bash
# Makes a throwaway certificate authority and a code-signing certificate
# under it, for trying out and testing signed Chroma Connect libraries. Never
# use these for anything else; the keys are written unprotected. The keys are
# RSA: Wine's WinVerifyTrust cannot check an ECDSA certificate's signature.
#
#   make-chroma-signer.sh DIR [PREFIX] [NAME] [USAGE]
#
# DIR/root.pem and DIR/root-key.pem are made unless they exist, so several
# signers can share one root. The signer's key and certificate go to
# DIR/PREFIX-key.pem and DIR/PREFIX.pem (PREFIX defaults to "signer"); its
# subject's common name is NAME ("Razer USA Ltd." unless given) and its
# extended key usage USAGE ("codeSigning" unless given). Trust the root with
# SSL_CERT_FILE=DIR/root.pem; sign with chroma-sign --key ... --cert ...
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 4 ]; then
  echo "usage: $0 DIR [PREFIX] [NAME] [USAGE]" >&2
  exit 2
fi
dir=$1
prefix=${2:-signer}
name=${3:-Razer USA Ltd.}
usage=${4:-codeSigning}
mkdir -p "$dir"
umask 077

if [ ! -f "$dir/root.pem" ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 30 \
    -subj "/CN=Halvix Test Root $$" -keyout "$dir/root-key.pem" -out "$dir/root.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
fi

extensions=$(mktemp)
trap 'rm -f "$extensions" "$dir/$prefix.csr"' EXIT
printf 'basicConstraints=critical,CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$usage" >"$extensions"
openssl req -newkey rsa:2048 -nodes -sha256 -subj "/O=Halvix Tests/CN=$name" \
  -keyout "$dir/$prefix-key.pem" -out "$dir/$prefix.csr" 2>/dev/null
openssl x509 -req -in "$dir/$prefix.csr" -CA "$dir/root.pem" -CAkey "$dir/root-key.pem" -CAcreateserial \
  -days 30 -sha256 -extfile "$extensions" -out "$dir/$prefix.pem" 2>/dev/null
