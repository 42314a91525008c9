# SPDX-License-Identifier: GPL-3.0-or-later
# Many senders posting to one mailbox at once, and a reader polling it meanwhile: no message
# lost, doubled, misnumbered or seen half-written.

import random
import threading
import time
import unittest

from mailbox_http import SEED, Server, ciphertext, message_number, new_folder

server = Server()
SENDERS, PER_SENDER = 8, 50
TOTAL = SENDERS * PER_SENDER


class Storm(unittest.TestCase):
    def test_parallel_senders_and_a_polling_reader(self):
        folder = new_folder()
        server.create(folder)
        # Up to 16 KiB of digits, so that a file written in place could be caught half-way. The
        # sizes are random, from the seed mailbox_http prints, so a failing run can be repeated.
        sizes = random.Random(SEED)
        texts = [[ciphertext(sizes.randint(1, 512)) for _ in range(PER_SENDER)] for _ in range(SENDERS)]
        numbers = [[] for _ in range(SENDERS)]
        seen, errors = {}, []
        start, over = threading.Barrier(SENDERS + 1, timeout=30), threading.Event()
        deadline = time.monotonic() + 90

        def sender(s):
            connection = server.connect()  # one each, kept open like a client's
            start.wait()
            for text in texts[s]:
                numbers[s].append(message_number(server.send(folder, text, connection=connection)))

        def reader():
            connection = server.connect()
            start.wait()
            while len(seen) < TOTAL and time.monotonic() < deadline:
                ended = over.is_set()
                answer = server.message(folder, len(seen) + 1, connection=connection)
                if answer.status == 200:
                    seen[len(seen) + 1] = answer.body.decode()
                elif answer.status == 404 and not ended:
                    time.sleep(0.002)
                else:
                    return errors.append(f"message {len(seen) + 1}: {answer}")

        # A failure in a thread is reported below, never lost.
        threading.excepthook = lambda hook: errors.append(repr(hook.exc_value))
        threads = [threading.Thread(target=sender, args=(s,), daemon=True) for s in range(SENDERS)]
        poller = threading.Thread(target=reader, daemon=True)
        for thread in threads + [poller]:
            thread.start()
        for thread in threads:
            thread.join(max(0, deadline - time.monotonic()))
        over.set()
        poller.join(max(0, deadline - time.monotonic()))
        self.assertEqual(errors, [])
        # The reader's view, taken while files appeared: each posted text in the file its send
        # answer named, and the numbers 1 to TOTAL each named once.
        self.assertEqual([[seen.get(n) for n in row] for row in numbers], texts)
        self.assertEqual(sorted(n for row in numbers for n in row), list(range(1, TOTAL + 1)))

