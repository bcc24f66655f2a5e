#!/usr/bin/env python3
# Writes the seed corpora of fuzz_formdata and fuzz_multipart from the captured client bodies in
# tests/data/multipart and a few hand-made bodies. Run from the source root; rerun after capturing.
import os
import urllib.parse

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "tests", "data", "multipart")
FUZZ = os.path.join(ROOT, "fuzz", "corpus")


def write(target, name, data):
    folder = os.path.join(FUZZ, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def part(boundary, headers, content):
    return boundary + b"\r\n" + headers + b"\r\n\r\n" + content + b"\r\n"


def main():
    bodies = {}
    for client in ("curl-form", "chromium-form"):
        with open(os.path.join(DATA, client + ".body"), "rb") as f:
            bodies[client] = f.read()
    b = b"--xyz"
    bodies["example"] = (part(b, b'Content-Disposition: form-data; name="text"', b"1+1=2, ok") +
                         part(b, b'Content-Disposition: form-data; name="att"; filename="C:\\docs\\note.txt"\r\n'
                                 b"Content-Type: text/plain", b"hello") + b + b"--\r\n")
    b = b"------FuzzSeedBoundary"
    bodies["file-over-small-ring"] = (part(b, b'Content-Disposition: form-data; name="f"; filename="../a.b"',
                                           bytes(range(256)) * 12 + b"\r\n--FuzzSeedBoundar") + b + b"--\r\n")
    bodies["lf-only"] = (b"--lfbound\nContent-Disposition: form-data; name=\"a\"\n\nx\n--lfbound\n"
                         b"Content-Disposition: form-data; name=\"f\"; filename=\"\"\nContent-Type: a/b\n\n\n--lfbound--\n")
    # Control bytes: ring, four chunk sizes, length delta, failure point (see fuzz_multipart.cpp).
    controls = {"whole": bytes([3, 255, 255, 255, 255, 0, 0]), "small": bytes([0, 0, 6, 2, 0, 0, 0]),
                "short": bytes([5, 16, 16, 16, 16, 0x9C, 0]), "fail": bytes([9, 7, 7, 7, 7, 0, 128])}
    for name, body in bodies.items():
        for cname, control in controls.items():
            write("fuzz_multipart", "%s-%s" % (name, cname), control + body)

    forms = {
        "documented": b"name\nName=1&x=2&NAME=3",
        "joined": b"a\nx&a=1&a=b=c",
        "escapes": b"a b\na+b%41%4a%zz%4=1&%61+b=2",
        "marker": b"a\na=1&a=%231NOT_AVAILABLE%231",
        "zero": b"b\na=1\x00&b=2",
        "decoded-chromium": b"message\nname=Mara+Velasco&message=Line+one%0D%0ALine+two%2C+with+%3D+and+%26+and+"
                            b"100%25+%26+%22quotes%22&empty=&greeting=Gr%C3%BC%C3%9Fe+aus+K%C3%B6ln&"
                            b"upload_CONTENT_TYPE=+text/plain&upload=note.txt&upload_FILENAME=/tmp/up/4711note.tmp&",
    }
    for name, data in forms.items():
        write("fuzz_formdata", name, data)


if __name__ == "__main__":
    main()
