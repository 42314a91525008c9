"""Requests meant to escape the data root or to run code: all refused, nothing created.

Oversized requests are in test_messages.py."""

import os
import pathlib
import secrets
import unittest

from mailbox_http import Server, ciphertext, new_folder

server = Server()

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
        for place in (state, pathlib.Path(__file__).resolve().parents[2] / "mailbox-server"):
            found = [p for p in everything_under(place) if marker in p.name]
            self.assertEqual(found, [], place)
        for place in (pathlib.Path("/tmp"), pathlib.Path("/"), state.parent, state.parent.parent):
            self.assertFalse((place / marker).exists(), place)
        for entry in server.data_root.iterdir():
            self.assertRegex(entry.name, r"^([0-9A-F]{10}|_test_answers)$")


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


if __name__ == "__main__":
    unittest.main(verbosity=2)
