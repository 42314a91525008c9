# SPDX-License-Identifier: GPL-3.0-or-later
# Clients that would wear the server down: one over its connection limit, and many half-open.
# Paths and parameters meant to escape the data root or run code are in test_requests.py.

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
    def test_one_connection_over_the_clients_limit(self):
        # (test_random_requests.py sends the requests nginx refuses for what they are.)
        limit = int(re.search(r"limit_conn velkorant_clients (\d+);", LOCATIONS.read_text())[1])
        # From an address of its own (all of 127/8 is this machine), so that the requests held
        # open here never make the server refuse other tests, which come from 127.0.0.1.
        held = [server.sending(CHECK + b"Content-Length: 1\r\n\r\n", "127.0.0.2")
                for _ in range(limit)]
        for _ in range(20):  # until nginx has read all the waiting requests
            if (answer := server.exchange(CHECK + b"\r\n", source="127.0.0.2")).status == 503:
                break
            time.sleep(0.1)
        for sock in held:
            sock.close()
        headers = answer.headers.get("content-type"), answer.headers.get("cache-control")
        self.assertEqual((answer.status, *headers), (503, "text/plain", "no-store"), answer)
        self.assertTrue(answer.body.startswith(b"Error: ") and len(answer.body) < 60, answer)


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

