"""Requests meant to escape the data root, to run code or to wear the server down: all refused,
nothing created.

Oversized request lines are in test_messages.py."""

import http.client
import os
import pathlib
import re
import resource
import secrets
import socket
import time
import unittest

from mailbox_http import Server, ciphertext, new_folder

server = Server()
SERVER_DIR = pathlib.Path(__file__).resolve().parents[2] / "mailbox-server"
CHECK = b"GET /velkorant/comprobar_conexion_servidor.php HTTP/1.1\r\nHost: localhost\r\n"

SCRIPTS = ("existe_buzon.php", "crear_buzon.php", "enviar_mensaje.php")
PHP_PAYLOAD = b'<?php echo "EXEC" . "UTED"; ?>'


def everything_under(path):
    return [pathlib.Path(root) / name for root, dirs, files in os.walk(path) for name in dirs + files]


class FolderTraversal(unittest.TestCase):
    def test_folder_values_that_leave_the_data_root(self):
        marker = "VK" + secrets.token_hex(4).upper()  # 10 characters, not all hexadecimal
        values = [
            f"../{marker}",
            f"../../../../tmp/{marker}",
            f"..%2F..%2F{marker}",
            f"%2e%2e%2f%2e%2e%2f{marker}",
            f"%2E%2E/{marker}",
            f"/tmp/{marker}",
            f"%2Ftmp%2F{marker}",
            "..",
            "../data",
            "%2e%2e",
            "ABCDEF%00123",
            "ABCDE/F012",
            "ABCDEF0123/..",
            f"ABCDEF0123%2F..%2F..%2F{marker}",
        ]
        for script in SCRIPTS:
            for value in values:
                with self.subTest(script=script, folder=value):
                    query = f"folder={value}&name=datos&new=0&datacry={ciphertext(1)}"
                    answer = server.get(f"{script}?{query}")
                    self.assertEqual(answer.status, 400, answer)
                    self.assertTrue(answer.body.startswith(b"Error"), answer)

        state = server.data_root.parent
        for place in (state, SERVER_DIR):
            found = [p for p in everything_under(place) if marker in p.name]
            self.assertEqual(found, [], place)
        for place in (pathlib.Path("/tmp"), pathlib.Path("/"), state.parent, state.parent.parent):
            self.assertFalse((place / marker).exists(), place)
        for entry in server.data_root.iterdir():
            self.assertRegex(entry.name, r"^([0-9A-F]{10}|_test_answers|\.probe-[0-9a-f]{16})$")


class NothingRunsUnderTheDataRoot(unittest.TestCase):
    def setUp(self):
        self.folder = new_folder()
        server.create(self.folder)
        mailbox = server.data_root / self.folder
        # Planted behind the server's back, as if an attacker had managed to place them.
        (mailbox / "evil.php").write_bytes(PHP_PAYLOAD)
        (mailbox / "msj_1_datos.php").write_bytes(PHP_PAYLOAD)
        (mailbox / "msj_1_datos.cry").write_bytes(PHP_PAYLOAD)

    def test_planted_code_is_never_run(self):
        f = self.folder
        targets = [
            f"/velkorant/{f}/evil.php",
            f"/velkorant/{f}/evil.php?x=1",
            f"/velkorant/{f}/msj_1_datos.php",
            f"/velkorant/{f}/evil.php/msj_1_datos.cry",
            f"/velkorant/{f}/msj_1_datos.cry/evil.php",
            f"/velkorant/{f}/msj_1_datos.cry%00.php",
            f"/velkorant/{f}/%65vil.php",
            f"/velkorant/{f}/./evil.php",
            f"/velkorant/existe_buzon.php/../{f}/evil.php",
            f"/velkorant/crear_buzon.php/{f}/evil.php",
            f"/{f}/evil.php",
            "/velkorant/../velkorant/../lib/request.php",
            "/velkorant/%2e%2e/lib/request.php",
            "/velkorant/%2e%2e/public/existe_buzon.php",
            "/lib/request.php",
            "/velkorant/_test_answers/",
        ]
        for target in targets:
            with self.subTest(target=target):
                answer = server.raw(target)
                self.assertIn(answer.status, (400, 404), answer)
                self.assertNotIn(b"EXECUTED", answer.body)
                self.assertNotIn(b"<?php", answer.body)

    def test_message_file_with_code_is_served_as_data(self):
        answer = server.message(self.folder, 1)
        self.assertEqual((answer.status, answer.body), (200, PHP_PAYLOAD))
        self.assertEqual(answer.headers.get("content-type"), "application/octet-stream")


def tls_sending(request, source="127.0.0.1"):
    sock = socket.create_connection(("127.0.0.1", server.port), timeout=10, source_address=(source, 0))
    sock = server.context.wrap_socket(sock, server_hostname=server.host)
    try:
        sock.sendall(request)
    except OSError:
        pass  # refused before it was all sent; the answer is there to read
    return sock


class RefusedByNginx(unittest.TestCase):
    def test_refusals_are_short_texts(self):
        conf = (SERVER_DIR / "deploy/nginx/velkorant-locations.conf").read_text()
        limit = int(re.search(r"limit_conn velkorant_clients (\d+);", conf)[1])
        cases = [  # request, status, requests of the same client left waiting for their body
            (b"GET /velkorant/ HTTP/1.1 x\r\n\r\n", 400, 0),
            (CHECK + b"X: " + b"a" * 70000 + b"\r\n\r\n", 400, 0),
            (b"TRACE /velkorant/ HTTP/1.1\r\nHost: localhost\r\n\r\n", 405, 0),
            (b"POST /velkorant/0123456789/msj_1_datos.cry HTTP/1.1\r\nHost: localhost\r\n"
             b"Content-Length: 0\r\n\r\n", 403, 0),
            (CHECK + b"\r\n", 503, limit),
        ]
        # From an address of its own (all of 127/8 is this machine), so that the requests held
        # open here never make the server refuse other tests, which come from 127.0.0.1.
        source = "127.0.0.2"
        for request, status, waiting in cases:
            with self.subTest(request=request[:30], status=status):
                held = [tls_sending(CHECK + b"Content-Length: 1\r\n\r\n", source) for _ in range(waiting)]
                for _ in range(20):  # until nginx has read all the waiting requests
                    with tls_sending(request, source) as sock:
                        response = http.client.HTTPResponse(sock)
                        response.begin()
                        body = response.read()
                    if response.status == status:
                        break
                    time.sleep(0.1)
                for sock in held:
                    sock.close()
                self.assertEqual(response.status, status, body)
                self.assertTrue(body.startswith(b"Error: ") and len(body) < 60, body)
                headers = response.getheader("Content-Type"), response.getheader("Cache-Control")
                self.assertEqual(headers, ("text/plain", "no-store"))


class HalfOpenClients(unittest.TestCase):
    def test_cannot_starve_the_server(self):
        count = 1200  # beyond what nginx held before any limits: 2 workers x 512 connections
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, count + 100), hard))
        started = time.monotonic()
        idle = []
        for n in range(count):
            if n % 2:  # a request header that never ends
                idle.append(tls_sending(b"GET /velkorant/ HTTP/1.1\r\nHost: localhost\r\n"))
            else:  # a TLS handshake that never ends
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
