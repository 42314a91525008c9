#!/usr/bin/env python3
"""A misbehaving mailbox server for the client's robustness tests.

Serves HTTPS on 127.0.0.1 with a certificate made on the spot (printed as ca=PATH), in one of
these modes:
  huge        every answer is 10 MiB of "A"
  endless     every answer starts and then trickles one byte a second, never ending
  every       the mailbox exists and every message number has a (well-formed) message file
  refuse      the mailbox exists, and sends are answered with HTTP 500 and an error text
  answers     each script answers the text given with --answer SCRIPT=TEXT; others answer 404
Prints "server=127.0.0.1:PORT/velkorant/" and "ca=PATH" on standard output once it listens,
then serves until killed or until --lifetime seconds have passed.
"""
import argparse
import http.server
import os
import re
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

TRANSPORT = "00" * 64  # two blocks of hexadecimal: shaped like a message, decrypts with nothing


def make_certificate(folder: str):
    key = os.path.join(folder, "key.pem")
    cert = os.path.join(folder, "cert.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
         "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
         "-addext", "basicConstraints=critical,CA:TRUE"],
        check=True, capture_output=True)
    return cert, key


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    mode = "huge"
    answers = {}

    def setup(self):
        super().setup()
        # Headers and body go out in separate writes: without this, Nagle's algorithm and the
        # client's delayed acknowledgement cost 40 ms a request.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def log_message(self, *args):
        pass

    def answer(self, status: int, body: bytes):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        try:
            if self.mode == "huge":
                chunk = b"A" * 65536
                self.send_response(200)
                self.send_header("Content-Length", str(10 * 1024 * 1024))
                self.end_headers()
                for _ in range(160):
                    self.wfile.write(chunk)
            elif self.mode == "endless":
                self.send_response(200)
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                for _ in range(600):
                    self.wfile.write(b"1\r\nA\r\n")
                    self.wfile.flush()
                    time.sleep(1)
            elif self.mode == "answers":
                script = path.rsplit("/", 1)[-1]
                if script in self.answers:
                    self.answer(200, self.answers[script])
                else:
                    self.answer(404, b"")
            elif self.mode in ("every", "refuse"):
                if path.endswith("existe_buzon.php"):
                    self.answer(200, b"si")
                elif path.endswith("enviar_mensaje.php") and self.mode == "refuse":
                    self.answer(500, b"Error: almacenamiento lleno")
                elif re.search(r"/msj_\d+_datos\.cry$", path):
                    self.answer(200, TRANSPORT.encode())
                else:
                    self.answer(200, b"OK")
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["huge", "endless", "every", "refuse", "answers"])
    parser.add_argument("--answer", action="append", default=[],
                        help="SCRIPT=TEXT; \\n in TEXT stands for a line feed")
    parser.add_argument("--lifetime", type=float, default=300)
    args = parser.parse_args()

    folder = tempfile.mkdtemp(prefix="velkorant-hostile-")
    cert, key = make_certificate(folder)
    Handler.mode = args.mode
    for item in args.answer:
        script, _, text = item.partition("=")
        Handler.answers[script] = text.replace("\\n", "\n").encode("latin-1")
    server = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print(f"server=127.0.0.1:{server.server_address[1]}/velkorant/", flush=True)
    print(f"ca={cert}", flush=True)
    threading.Timer(args.lifetime, server.shutdown).start()
    try:
        server.serve_forever()
    finally:
        for name in os.listdir(folder):
            os.remove(os.path.join(folder, name))
        os.rmdir(folder)


if __name__ == "__main__":
    sys.exit(main())
