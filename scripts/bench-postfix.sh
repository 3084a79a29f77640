#!/bin/sh
# Runs a command beside a Postfix of this machine, a real mail server for the
# mail benchmark to measure the clients against:
#
#   scripts/bench-postfix.sh COMMAND [ARG...]
#
# Installs Debian's postfix when it is missing (non-interactive, "No
# configuration", so the system's own /etc/postfix gets no main.cf), then
# sets up an instance of its own in a temporary folder: it listens on
# 127.0.0.1:$POSTFIX_PORT only (default 10465) with TLS from the start
# (smtps wrapper mode) under a certificate signed by a CA made here, offers
# AUTH PLAIN (Cyrus SASL, sasldb) for the one account bench-user with the
# password bench-secret, and discards every mail it accepts: the instance
# has no SMTP client, no relay host and no local delivery, so nothing leaves
# it. COMMAND runs with POSTFIX_PORT and POSTFIX_CA (the CA's PEM file) in
# its environment; the instance is stopped and its folder removed however
# COMMAND ends, and the script exits with COMMAND's status.
#
# Needs root (to install, and for Postfix's master). Exits non-zero with a
# one-line reason when a step fails.
set -eu

POSTFIX_PORT=${POSTFIX_PORT:-10465}
LOGIN=bench-user
PASSWORD=bench-secret
REALM=bench.invalid

fail() {
    echo "bench-postfix: $*" >&2
    exit 1
}

