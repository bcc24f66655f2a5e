# A real SMTP relay for tests: aiosmtpd on a free loopback port, storing every message byte for byte.
# Usage: smtp_sink.py DIR. Writes DIR/port once listening; message N as DIR/N.eml plus DIR/N.json
# (envelope sender, recipients, HELO name). The .eml exists before the client sees "250".
import asyncio
import json
import os
import signal
import sys

from aiosmtpd.smtp import SMTP

out = sys.argv[1]
count = 0


class Sink:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        base = os.path.join(out, str(count))
        with open(base + ".json", "w") as f:
            json.dump({"mail_from": envelope.mail_from, "rcpt_tos": envelope.rcpt_tos,
                       "helo": session.host_name}, f)
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")  # appears complete or not at all
        return "250 OK"


def write_atomically(path, text):
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.rename(path + ".tmp", path)


async def main():
    loop = asyncio.get_running_loop()
    # A fixed hostname: without it aiosmtpd asks the resolver for this machine's full name.
    server = await loop.create_server(
        lambda: SMTP(Sink(), decode_data=False, hostname="sink.test"), "127.0.0.1", 0)
    write_atomically(os.path.join(out, "port"), str(server.sockets[0].getsockname()[1]))
    stop = asyncio.Event()
    for s in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(s, stop.set)
    await stop.wait()
    server.close()


asyncio.run(main())
