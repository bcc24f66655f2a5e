#!/usr/bin/python3
# The project's SMTP relay for tests, benchmarks and the demo: Debian's aiosmtpd on a loopback port,
# storing every message byte for byte and, for the demo, printing each as it arrives.
"""Usage: smtp_sink.py DIR [--port N] [--print] [--refuse ADDRESS]... [TLS and login options]

Listens on 127.0.0.1 (port N, or a free one) until SIGTERM or SIGINT. Writes DIR/port once
listening; message N as DIR/N.eml plus DIR/N.json (envelope sender, recipients, HELO name,
whether it came over TLS, the login). The .eml exists, complete, before the client sees "250".
--print      also write each message to standard output as it arrives, each text part decoded
             by its declared character set
--refuse A   answer RCPT TO:<A> with 550, as a relay that knows no such mailbox does
--cert C --key K   offer STARTTLS with this certificate, and require it before MAIL
--implicit         with --cert: TLS from the first byte instead (as on port 465)
--login USER:PASSWORD   require AUTH (PLAIN or LOGIN) with these credentials; every attempt is
                   appended to DIR/auth.log as "MECHANISM LOGIN ok|refused"
--login-without-tls     offer AUTH before TLS too
--no-auth-plain    offer AUTH LOGIN only
"""
import argparse
import asyncio
import email
import json
import logging
import os
import signal
import ssl
import sys
import warnings

from aiosmtpd.smtp import SMTP, AuthResult


def part_text(part):
    """One text part's payload as text, decoded by the character set it declares (latin-1 when
    that set is unknown, so every byte still shows as one character)."""
    payload = part.get_payload(decode=True) or b""
    charset = part.get_content_charset() or "us-ascii"
    try:
        return payload.decode(charset, errors="replace")
    except LookupError:
        return payload.decode("latin-1")


def readable(content):
    """The header as received and each part decoded, text by its declared character set, for a
    terminal; other parts are named, not printed."""
    head = content.partition(b"\r\n\r\n")[0].decode("latin-1")
    message = email.message_from_bytes(content)
    lines = [head, ""]
    for part in message.walk():
        if part.is_multipart():
            continue
        if part is not message:
            lines.append(f"--- part {part.get_content_type()}" +
                         (f" {part.get_filename()!r}" if part.get_filename() else ""))
        if part.get_content_maintype() == "text" and not part.get_filename():
            lines.append(part_text(part))
        else:
            lines.append(f"[{len(part.get_payload(decode=True) or b'')} bytes]")
    return "\n".join(lines).replace("\r\n", "\n").rstrip("\n")


class Sink:
    def __init__(self, out, show, refused, implicit):
        self.out, self.show, self.refused, self.count = out, show, set(refused), 0
        self.implicit = implicit

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.out, str(self.count))
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "helo": session.host_name, "tls": self.implicit or session.ssl is not None,
                       "login": session.auth_data}, f)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")  # appears complete or not at all
        if self.show:
            print(f"----- mail {self.count}: from {envelope.mail_from} to {', '.join(envelope.rcpt_tos)}")
            print(readable(envelope.original_content))
            print(f"----- end of mail {self.count}", flush=True)
        return "250 OK"


def write_atomically(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.rename(path + ".tmp", path)


def authenticator(out, login):
    user, _, password = login.encode("latin-1").partition(b":")

    def check(server, session, envelope, mechanism, data):
        ok = data.login == user and data.password == password
        with open(os.path.join(out, "auth.log"), "a") as f:
            f.write(f"{mechanism} {data.login.decode('latin-1')} {'ok' if ok else 'refused'}\n")
        return AuthResult(success=ok, handled=False, auth_data=user.decode("latin-1") if ok else None)
    return check


def smtp_options(args):
    # Refused handshakes and logins are what the TLS tests provoke: no tracebacks and warnings.
    if args.cert or args.login:
        logging.getLogger("mail.log").setLevel(logging.CRITICAL)
        warnings.simplefilter("ignore")
    # A fixed hostname: without it aiosmtpd asks the resolver for this machine's full name.
    options = {"decode_data": False, "hostname": "sink.test"}
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        if not args.implicit:
            options.update(tls_context=context, require_starttls=True)
    if args.login:
        options.update(authenticator=authenticator(args.dir, args.login), auth_required=True,
                       auth_require_tls=not (args.login_without_tls or args.implicit))
        if args.no_auth_plain:
            options["auth_exclude_mechanism"] = ["PLAIN"]
    return options, context if args.implicit else None


async def main(args):
    loop = asyncio.get_running_loop()
    sink = Sink(args.dir, args.print, args.refuse, args.implicit)
    options, implicit_context = smtp_options(args)
    server = await loop.create_server(
        lambda: SMTP(sink, **options), "127.0.0.1", args.port, ssl=implicit_context)
    write_atomically(os.path.join(args.dir, "port"), str(server.sockets[0].getsockname()[1]))
    stop = asyncio.Event()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, stop.set)
    await stop.wait()
    server.close()


parser = argparse.ArgumentParser(usage=__doc__)
parser.add_argument("dir")
parser.add_argument("--port", type=int, default=0)
parser.add_argument("--print", action="store_true")
parser.add_argument("--refuse", action="append", default=[])
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--implicit", action="store_true")
parser.add_argument("--login")
parser.add_argument("--login-without-tls", action="store_true")
parser.add_argument("--no-auth-plain", action="store_true")
# A terminal that cannot show a character gets a replacement mark, never a dead relay.
sys.stdout.reconfigure(errors="replace")
asyncio.run(main(parser.parse_args()))
