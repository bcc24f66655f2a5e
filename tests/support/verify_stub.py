#!/usr/bin/python3
# A local HTTPS server that plays a CAPTCHA service's verification endpoint for the tests.
# Usage: verify_stub.py DIR CERT KEY SECRET. Listens on a free loopback port (written to DIR/port)
# and answers POST /PROVIDER/MODE, where MODE is
#   success  {"success": true} when the form's secret is SECRET and a response is given, else a refusal
#   failure  {"success": false, "error-codes": ["invalid-input-response"]}
#   garbage  an HTML page with status 200
#   silence  reads the request and never answers
# Every request's form is appended to DIR/requests as one JSON line (with the path and Content-Type).
import json
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

folder, cert, key, secret = sys.argv[1:5]
lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def answer(self, body, content_type="application/json", chunked=False):
        data = body.encode()
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        if chunked:
            # Cloudflare's own servers answer in chunks: the client must read them.
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(0, len(data), 7):
                part = data[i:i + 7]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
            self.wfile.write(b"0\r\n\r\n")
        else:
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = urllib.parse.parse_qs(self.rfile.read(length).decode(), keep_blank_values=True)
        parts = self.path.strip("/").split("/")
        provider, mode = (parts + ["", ""])[:2]
        record = {"path": self.path, "type": self.headers.get("Content-Type"),
                  "form": {k: v[0] for k, v in form.items()}}
        with lock, open(folder + "/requests", "a") as out:
            out.write(json.dumps(record) + "\n")
        chunked = provider == "turnstile"
        if mode == "success":
            good = form.get("secret", [""])[0] == secret and form.get("response", [""])[0] != ""
            codes = [] if good else ["invalid-input-secret"]
            self.answer(json.dumps({"success": good, "error-codes": codes, "hostname": "localhost"}), chunked=chunked)
        elif mode == "failure":
            self.answer('{"success": false, "error-codes": ["invalid-input-response"]}', chunked=chunked)
        elif mode == "garbage":
            self.answer("<html><body>Service unavailable</body></html>", "text/html")
        else:  # silence
            time.sleep(60)


server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
server.daemon_threads = True
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
with open(folder + "/port.tmp", "w") as f:
    f.write(str(server.server_address[1]))
import os
os.rename(folder + "/port.tmp", folder + "/port")
server.serve_forever()
