# Faults in the middle of a load: php-fpm workers killed with -9 while they store, and the
# database stopped and started again. Whatever happens, a send that answered "Mensaje N
# guardado" has its message at N, no number is skipped or shared, and numbering goes on after.

import contextlib
import http.client
import os
import pathlib
import re
import signal
import subprocess
import threading
import time
import unittest

from mailbox_http import Server, ciphertext, message_number, new_folder

server = Server()
RUN_LOCAL = pathlib.Path(__file__).resolve().parents[2] / "mailbox-server/run-local"
SENDERS = 6


def wait_gone(pid, seconds=30):
    deadline = time.monotonic() + seconds
    while pathlib.Path(f"/proc/{pid}").exists() and time.monotonic() < deadline:
        time.sleep(0.05)


class Faults(unittest.TestCase):
    def load_through(self, fault):
        """Senders post to one mailbox until fault() has run and a moment after; returns the
        mailbox, the (number, text) of each answered send and every text sent."""
        folder = new_folder()
        server.create(folder)
        answered, sent, errors, over = [], [], [], threading.Event()

        def sender():
            connection = None
            while not over.is_set():
                text = ciphertext(1 + len(sent) % 4)
                sent.append(text)
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
            if connection:
                connection.close()

        threads = [threading.Thread(target=sender, daemon=True) for _ in range(SENDERS)]
        for thread in threads:
            thread.start()
        time.sleep(0.3)
        fault()
        time.sleep(0.5)
        over.set()
        for thread in threads:
            thread.join(30)
        self.assertEqual(errors[:3], [])
        return folder, answered, sent

    def assert_whole(self, folder, answered, sent):
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
        self.assertEqual([served.get(number) for number, _ in answered], [text for _, text in answered])
        numbers = [number for number, _ in answered]
        self.assertEqual(len(numbers), len(set(numbers)))
        # A failed send may have been stored, but never twice nor anything never sent.
        self.assertEqual(len(set(served.values())), len(served))
        self.assertLessEqual(set(served.values()), set(sent))
        self.assertGreater(len(answered), SENDERS)

    def test_workers_killed_while_storing(self):
        master = int((server.state / "run/php-fpm.pid").read_text())

        def kill_workers():
            for _ in range(4):  # every worker, so those in the middle of a send are among them
                workers = subprocess.run(["pgrep", "-P", str(master)], capture_output=True, text=True).stdout
                for pid in map(int, workers.split()):
                    with contextlib.suppress(ProcessLookupError):  # replaced meanwhile
                        os.kill(pid, signal.SIGKILL)
                time.sleep(0.2)

        self.assert_whole(*self.load_through(kill_workers))

    @unittest.skipIf(server.files, "a database to stop")
    def test_database_stopped_and_started(self):
        def restart():
            postmaster = int((server.cluster / "postmaster.pid").read_text().split()[0])
            os.kill(postmaster, signal.SIGINT)  # a fast shutdown: open transactions are aborted
            wait_gone(postmaster)
            time.sleep(0.5)  # sends fail meanwhile
            subprocess.run([RUN_LOCAL, "--state", server.state, *server.options, "start"], check=True,
                           capture_output=True, timeout=90)

        self.assert_whole(*self.load_through(restart))
