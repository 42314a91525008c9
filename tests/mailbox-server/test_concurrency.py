"""Many senders posting to one mailbox at once: no message lost, doubled, misnumbered or torn."""

import random
import threading
import time
import unittest

from mailbox_http import Server, ciphertext, message_number, new_folder

server = Server()

SENDERS = 8
PER_SENDER = 50
TOTAL = SENDERS * PER_SENDER
DEADLINE = 90  # seconds for the whole storm


class Storm(unittest.TestCase):
    def test_parallel_senders_and_a_polling_reader(self):
        folder = new_folder()
        server.create(folder)
        rng = random.Random()
        # Sizes up to 16 KiB of digits, so that a file written in place could be caught half-way.
        texts = [[ciphertext(rng.randint(1, 512)) for _ in range(PER_SENDER)] for _ in range(SENDERS)]
        origin = {text: (s, i) for s, row in enumerate(texts) for i, text in enumerate(row)}
        self.assertEqual(len(origin), TOTAL)

        answers = [[None] * PER_SENDER for _ in range(SENDERS)]
        errors = []
        start = threading.Barrier(SENDERS + 1)
        storm_over = threading.Event()
        deadline = time.monotonic() + DEADLINE

        def sender(s):
            connection = server.connect()
            try:
                start.wait()
                for i, text in enumerate(texts[s]):
                    answer = server.send(folder, text, connection=connection)
                    answers[s][i] = answer
                    if answer.status != 200:
                        errors.append(f"sender {s} message {i}: {answer}")
            except Exception as e:  # reported below, never lost in a thread
                errors.append(f"sender {s}: {e!r}")
            finally:
                connection.close()

        seen = {}
        torn = []
        reads_during_storm = 0

        def reader():
            nonlocal reads_during_storm
            connection = server.connect()
            number = 1
            start.wait()
            try:
                while number <= TOTAL and time.monotonic() < deadline:
                    over = storm_over.is_set()
                    answer = server.message(folder, number, connection=connection)
                    if answer.status == 200:
                        if answer.body.decode() not in origin:
                            torn.append((number, len(answer.body)))
                        seen[number] = answer.body
                        reads_during_storm += not over
                        number += 1
                    elif answer.status == 404:
                        if over:
                            errors.append(f"message {number} missing after the storm")
                            return
                        time.sleep(0.002)
                    else:
                        errors.append(f"reader: message {number}: {answer}")
                        return
            except Exception as e:
                errors.append(f"reader: {e!r}")
            finally:
                connection.close()

        threads = [threading.Thread(target=sender, args=(s,)) for s in range(SENDERS)]
        poller = threading.Thread(target=reader)
        for thread in threads + [poller]:
            thread.start()
        for thread in threads:
            thread.join(max(0, deadline - time.monotonic()))
        storm_over.set()
        poller.join(max(0, deadline - time.monotonic()))
        self.assertFalse(any(t.is_alive() for t in threads + [poller]), "the storm did not end in time")
        self.assertEqual(errors, [])
        self.assertEqual(torn, [], "the reader saw incomplete message files")
        self.assertGreater(reads_during_storm, 0, "the reader never overlapped the senders")

        # Files 1..400, each one posted text, every posted text once; nothing after them.
        stored = {}
        for number in range(1, TOTAL + 1):
            answer = server.message(folder, number)
            self.assertEqual(answer.status, 200, number)
            stored[number] = answer.body.decode()
            self.assertIn(stored[number], origin, number)
        self.assertEqual(server.message(folder, TOTAL + 1).status, 404)
        self.assertEqual(sorted(stored.values()), sorted(origin))
        for number, body in seen.items():
            self.assertEqual(body.decode(), stored[number], f"message {number} changed after it was read")

        # Each answer names the file that holds its text, and one sender's messages keep its order.
        for s in range(SENDERS):
            numbers = [message_number(answer.body) for answer in answers[s]]
            for i, number in enumerate(numbers):
                self.assertEqual(stored[number], texts[s][i])
            self.assertEqual(numbers, sorted(numbers), f"sender {s}")


if __name__ == "__main__":
    unittest.main(verbosity=2)
