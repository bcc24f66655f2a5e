#!/usr/bin/python3
# The project's SMTP relay for tests, benchmarks and the demo: Debian's aiosmtpd on a loopback port,
# storing every message byte for byte and, for the demo, printing each as it arrives.
"""Usage: smtp_sink.py DIR [--port N] [--print] [--refuse ADDRESS]...

Listens on 127.0.0.1 (port N, or a free one) until SIGTERM or SIGINT. Writes DIR/port once
listening; message N as DIR/N.eml plus DIR/N.json (envelope sender, recipients, HELO name).
The .eml exists, complete, before the client sees "250".
--print      also write each message to standard output, its body decoded, as it arrives
--refuse A   answer RCPT TO:<A> with 550, as a relay that knows no such mailbox does
"""
import argparse
import asyncio
import email
import json
import os
import signal

from aiosmtpd.smtp import SMTP


def readable(content):
    """The header as received and the body decoded from its transfer encoding, for a terminal."""
    head, _, body = content.partition(b"\r\n\r\n")
    message = email.message_from_bytes(content)
    if not message.is_multipart():
        body = message.get_payload(decode=True) or b""
    return (head + b"\r\n\r\n" + body).decode("latin-1").replace("\r\n", "\n").rstrip("\n")


class Sink:
    def __init__(self, out, show, refused):
        self.out, self.show, self.refused, self.count = out, show, set(refused), 0

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
                       "helo": session.host_name}, f)
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


async def main(args):
    loop = asyncio.get_running_loop()
    sink = Sink(args.dir, args.print, args.refuse)
    # A fixed hostname: without it aiosmtpd asks the resolver for this machine's full name.
    server = await loop.create_server(
        lambda: SMTP(sink, decode_data=False, hostname="sink.test"), "127.0.0.1", args.port)
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
asyncio.run(main(parser.parse_args()))
