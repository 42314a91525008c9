#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# hostile_server.py MODE [--files DIR] [--lifetime SECONDS]: a misbehaving mailbox server of
# 127.0.0.1 (HTTPS, a certificate of its own) that prints "server=127.0.0.1:PORT/velkorant/" and
# "ca=PATH" and serves until killed or for 300 s. A script answers the percent-decoded last folder
# of the address (.../si%0A/existe_buzon.php says "si\n"). Message files come from DIR
# (msj_N_datos.cry, else an empty 404) or, without --files, answer like a script. MODE:
#   answers       as above
#   drops         every other request for a message file or a new mailbox, the first included,
#                 loses its connection mid-answer
#   huge          10 MiB answers; endless: a byte a second; plain: plain HTTP where TLS is expected
#   page404, page503
#                 a web host's error or maintenance page (70 kB of HTML) for every message file,
#                 with that status
#   busy          the first request for each message file is refused (503 for odd numbers, 429
#                 for even ones, "Retry-After: 1"); later ones are served
#   busyforever   every message file is refused with 503 and "Retry-After: 1"
#   slow          every message file is answered 4 s late
#   limited       every script is refused with 429 and a short "Error: ..." text.
import contextlib
import http.server
import pathlib
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

# The page of page404 and page503, 70 kB.
PAGE = (b"<!DOCTYPE html><html><head><title>En mantenimiento</title></head><body><p>"
        + b"Volvemos enseguida. " * 3500)[:70_000 - 14] + b"</body></html>"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def handle(self):  # a client that went away mid-answer is no fault of the server's
        with contextlib.suppress(BrokenPipeError, ConnectionResetError, ssl.SSLError):
            super().handle()

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for header in headers:
            self.send_header(*header)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        mode = sys.argv[1]
        asked[self.path] = asked.get(self.path, 0) + 1
        message = self.path.endswith(".cry")
        if mode == "drops" and (message or "crear_buzon" in self.path) and asked[self.path] % 2:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nA")
            self.close_connection = True
            return
        if not message and mode == "limited":
            return self.answer(429, b"Error: demasiadas peticiones; espera un poco",
                               [("Content-Type", "text/plain")])
        if message and mode == "slow":
            time.sleep(4)
        if message and mode in ("page404", "page503"):
            return self.answer(int(mode[4:]), PAGE, [("Content-Type", "text/html")])
        if message and (mode == "busyforever" or mode == "busy" and asked[self.path] == 1):
            number = int(self.path.split("_")[-2])
            return self.answer(429 if mode == "busy" and number % 2 == 0 else 503,
                               b"Error: demasiadas peticiones", [("Retry-After", "1")])
        if message and files:
            file = pathlib.Path(files, self.path.split("/")[-1])
            return self.answer(200, file.read_bytes()) if file.is_file() else self.answer(404, b"")
        folder = urllib.parse.unquote(self.path.split("?")[0]).split("/")[-2]
        if mode != "endless":
            body = b"A" * (10 << 20) if mode == "huge" else b"" if mode == "plain" else folder.encode("latin-1")
            return self.answer(200, body)
        self.send_response(200)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for _ in range(600):
            self.wfile.write(b"1\r\nA\r\n")
            self.wfile.flush()
            time.sleep(1)


def option(name, default):
    return sys.argv[sys.argv.index(name) + 1] if name in sys.argv else default


asked = {}
files = option("--files", "")
signal.signal(signal.SIGTERM, lambda *_: sys.exit())  # what it made goes with it
lifetime = float(option("--lifetime", 300))
with tempfile.TemporaryDirectory(prefix="velkorant-hostile-") as folder:
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                    "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", f"{folder}/key.pem",
                    "-out", f"{folder}/ca.pem", "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(f"{folder}/ca.pem", f"{folder}/key.pem")
    if sys.argv[1] != "plain":
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(f"server=127.0.0.1:{server.server_address[1]}/velkorant/\nca={folder}/ca.pem", flush=True)
    ending = threading.Timer(lifetime, server.shutdown)
    ending.daemon = True  # no wait for it on the way out
    ending.start()
    server.serve_forever()
