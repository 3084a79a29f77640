#!/bin/sh
# Makes throwaway certificates for the SMTP client's tests in folder $1:
#   ca.pem                      the test CA (what SSL_CERT_FILE points at)
#   server.pem/.key             127.0.0.1 and localhost, signed by the test CA
#   other-host.pem/.key         only mail.example.test, signed by the test CA
#   rogue-ca.pem, rogue.pem/.key  127.0.0.1 and localhost, from an unknown CA
# P-256 keys, two days of validity; nothing here is ever trusted elsewhere.
set -eu
out=$1
cd "$out"

ca() {  # name subject
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -subj "$2" -keyout "$1.key" -out "$1.pem" \
        -addext basicConstraints=critical,CA:TRUE \
        -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
}

leaf() {  # name issuer subject subjectAltName
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
        -CA "$2.pem" -CAkey "$2.key" -subj "$3" -keyout "$1.key" -out "$1.pem" \
        -addext basicConstraints=critical,CA:FALSE \
        -addext extendedKeyUsage=serverAuth \
        -addext "subjectAltName=$4" 2>/dev/null
}

ca ca "/O=Wakebell test/CN=Wakebell test CA"
ca rogue-ca "/O=Elsewhere/CN=Unknown test CA"
leaf server ca "/CN=localhost" "IP:127.0.0.1,DNS:localhost"
leaf other-host ca "/CN=mail.example.test" "DNS:mail.example.test"
leaf rogue rogue-ca "/CN=localhost" "IP:127.0.0.1,DNS:localhost"
