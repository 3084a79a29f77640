#!/bin/sh
# Makes throwaway certificates for the SMTP client's tests in folder $1:
#   ca.pem                      the test CA (what SSL_CERT_FILE points at)
#   server.pem/.key             127.0.0.1 and localhost, signed by the test CA
#   other-host.pem/.key         only mail.example.test, signed by the test CA
#   providers.pem/.key          the big providers' host names (smtp.gmail.com,
#                               ...), signed by the test CA
#   rogue-ca.pem, rogue.pem/.key  127.0.0.1 and localhost, from an unknown CA
#   self-signed.pem/.key        127.0.0.1 and localhost, signed by itself
#   expired.pem/.key            127.0.0.1 and localhost, from the test CA,
#                               valid 2020-01-01 to 2020-01-02 (UTC)
#   not-yet-valid.pem/.key      the same, valid 2090-01-01 to 2090-01-02
# P-256 keys, two days of validity (the dated ones aside); nothing here is
# ever trusted elsewhere.
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

# A leaf with fixed dates, which only "openssl ca" can set here: a request,
# then the CA signs it from start to end (YYYYMMDDHHMMSSZ).
dated() {  # name issuer subject subjectAltName start end
    openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj "$3" \
        -keyout "$1.key" -out "$1.csr" \
        -addext basicConstraints=critical,CA:FALSE \
        -addext extendedKeyUsage=serverAuth \
        -addext "subjectAltName=$4" 2>/dev/null
    openssl ca -batch -notext -config ca-db/ca.cnf -cert "$2.pem" -keyfile "$2.key" \
        -in "$1.csr" -out "$1.pem" -startdate "$5" -enddate "$6" 2>/dev/null
}

mkdir ca-db
: > ca-db/index.txt
echo 1000 > ca-db/serial
cat > ca-db/ca.cnf <<'CNF'
[ca]
default_ca = dated
[dated]
database = ca-db/index.txt
new_certs_dir = ca-db
serial = ca-db/serial
default_md = sha256
policy = anything
copy_extensions = copy
unique_subject = no
[anything]
commonName = supplied
CNF

ca ca "/O=Wakebell test/CN=Wakebell test CA"
ca rogue-ca "/O=Elsewhere/CN=Unknown test CA"
leaf server ca "/CN=localhost" "IP:127.0.0.1,DNS:localhost"
leaf other-host ca "/CN=mail.example.test" "DNS:mail.example.test"
leaf providers ca "/CN=smtp.gmail.com" \
    "DNS:smtp.gmail.com,DNS:smtp-mail.outlook.com,DNS:smtp.office365.com,DNS:smtp.mail.yahoo.com,DNS:smtp.mail.yahoo.co.jp,DNS:smtp.aol.com,DNS:smtp.mail.me.com"
leaf rogue rogue-ca "/CN=localhost" "IP:127.0.0.1,DNS:localhost"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/O=Nobody/CN=localhost" -keyout self-signed.key -out self-signed.pem \
    -addext basicConstraints=critical,CA:FALSE \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost" 2>/dev/null
san="IP:127.0.0.1,DNS:localhost"
dated expired ca "/CN=localhost" "$san" 20200101000000Z 20200102000000Z
dated not-yet-valid ca "/CN=localhost" "$san" 20900101000000Z 20900102000000Z
