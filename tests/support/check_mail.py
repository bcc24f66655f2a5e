# Reads one delivered message with Python's email package and compares it with what a test wants:
# header values, the decoded body, every attachment byte for byte, the envelope; no MIME defects.
# Prints one "got X, want Y" line per difference and exits 1 when there is any.
import argparse
import email
import email.policy
import json
import sys

p = argparse.ArgumentParser()
p.add_argument("message")
p.add_argument("--header", action="append", default=[], help="NAME=VALUE, exactly once")
p.add_argument("--no-header", action="append", default=[], help="NAME must be absent")
p.add_argument("--body-file", help="file holding the decoded body the message must carry")
p.add_argument("--attachment", action="append", default=[], help="NAME=PATH, in order")
p.add_argument("--envelope", help="the sink's JSON record of the envelope")
p.add_argument("--mail-from")
p.add_argument("--rcpt", action="append", default=[])
args = p.parse_args()

problems = []


def want(what, got, expected):
    if got != expected:
        problems.append(f"{what}: got {got!r}, want {expected!r}")


with open(args.message, "rb") as f:
    msg = email.message_from_binary_file(f, policy=email.policy.default)

for part in msg.walk():
    want(f"defects of {part.get_content_type()} part", [str(d) for d in part.defects], [])

for h in args.header:
    name, value = h.split("=", 1)
    values = msg.get_all(name) or []
    want(f"header {name}", [str(v) for v in values], [value])
for name in args.no_header:
    want(f"header {name}", msg.get_all(name), None)

if msg.is_multipart():
    body_part = next(msg.iter_parts())
    attachments = list(msg.iter_attachments())
else:
    body_part, attachments = msg, []

if args.body_file:
    # The email package hands out decoded text with LF line ends; compare line ends as LF.
    with open(args.body_file, "rb") as f:
        want("decoded body", body_part.get_payload(decode=True).replace(b"\r\n", b"\n"),
             f.read().replace(b"\r\n", b"\n"))

want("attachment count", len(attachments), len(args.attachment))
for part, wanted in zip(attachments, args.attachment):
    name, path = wanted.split("=", 1)
    with open(path, "rb") as f:
        data = f.read()
    want("attachment file name", part.get_filename(), name)
    want("attachment content type", part.get_content_type(), "application/octet-stream")
    got = part.get_payload(decode=True)
    if got != data:
        problems.append(f"attachment {name}: got {len(got)} bytes, want {len(data)} bytes "
                        f"(first difference at {next((i for i, (a, b) in enumerate(zip(got, data)) if a != b), min(len(got), len(data)))})")

if args.envelope:
    with open(args.envelope) as f:
        env = json.load(f)
    if args.mail_from is not None:
        want("envelope sender", env["mail_from"], args.mail_from)
    if args.rcpt:
        want("envelope recipients", env["rcpt_tos"], args.rcpt)

for line in problems:
    print(line)
sys.exit(1 if problems else 0)
