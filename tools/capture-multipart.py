#!/usr/bin/env python3
# Captures multipart/form-data bodies that real clients send (curl -F and headless Chromium posting
# a page's form) with a small loopback server, and stores them as test data and fuzzer seeds.
#
#   tools/capture-multipart.py OUT_DIR       writes OUT_DIR/<client>.body and OUT_DIR/<client>.files/
#
# Each capture is the request body byte for byte; <client>.files/ holds the files the client sent,
# so a test can compare the decoded upload files with them.
import http.server
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run"]

NOTE_TEXT = "Dear team,\r\nplease find the figures attached.\r\n-- \r\nMara\r\n"
# Bytes that a decoder must pass through untouched: line ends, dashes, a zero byte, high bytes.
BINARY = bytes([0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0D, 0x0A, 0x2D, 0x2D, 0x00, 0xFF, 0x0D,
                0x0D, 0x0A, 0x0A, 0x2D, 0x2D, 0x0D, 0x0A, 0x80, 0x7F, 0x3B])


def large_content():
    """A file larger than the decoder's ring: 150000 pseudo-random bytes, fixed seed."""
    rnd = random.Random(4711)
    return bytes(rnd.getrandbits(8) for _ in range(150000))


FORM_PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>capture</title></head><body>
<form id="f" method="post" enctype="multipart/form-data" action="/capture?name=%(name)s">
<input name="name" value="Mara Velasco">
<textarea name="message">Line one
Line two, with = and &amp; and 100%% & "quotes"</textarea>
<input name="empty" value="">
<input name="greeting" value="Gr\u00fc\u00dfe aus K\u00f6ln">
<input type="file" name="upload">
<input type="file" name="nofile">
<input type="file" name="picture">
</form>
<script>
function bytes(list) { return new Uint8Array(list); }
window.onload = function () {
  if (location.hash !== "#auto") return;
  const files = %(files)s;
  for (const [field, name, type, b64] of files) {
    const raw = atob(b64);
    const data = new Uint8Array(raw.length);
    for (let i = 0; i < raw.length; i++) data[i] = raw.charCodeAt(i);
    const dt = new DataTransfer();
    dt.items.add(new File([data], name, {type: type}));
    document.querySelector('input[name="' + field + '"]').files = dt.files;
  }
  document.getElementById("f").submit();
};
</script></body></html>
"""


class Capture(http.server.BaseHTTPRequestHandler):
    pages = {}      # path -> html
    captured = {}   # capture name -> body bytes
    done = threading.Event()

    def log_message(self, *args):
        pass

    def do_GET(self):
        page = self.pages.get(self.path.split("#")[0])
        if page is None:
            self.send_error(404)
            return
        data = page.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        name = self.path.split("name=", 1)[1] if "name=" in self.path else "unnamed"
        Capture.captured[name] = body
        answer = b"<html><body>captured</body></html>"
        self.send_response(200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)


def write_files(out_dir, name, files):
    folder = os.path.join(out_dir, name + ".files")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for field, data in files.items():
        with open(os.path.join(folder, field), "wb") as f:
            f.write(data)


def capture_curl(port, work, out_dir):
    note = os.path.join(work, "note.txt")
    pic = os.path.join(work, "pic.gif")
    empty = os.path.join(work, "empty.dat")
    with open(note, "w", newline="") as f:
        f.write(NOTE_TEXT)
    with open(pic, "wb") as f:
        f.write(BINARY)
    open(empty, "wb").close()
    subprocess.run(["curl", "-sS", "-o", "/dev/null",
                    "--form-string", "name=Mara Velasco",
                    "--form-string", "message=Line one\r\nLine two, with = and & and 100% \"quotes\"",
                    "--form-string", "empty=",
                    "-F", "upload=@%s;type=text/plain" % note,
                    "-F", "picture=@%s;type=image/gif" % pic,
                    "-F", "emptyfile=@%s" % empty,
                    "http://127.0.0.1:%d/capture?name=curl-form" % port], check=True)
    write_files(out_dir, "curl-form", {"upload": NOTE_TEXT.encode(), "picture": BINARY, "emptyfile": b""})


def capture_chromium(port, work, name, files):
    import base64
    file_list = [[field, fname, ftype, base64.b64encode(data).decode()] for field, fname, ftype, data in files]
    import json
    Capture.pages["/" + name + ".html"] = FORM_PAGE % {"name": name, "files": json.dumps(file_list)}
    profile = tempfile.mkdtemp(dir=work)
    subprocess.run(["timeout", "60", "chromium"] + CHROMIUM_FLAGS +
                   ["--user-data-dir=" + profile, "--virtual-time-budget=5000", "--dump-dom",
                    "http://127.0.0.1:%d/%s.html#auto" % (port, name)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else "tests/data/multipart"
    os.makedirs(out_dir, exist_ok=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Capture)
    port = server.server_address[1]
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    work = tempfile.mkdtemp()
    try:
        capture_curl(port, work, out_dir)
        small = [("upload", "note.txt", "text/plain", NOTE_TEXT.encode()),
                 ("picture", "pic.gif", "image/gif", BINARY)]
        capture_chromium(port, work, "chromium-form", small)
        write_files(out_dir, "chromium-form", {"upload": NOTE_TEXT.encode(), "picture": BINARY})
        big = large_content()
        capture_chromium(port, work, "chromium-large", [("upload", "data.bin", "application/octet-stream", big)])
        write_files(out_dir, "chromium-large", {"upload": big})
    finally:
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)
    for name, body in sorted(Capture.captured.items()):
        with open(os.path.join(out_dir, name + ".body"), "wb") as f:
            f.write(body)
        print("%s: %d bytes" % (name, len(body)))
    missing = {"curl-form", "chromium-form", "chromium-large"} - set(Capture.captured)
    if missing:
        sys.exit("not captured: " + ", ".join(sorted(missing)))


if __name__ == "__main__":
    main()
