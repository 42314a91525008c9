# SPDX-License-Identifier: GPL-3.0-or-later
# Requests nginx refuses itself, and clients that would wear the server down. Paths and
# parameters meant to escape the data root or run code are in test_requests.py.

import re
import resource
import socket
import time
import unittest

from mailbox_http import SERVER_DIR, Server

server = Server()
LOCATIONS = SERVER_DIR / "deploy/nginx/velkorant-locations.conf"
CHECK = f"GET {server.prefix}comprobar_conexion_servidor.php HTTP/1.1\r\nHost: localhost\r\n".encode()


class RefusedByNginx(unittest.TestCase):
    def test_refusals_are_short_texts(self):
        limit = int(re.search(r"limit_conn velkorant_clients (\d+);", LOCATIONS.read_text())[1])
        cases = [  # name, request, status, requests of the same client left waiting for their body
            ("a request line that does not parse", b"GET /velkorant/ HTTP/1.1 x\r\n\r\n", 400, 0),
            ("a header larger than the buffers", CHECK + b"X: " + b"a" * 70000 + b"\r\n\r\n", 400, 0),
            ("a method the server has no use for", b"TRACE /velkorant/ HTTP/1.1\r\nHost: localhost\r\n\r\n", 405, 0),
            ("a post straight to a message file", b"POST /velkorant/0123456789/msj_1_datos.cry HTTP/1.1\r\n"
             b"Host: localhost\r\nContent-Length: 0\r\n\r\n", 403, 0),
            ("one connection over the client's limit", CHECK + b"\r\n", 503, limit),
        ]
        # From an address of its own (all of 127/8 is this machine), so that the requests held
        # open here never make the server refuse other tests, which come from 127.0.0.1.
        for name, request, status, waiting in cases:
            with self.subTest(name):
                held = [server.sending(CHECK + b"Content-Length: 1\r\n\r\n", "127.0.0.2") for _ in range(waiting)]
                for _ in range(20):  # until nginx has read all the waiting requests
                    if (answer := server.exchange(request, source="127.0.0.2")).status == status:
                        break
                    time.sleep(0.1)
                for sock in held:
                    sock.close()
                self.assertEqual(answer.status, status, answer)
                self.assertTrue(answer.body.startswith(b"Error: ") and len(answer.body) < 60, answer)
                headers = answer.headers.get("content-type"), answer.headers.get("cache-control")
                self.assertEqual(headers, ("text/plain", "no-store"))


class HalfOpenClients(unittest.TestCase):
    def test_cannot_starve_the_server(self):
        count = 1200  # beyond what nginx held before any limits: 2 workers x 512 connections
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, count + 100), hard))
        started = time.monotonic()
        # Request headers that never end, then TLS handshakes that never end: the cheaper ones fill up.
        idle = [server.sending(CHECK) for _ in range(100)]
        for _ in range(count - 100):
            idle.append(socket.create_connection(("127.0.0.1", server.port), timeout=10))
            idle[-1].sendall(b"\x16\x03\x01\x02\x00\x01")
        asked = time.monotonic()
        self.assertEqual(server.get("comprobar_conexion_servidor.php").body, b"OK")
        self.assertLess(time.monotonic() - asked, 5)
        # Each is dropped after the header time-out, long before nginx's default of 60 s.
        for sock in idle:
            sock.settimeout(max(0.1, started + 20 - time.monotonic()))
            try:
                self.assertEqual(sock.recv(1), b"")
            except TimeoutError:
                self.fail("a half-open connection outlived the header time-out")
            except OSError:
                pass  # reset: closed as well

