#!/usr/bin/python3
"""A real SMTP server for the client's tests: Debian's aiosmtpd on 127.0.0.1.

Three listeners on free ports, all with one test account:
  plain     no TLS, AUTH offered in clear text
  starttls  STARTTLS offered and required; AUTH only once TLS is up
  tls       TLS from the first byte
Once all three listen it prints one line and flushes it:
  ports plain=<n> starttls=<n> tls=<n>
It runs until it is terminated. With --record DIR every accepted message is
written to DIR/<n>.envelope (MAIL FROM, then one RCPT TO per line) and
DIR/<n>.data (the DATA bytes exactly as received, dot-unstuffed).
With --auth-required every listener answers MAIL FROM (and RCPT, DATA) with
530 until the client has logged in. With --local-domain D only recipients
in domain D are accepted; any other gets 550, as a server that relays for
nobody answers.
"""
import argparse
import asyncio
import logging
import pathlib
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Handler:
    def __init__(self, record, local_domain):
        self.record = record
        self.local_domain = local_domain
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        domain = address.rpartition("@")[2].lower()
        if self.local_domain is not None and domain != self.local_domain:
            return "550 5.7.1 Relaying denied"
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.record is not None:
            self.count += 1
            base = self.record / str(self.count)
            lines = [envelope.mail_from, *envelope.rcpt_tos]
            base.with_suffix(".envelope").write_text("\n".join(lines) + "\n")
            base.with_suffix(".data").write_bytes(envelope.original_content)
        return "250 OK"


def make_authenticator(user, password):
    def authenticate(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == user.encode()
              and auth_data.password == password.encode())
        # handled=False: aiosmtpd answers a failure with its own 535.
        return AuthResult(success=ok, handled=False)
    return authenticate


async def serve(args):
    tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    tls.load_cert_chain(args.cert, args.key)
    record = pathlib.Path(args.record) if args.record else None
    local_domain = args.local_domain.lower() if args.local_domain else None
    handler = Handler(record, local_domain)
    exclude = [m for m in ("LOGIN", "PLAIN") if m not in args.mechanisms.split(",")]
    common = dict(authenticator=make_authenticator(args.user, args.password),
                  auth_exclude_mechanism=exclude, hostname="test.invalid",
                  auth_required=args.auth_required)
    loop = asyncio.get_running_loop()
    factories = {
        "plain": (lambda: SMTP(handler, auth_require_tls=False, **common), None),
        "starttls": (lambda: SMTP(handler, tls_context=tls, require_starttls=True, **common),
                     None),
        "tls": (lambda: SMTP(handler, auth_require_tls=False, **common), tls),
    }
    servers = {}
    for name, (factory, server_tls) in factories.items():
        servers[name] = await loop.create_server(factory, "127.0.0.1", 0, ssl=server_tls)
    ports = " ".join(f"{name}={s.sockets[0].getsockname()[1]}" for name, s in servers.items())
    print(f"ports {ports}", flush=True)
    await asyncio.Event().wait()


def main():
    # aiosmtpd warns about its own use of a deprecated attribute on every
    # login; errors (a refused handshake, say) still show.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    # --auth-required on the clear-text listener is deliberate: it is where
    # a client that does not log in is refused.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--mechanisms", default="LOGIN,PLAIN",
                        help="comma-separated subset of LOGIN,PLAIN to offer")
    parser.add_argument("--record", help="folder for the messages received")
    parser.add_argument("--auth-required", action="store_true",
                        help="refuse mail transactions before a successful AUTH")
    parser.add_argument("--local-domain", help="refuse recipients outside this domain")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    sys.exit(main())
