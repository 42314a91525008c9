# SPDX-License-Identifier: GPL-3.0-or-later
# Moving a filesystem data root into PostgreSQL: afterwards the database server serves every
# message byte for byte and numbers on after the highest; a second run copies nothing again.

import subprocess
import unittest

from mailbox_http import SERVER_DIR, Server, ciphertext, message_number, new_folder

files, database = Server(), Server("_POSTGRES")
MOVE = SERVER_DIR / "move-to-database"


class Move(unittest.TestCase):
    def test_move_twice(self):
        mailboxes = {new_folder(): count for count in (250, 1, 0)}
        for folder, count in mailboxes.items():
            files.create(folder)
            for _ in range(count):
                message_number(files.send(folder, ciphertext(1 + count % 7)))
        # Also what only a file can hold: any byte, and more than the scripts take.
        first = next(iter(mailboxes))
        (files.data_root / first / "msj_251_datos.cry").write_bytes(bytes(range(256)) + b"\r\n\x00")
        (files.data_root / first / "msj_252_datos.cry").write_text(ciphertext(2001))
        mailboxes[first] += 2
        served = {f: [files.message(f, n).body for n in range(1, c + 2)] for f, c in mailboxes.items()}
        for run in range(2):
            moved = subprocess.run(["php", MOVE, files.data_root, database.database], capture_output=True,
                                   text=True, timeout=120)
            self.assertEqual(moved.returncode, 0, moved.stderr)
            for folder, count in mailboxes.items():
                self.assertIn(f"{folder}: {count * (1 - run)} copied, {count * run} already there\n", moved.stdout)
        for folder, count in mailboxes.items():
            self.assertEqual([database.message(folder, n).body for n in range(1, count + 2)], served[folder])
            self.assertEqual(message_number(database.send(folder, ciphertext(1))), count + 1)
