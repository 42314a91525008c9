"""Message files as the client fetches them: byte for byte, uncached, and empty 404s."""

import unittest

from mailbox_http import Server, ciphertext, message_number, new_folder

server = Server()

LARGEST = 64000  # hexadecimal digits the server accepts in one message


class MessageFiles(unittest.TestCase):
    def test_served_back_byte_for_byte_uncached(self):
        folder = new_folder()
        server.create(folder)
        for number, digits in enumerate((32, 4096, LARGEST), start=1):
            with self.subTest(digits=digits):
                text = ciphertext(digits // 32)
                self.assertEqual(message_number(server.send(folder, text).body), number)
                answer = server.message(folder, number)
                self.assertEqual(answer.status, 200)
                self.assertEqual(answer.body, text.encode())
                self.assertEqual(answer.headers.get("cache-control"), "no-store")
                self.assertNotIn("html", answer.headers.get("content-type", ""))

    def test_missing_messages_are_empty_404s(self):
        folder = new_folder()
        server.create(folder)
        server.send(folder, ciphertext(1))
        targets = {
            "next number": f"{folder}/msj_2_datos.cry",
            "number 0": f"{folder}/msj_0_datos.cry",
            "leading zero": f"{folder}/msj_01_datos.cry",
            "unknown mailbox": f"{new_folder()}/msj_1_datos.cry",
            "mailbox itself": f"{folder}/",
            "lock file": f"{folder}/.lock",
        }
        for case, target in targets.items():
            with self.subTest(case=case):
                answer = server.get(target)
                self.assertEqual((answer.status, answer.body), (404, b""))


class MessageSize(unittest.TestCase):
    def test_largest_message_accepted_next_size_refused(self):
        folder = new_folder()
        server.create(folder)
        too_long = {
            "one block more": LARGEST + 32,
            "65 568 digits": 65568,
            "1 MiB": 1 << 20,
        }
        for case, digits in too_long.items():
            with self.subTest(case=case):
                answer = server.send(folder, "A" * digits)
                self.assertIn(answer.status, (400, 414), answer)
                self.assertTrue(answer.body.startswith(b"Error"), answer)
        self.assertEqual(server.message(folder, 1).status, 404)
        text = ciphertext(LARGEST // 32)
        self.assertEqual(message_number(server.send(folder, text).body), 1)
        self.assertEqual(server.message(folder, 1).body, text.encode())

    def test_longest_request_line_reaches_the_scripts(self):
        # nginx must refuse (414) whatever PHP could not be handed in one FastCGI record,
        # so a request just inside the line limit gets the script's own answer, not a 500.
        target = f"{server.prefix}existe_buzon.php?folder={new_folder()}&pad="
        line_limit = 63 * 1024 - len("GET  HTTP/1.1\r\n")
        answer = server.raw(target + "x" * (line_limit - len(target)))
        self.assertEqual((answer.status, answer.body), (200, b"no"))
        answer = server.raw(target + "x" * (line_limit - len(target) + 64))
        self.assertEqual(answer.status, 414)
        self.assertTrue(answer.body.startswith(b"Error"), answer)


if __name__ == "__main__":
    unittest.main(verbosity=2)
