#!/usr/bin/python3
# A local SMTP server (Debian's python3-aiosmtpd) that accepts every mail: the demo's relay, which
# prints each mail as it arrives, and the tests' relay, which stores each mail and its envelope.
"""Usage: smtp-sink.py PORT [--out DIR] [--print] [--refuse ADDRESS]...

Listens on 127.0.0.1:PORT until SIGTERM or SIGINT.
--out DIR   store mail N as DIR/N.eml (bytes as received) and DIR/N.env (lines "HELO name",
            "FROM address", one "TO address" per recipient); both appear whole, by rename,
            the .env last.
--print     write each mail to standard output as it arrives.
--refuse A  answer RCPT TO:<A> with a 550 reply (a relay that knows no such mailbox).
"""
import email
import itertools
import os
import signal
import sys

from aiosmtpd.controller import Controller


def write_whole(path, data):
    tmp = path + ".part"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


def readable(content):
    """The header as received and the body decoded from its transfer encoding, for a terminal."""
    head, _, body = content.partition(b"\r\n\r\n")
    message = email.message_from_bytes(content)
    if not message.is_multipart():
        body = message.get_payload(decode=True) or b""
    text = head + b"\r\n\r\n" + body
    return text.decode("latin-1").replace("\r\n", "\n").rstrip("\n")


class Sink:
    def __init__(self, out, show, refused):
        self.out, self.show, self.refused = out, show, refused
        self.numbers = itertools.count(1)

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return f"550 5.1.1 <{address}>: Recipient address rejected"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        n = next(self.numbers)
        if self.out:
            write_whole(f"{self.out}/{n}.eml", envelope.original_content)
            lines = [f"HELO {session.host_name}", f"FROM {envelope.mail_from}"]
            lines += [f"TO {r}" for r in envelope.rcpt_tos]
            write_whole(f"{self.out}/{n}.env", ("\n".join(lines) + "\n").encode("latin-1", "replace"))
        if self.show:
            print(f"----- mail {n}: from {envelope.mail_from} to {', '.join(envelope.rcpt_tos)}")
            print(readable(envelope.original_content))
            print(f"----- end of mail {n}", flush=True)
        return "250 OK"


def main():
    args = sys.argv[1:]
    if not args or args[0] in ("-h", "--help"):
        print(__doc__)
        return 0 if args else 2
    port, out, show, refused = int(args[0]), None, False, set()
    rest = args[1:]
    while rest:
        a = rest.pop(0)
        if a == "--out":
            out = rest.pop(0)
        elif a == "--print":
            show = True
        elif a == "--refuse":
            refused.add(rest.pop(0))
        else:
            print(f"smtp-sink.py: unknown argument {a}", file=sys.stderr)
            return 2
    controller = Controller(Sink(out, show, refused), hostname="127.0.0.1", port=port, decode_data=False)
    controller.start()
    signal.sigwait({signal.SIGTERM, signal.SIGINT})
    controller.stop()
    return 0


if __name__ == "__main__":
    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM, signal.SIGINT})
    sys.exit(main())
