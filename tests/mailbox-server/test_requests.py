# SPDX-License-Identifier: GPL-3.0-or-later
# What the four scripts and the message files answer, byte for byte. Refused requests are
# test_random_requests.py's.

import unittest

from mailbox_http import Server, ciphertext, message_number, new_folder

server = Server()


class Scripts(unittest.TestCase):
    def test_hooks_answer_valid_requests_of_their_mailbox_only(self):
        # (test_random_requests sends the invalid requests themselves.) A mailbox, and a name no
        # mailbox has; each with a letter, so that its lower case differs.
        folder, absent = "A" + new_folder()[1:], "B" + new_folder()[1:]
        server.create(folder)
        hooks = server.data_root / "_test_answers"
        hooks.mkdir(exist_ok=True)
        good = ciphertext(2)
        for script in ("existe_buzon", "crear_buzon", "enviar_mensaje"):
            f = folder if script == "enviar_mensaje" else absent
            (hooks / f"{script}@{f.lower()}").write_bytes(b"si")
            answer = server.get(f"{script}.php?folder={f.lower()}&name=datos&new=0&datacry={good}")
            self.assertTrue(answer.status == 400 and answer.body.startswith(b"Error"), answer)
        # A hook answers verbatim, does no work, and only for the mailbox it names.
        for content in (b"si\n", b""):
            (hooks / f"crear_buzon@{absent}").write_bytes(content)
            self.assertEqual(server.get(f"crear_buzon.php?folder={absent}")[:2], (200, content))
        server.create(new_folder())
        for hook in hooks.iterdir():
            if hook.name.partition("@")[2].upper() in (folder, absent):
                hook.unlink()
        self.assertEqual(server.get(f"existe_buzon.php?folder={absent}")[:2], (200, b"no"))
        self.assertEqual(message_number(server.send(folder, good)), 1)
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}", "HEAD")[:2], (200, b""))


class MessageFiles(unittest.TestCase):
    def test_the_largest_is_served_back_as_data(self):
        folder, text = new_folder(), ciphertext(2000)  # 64 000 digits, the most a message holds
        server.create(folder)
        self.assertEqual(message_number(server.send(folder, text)), 1)
        answer = server.message(folder, 1)
        headers = answer.headers.get("cache-control"), answer.headers.get("content-type")
        self.assertEqual((answer[:2], headers), ((200, text.encode()), ("no-store", "application/octet-stream")))

    @unittest.skipUnless(server.files, "the number a file of the mailbox folder remembers")
    def test_next_number_whatever_last_says(self):
        # Messages 1 to highest on disk and .last missing, behind (by more than a few steps too),
        # ahead of the files, or not a number: never a gap, never an overwrite.
        for name, highest, last in (
                ("missing", 3, None), ("a few behind", 5, "2"), ("far behind", 100, "1"), ("zero, empty", 0, "0"),
                ("zero, one message", 1, "0"), ("far ahead", 3, "500"), ("ahead, empty", 0, "7"), ("letters", 3, "x"),
                ("line break", 3, "3\n"), ("empty", 2, ""), ("negative", 3, "-1"), ("19 digits", 2, "1" * 19)):
            with self.subTest(name, highest=highest, last=last):
                box = server.data_root / new_folder()
                server.create(box.name)
                for n in range(1, highest + 1):
                    (box / f"msj_{n}_datos.cry").write_text(ciphertext(1))
                if last is not None:
                    (box / ".last").write_text(last)
                numbers = [message_number(server.send(box.name, ciphertext(1))) for _ in range(2)]
                self.assertEqual((numbers, (box / ".last").read_text()), ([highest + 1, highest + 2], str(highest + 2)))

    def test_nothing_else_exists_and_nothing_planted_runs(self):
        f, p, payload = new_folder(), server.prefix, b'<?php echo "EXEC" . "UTED"; ?>'
        server.create(f)
        # Planted behind the server's back, as if an attacker had managed to place them.
        (server.data_root / f).mkdir(exist_ok=True)
        for name in ("evil.php", "msj_1_datos.php", "msj_1_datos.cry"):
            (server.data_root / f / name).write_bytes(payload)
        # (and so .lock and .last exist; a database numbers on regardless of the disk)
        self.assertEqual(message_number(server.send(f, ciphertext(1))), 2 if server.files else 1)
        self.assertEqual(server.message(f, 1)[:2], (200, payload))
        paths = (f"{p}{f}/msj_3_datos.cry", f"{p}{f}/msj_0_datos.cry", f"{p}{f}/msj_01_datos.cry",
                 f"{p}{new_folder()}/msj_1_datos.cry", f"{p}{f}/", f"{p}{f}/.lock", f"{p}{f}/.last",
                 f"{p}_test_answers/", f"{p}{f}/evil.php", f"{p}{f}/msj_1_datos.php",
                 f"{p}{f}/evil.php/msj_1_datos.cry", f"{p}{f}/msj_1_datos.cry/evil.php", f"{p}{f}/%65vil.php",
                 f"/{f}/evil.php", f"{p}existe_buzon.php/../{f}/evil.php", f"{p}crear_buzon.php/{f}/evil.php",
                 f"{p}%2e%2e/lib/request.php", "/lib/request.php", f"{p}%2e%2e/public/existe_buzon.php",
                 f"{p}leer_mensaje.php?folder={f}&numero=2", f"{p}_mensaje?folder={f}&numero=2")
        self.assertEqual({t: server.raw(t)[:2] for t in paths}, dict.fromkeys(paths, (404, b"")))