[ $# -ge 1 ] || fail "usage: scripts/bench-postfix.sh COMMAND [ARG...]"
[ "$(id -u)" -eq 0 ] || fail "needs root: it installs Postfix and starts its master"

if ! dpkg-query -W -f='${Status}' postfix 2>/dev/null | grep -q "install ok installed" ||
    ! dpkg-query -W -f='${Status}' sasl2-bin 2>/dev/null | grep -q "install ok installed" ||
    ! dpkg-query -W -f='${Status}' libsasl2-modules 2>/dev/null | grep -q "install ok installed"; then
    echo "bench-postfix: installing postfix, sasl2-bin and libsasl2-modules"
    export DEBIAN_FRONTEND=noninteractive
    echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
    apt-get update -q >/dev/null || fail "apt-get update failed"
    apt-get install -y -q --no-install-recommends postfix sasl2-bin libsasl2-modules >/dev/null ||
        fail "apt-get install postfix failed"
fi

if ss -Hltn "sport = :$POSTFIX_PORT" 2>/dev/null | grep -q .; then
    fail "port $POSTFIX_PORT is taken; set POSTFIX_PORT to a free one"
fi

DIR=$(mktemp -d /tmp/wakebell-postfix-XXXXXX)
STARTED=no
cleanup() {
    status=$?
    if [ "$STARTED" = yes ]; then
        postfix -c "$DIR/etc" stop >/dev/null 2>&1 || true
        # master exits a moment after `postfix stop`; wait for it (10 s).
        for _ in $(seq 100); do
            [ -e "$DIR/queue/pid/master.pid" ] && kill -0 "$(cat "$DIR/queue/pid/master.pid")" \
                2>/dev/null || break
            sleep 0.1
        done
    fi
    rm -rf "$DIR"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$DIR/etc/sasl" "$DIR/sasldb" "$DIR/queue" "$DIR/data" "$DIR/tls"
chmod 755 "$DIR"
chown postfix "$DIR/data"

# The throwaway CA and the server's certificate for 127.0.0.1.
(
    cd "$DIR/tls"
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 \
        -subj "/CN=Wakebell benchmark CA" -keyout ca.key -out ca.pem 2>/dev/null
    openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
        -subj "/CN=127.0.0.1" -keyout server.key -out server.csr 2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' >server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
        -extfile server.ext -out server.pem 2>/dev/null
) || fail "openssl could not make the throwaway certificates"
chmod 600 "$DIR/tls/server.key"

# Cyrus SASL: PLAIN only, checked against a sasldb of the one account.
printf '%s\n' "pwcheck_method: auxprop" "auxprop_plugin: sasldb" "mech_list: PLAIN" \
    "sasldb_path: $DIR/sasldb/sasldb2" >"$DIR/etc/sasl/smtpd.conf"
printf '%s' "$PASSWORD" | saslpasswd2 -f "$DIR/sasldb/sasldb2" -c -p -u "$REALM" "$LOGIN" ||
    fail "saslpasswd2 could not make the account"
chown -R postfix "$DIR/sasldb"
chmod 600 "$DIR/sasldb/sasldb2"

cat >"$DIR/etc/main.cf" <<EOF
compatibility_level = 3.6
queue_directory = $DIR/queue
data_directory = $DIR/data
meta_directory = /etc/postfix
myhostname = $REALM
mydomain = invalid
myorigin = \$myhostname
inet_interfaces = loopback-only
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
mydestination =
relay_domains =
relayhost =
# Nothing leaves this instance: every mail the server accepts is discarded,
# and master.cf has no SMTP client to deliver with.
default_transport = discard
relay_transport = discard
local_transport = discard
virtual_transport = discard
alias_maps =
alias_database =
local_recipient_maps =
smtpd_relay_restrictions = permit_sasl_authenticated, permit_mynetworks, reject
smtpd_recipient_restrictions = permit_sasl_authenticated, reject
smtpd_tls_cert_file = $DIR/tls/server.pem
smtpd_tls_key_file = $DIR/tls/server.key
smtpd_tls_security_level = encrypt
smtpd_tls_auth_only = yes
smtpd_sasl_auth_enable = yes
smtpd_sasl_type = cyrus
smtpd_sasl_path = smtpd
smtpd_sasl_local_domain = $REALM
cyrus_sasl_config_path = $DIR/etc/sasl
message_size_limit = 52428800
maillog_file = $DIR/maillog
maillog_file_prefixes = $DIR
biff = no
EOF

# The services an accepting server needs, none of them chrooted, and the one
# listener: 127.0.0.1:$POSTFIX_PORT with TLS from the start.
cat >"$DIR/etc/master.cf" <<EOF
127.0.0.1:$POSTFIX_PORT inet n - n - - smtpd -o smtpd_tls_wrappermode=yes
cleanup   unix n - n - 0 cleanup
qmgr      unix n - n 300 1 qmgr
tlsmgr    unix - - n 1000? 1 tlsmgr
rewrite   unix - - n - - trivial-rewrite
bounce    unix - - n - 0 bounce
defer     unix - - n - 0 bounce
trace     unix - - n - 0 bounce
verify    unix - - n - 1 verify
flush     unix n - n 1000? 0 flush
proxymap  unix - - n - - proxymap
scache    unix - - n - 1 scache
anvil     unix - - n - 1 anvil
discard   unix - - n - - discard
error     unix - - n - - error
retry     unix - - n - - error
postlog   unix-dgram n - n - 1 postlogd
EOF

postfix -c "$DIR/etc" check >"$DIR/check.log" 2>&1 ||
    fail "postfix check refused the instance: $(tr "\n" " " <"$DIR/check.log")"
STARTED=yes
postfix -c "$DIR/etc" start >"$DIR/start.log" 2>&1 ||
    fail "postfix did not start: $(tail -n 1 "$DIR/start.log")"

# Ready once the listener answers with TLS (at most 10 s).
ready=no
for _ in $(seq 100); do
    if echo | openssl s_client -connect "127.0.0.1:$POSTFIX_PORT" -CAfile "$DIR/tls/ca.pem" \
        -verify_return_error -brief >/dev/null 2>&1; then
        ready=yes
        break
    fi
    sleep 0.1
done
[ "$ready" = yes ] || fail "postfix does not answer on 127.0.0.1:$POSTFIX_PORT: $(tail -n 1 "$DIR/maillog" 2>/dev/null)"

export POSTFIX_PORT
export POSTFIX_CA="$DIR/tls/ca.pem"
set +e
"$@"
status=$?
set -e
exit "$status"
