#!/usr/bin/env python3
"""hostile_server.py MODE [--lifetime SECONDS]: a misbehaving mailbox server of 127.0.0.1 (HTTPS,
a certificate of its own) that prints "server=127.0.0.1:PORT/velkorant/" and "ca=PATH" and serves
until killed or for 300 s. MODE: answers (a script answers the percent-decoded last folder of the
address: .../si%0A/existe_buzon.php says "si\\n"), drops (as answers, but every other request for
a message file or a new mailbox, the first included, loses its connection mid-answer), huge (10 MiB), endless (a byte a second) or
plain (plain HTTP where TLS is expected)."""
import http.server
import signal
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        mode = sys.argv[1]
        asked[self.path] = asked.get(self.path, 0) + 1
        dropped = self.path.endswith(".cry") or "crear_buzon" in self.path
        if mode == "drops" and dropped and asked[self.path] % 2 == 1:
            self.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nA")
            self.close_connection = True
            return
        folder = urllib.parse.unquote(self.path.split("?")[0]).split("/")[-2]
        body = folder.encode("latin-1") if mode in ("answers", "drops") else b""
        body = b"A" * (10 << 20) if mode == "huge" else body
        self.send_response(200)
        if mode == "endless":
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
            for _ in range(600 if mode == "endless" else 0):
                self.wfile.write(b"1\r\nA\r\n")
                self.wfile.flush()
                time.sleep(1)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass


asked = {}
signal.signal(signal.SIGTERM, lambda *_: sys.exit())  # what it made goes with it
lifetime = float(sys.argv[sys.argv.index("--lifetime") + 1]) if "--lifetime" in sys.argv else 300
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
