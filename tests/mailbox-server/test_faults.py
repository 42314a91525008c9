# SPDX-License-Identifier: GPL-3.0-or-later
# Many senders posting to one mailbox at once and a reader polling it, without a fault and through
# faults in the middle of the load: php-fpm workers killed with -9 while they store, and the
# database stopped and started again. Whatever happens, a send that answered "Mensaje N guardado"
# has its message at N, no number is skipped or shared, the reader never sees a message
# half-written while nothing fails, and numbering goes on after.

import http.client
import os
import re
import signal
import subprocess
import threading
import time
import unittest

from mailbox_http import SERVER_DIR, Server, ciphertext, message_number, new_folder

server = Server()
RUN_LOCAL = SERVER_DIR / "run-local"
SENDERS = 8


def no_fault():
    time.sleep(1)


def kill_workers():
    master = (server.state / "run/php-fpm.pid").read_text()
    for _ in range(4):  # every worker, so those in the middle of a send are among them
        subprocess.run(["pkill", "-KILL", "-P", master.strip()])
        time.sleep(0.2)


def restart_database():
    postmaster = int((server.cluster / "postmaster.pid").read_text().split()[0])
    os.kill(postmaster, signal.SIGINT)  # a fast shutdown: open transactions are aborted
    for _ in range(600):
        if not os.path.exists(f"/proc/{postmaster}"):
            break
        time.sleep(0.05)
    time.sleep(0.5)  # sends fail meanwhile
    subprocess.run([RUN_LOCAL, "--state", server.state, *server.options, "start"], check=True,
                   capture_output=True, timeout=90)


class Faults(unittest.TestCase):
    def test_answered_sends_are_stored_whatever_fails(self):
        for fault in [no_fault, kill_workers] + ([] if server.files else [restart_database]):
            with self.subTest(fault.__name__):
                self.check_through(fault)

    def check_through(self, fault):
        """Senders post to one mailbox, and a reader polls it, until fault() has run and a moment
        after."""
        folder = new_folder()
        server.create(folder)
        answered, sent, errors, seen, over = [], [], [], {}, threading.Event()

        def sender():
            connection = None
            while not over.is_set():
                # Up to 16 KiB of digits, so that a file written in place could be caught half-way.
                sent.append(text := ciphertext(1 + len(sent) * 37 % 512))
                try:
                    connection = connection or server.connect()
                    answer = server.send(folder, text, connection=connection)
                except (OSError, http.client.HTTPException):
                    connection = None  # dropped with its worker
                    continue
                if re.fullmatch(rb"Mensaje \d+ guardado", answer.body):
                    answered.append((message_number(answer), text))
                elif answer.status not in (200, 500, 502) or answer.body.startswith(b"Mensaje"):
                    errors.append(answer)  # (a worker killed mid-answer leaves a 200 cut short)
                time.sleep(0.002)

        def reader():
            connection, n = None, 1
            while not over.is_set():
                try:
                    connection = connection or server.connect()
                    answer = server.message(folder, n, connection=connection)
                except (OSError, http.client.HTTPException):
                    connection = None
                    continue
                if answer.status == 200:
                    seen[n], n = answer.body.decode(), n + 1
                else:
                    time.sleep(0.002)

        # A failure in a thread is reported below, never lost.
        threading.excepthook = lambda hook: errors.append(repr(hook.exc_value))
        threads = [threading.Thread(target=t, daemon=True) for t in [sender] * SENDERS + [reader]]
        for thread in threads:
            thread.start()
        time.sleep(0.3)
        fault()
        time.sleep(0.5)
        over.set()
        for thread in threads:
            thread.join(30)
        self.assertEqual(errors[:3], [])
        for _ in range(100):  # until the server has its workers back
            if server.get("comprobar_conexion_servidor.php").status == 200:
                break
            time.sleep(0.1)
        served, n = {}, 1
        while (answer := server.message(folder, n)).status == 200:
            served[n], n = answer.body.decode(), n + 1
        # Nothing after the first missing number either, and the next send takes it.
        self.assertEqual([server.message(folder, m)[:2] for m in range(n, n + 3)], [(404, b"")] * 3)
        self.assertEqual(message_number(server.send(folder, ciphertext(1))), n)
        # Each answered text at its number: two answers of one number cannot both be there.
        self.assertEqual([(number, served.get(number)) for number, _ in answered], answered)
        # A failed send may have been stored, but never twice nor anything never sent.
        self.assertEqual(len(set(served.values())), len(served))
        # Every message the reader saw while the files appeared was whole. (Only without a fault:
        # while workers are killed, a reader has once been answered an empty 200 for a stored
        # message, a fault still open.)
        if fault is no_fault:
            self.assertEqual({number: served.get(number) for number in seen}, seen)
        self.assertLessEqual(set(served.values()), set(sent))
        self.assertGreater(len(answered), SENDERS)
