"""What each script answers to good and bad requests, and that a refusal changes nothing."""

import unittest

from mailbox_http import Server, ciphertext, message_number, new_folder

server = Server()

# Folder values that must never name a mailbox, as they appear in the query string.
BAD_FOLDERS = {
    "lower case": "abcdef0123",
    "mixed case": "ABCDEf0123",
    "nine digits": "ABCDEF012",
    "eleven digits": "ABCDEF01234",
    "not hexadecimal": "ABCDEFG123",
    "trailing line feed": "ABCDEF0123%0A",
    "leading blank": "%20ABCDEF012",
    "empty": "",
}


def assert_refused(test, answer, status=None):
    test.assertGreaterEqual(answer.status, 400, answer)
    test.assertLess(answer.status, 500, answer)
    if status is not None:
        test.assertEqual(answer.status, status, answer)
    test.assertTrue(answer.body.startswith(b"Error"), answer)


class ServerCheck(unittest.TestCase):
    def test_answers_ok_uncached(self):
        answer = server.get("comprobar_conexion_servidor.php")
        self.assertEqual((answer.status, answer.body), (200, b"OK"))
        self.assertEqual(answer.headers.get("cache-control"), "no-store")


class Mailboxes(unittest.TestCase):
    def test_create_then_exists_then_taken(self):
        folder = new_folder()
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}").body, b"no")
        first = server.get(f"crear_buzon.php?folder={folder}")
        self.assertEqual(first.status, 200)
        self.assertTrue(first.body and not first.body.startswith(b"Error"), first)
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}").body, b"si")
        # A taken name is an ordinary answer the client reads, not an HTTP failure.
        second = server.get(f"crear_buzon.php?folder={folder}")
        self.assertEqual(second.status, 200)
        self.assertTrue(second.body.startswith(b"Error"), second)
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}").body, b"si")

    def test_bad_folders_refused_and_nothing_created(self):
        for script in ("existe_buzon.php", "crear_buzon.php"):
            for case, value in BAD_FOLDERS.items():
                with self.subTest(script=script, case=case):
                    assert_refused(self, server.get(f"{script}?folder={value}"), 400)
            with self.subTest(script=script, case="missing"):
                assert_refused(self, server.get(script), 400)
            with self.subTest(script=script, case="given twice as a list"):
                assert_refused(self, server.get(f"{script}?folder[]={new_folder()}"), 400)
        for name in ("abcdef0123", "ABCDEf0123", "ABCDEF012", "ABCDEF01234", "ABCDEFG123"):
            self.assertFalse((server.data_root / name).exists(), name)

    def test_changes_only_by_get(self):
        folder = new_folder()
        answer = server.get(f"crear_buzon.php?folder={folder}", method="POST")
        assert_refused(self, answer, 405)
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}").body, b"no")
        head = server.get(f"existe_buzon.php?folder={folder}", method="HEAD")
        self.assertEqual((head.status, head.body), (200, b""))


class Sending(unittest.TestCase):
    def test_numbers_follow_posting_order(self):
        folder = new_folder()
        server.create(folder)
        texts = [ciphertext(blocks) for blocks in (1, 3, 2)]
        for expected, text in enumerate(texts, start=1):
            answer = server.send(folder, text)
            self.assertEqual(answer.status, 200, answer)
            self.assertEqual(message_number(answer.body), expected)
        for number, text in enumerate(texts, start=1):
            self.assertEqual(server.message(folder, number).body, text.encode())
        self.assertEqual(server.message(folder, 4).status, 404)

    def test_bad_sends_refused_without_change(self):
        folder = new_folder()
        server.create(folder)
        good = ciphertext(2)
        prefix = f"enviar_mensaje.php?folder={folder}"
        bad_requests = {
            "other name": f"{prefix}&name=otros&new=0&datacry={good}",
            "name missing": f"{prefix}&new=0&datacry={good}",
            "new=1": f"{prefix}&name=datos&new=1&datacry={good}",
            "new missing": f"{prefix}&name=datos&datacry={good}",
            "datacry missing": f"{prefix}&name=datos&new=0",
            "datacry empty": f"{prefix}&name=datos&new=0&datacry=",
            "lower-case hex": f"{prefix}&name=datos&new=0&datacry={good.lower()}",
            "not hex": f"{prefix}&name=datos&new=0&datacry={'G' * 32}",
            "odd length": f"{prefix}&name=datos&new=0&datacry={good}A",
            "not whole blocks": f"{prefix}&name=datos&new=0&datacry={good[:48]}",
            "line feed inside": f"{prefix}&name=datos&new=0&datacry={good[:31]}%0A",
            "given as a list": f"{prefix}&name=datos&new=0&datacry[]={good}",
            "bad folder": f"enviar_mensaje.php?folder={folder.lower()}&name=datos&new=0&datacry={good}",
        }
        for case, request in bad_requests.items():
            with self.subTest(case=case):
                assert_refused(self, server.get(request), 400)
        self.assertEqual(server.message(folder, 1).status, 404)
        self.assertEqual(message_number(server.send(folder, good).body), 1)

    def test_unknown_mailbox_refused_and_not_created(self):
        folder = new_folder()
        assert_refused(self, server.send(folder, ciphertext(1)), 404)
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}").body, b"no")
        self.assertFalse((server.data_root / folder).exists())


class TestHooks(unittest.TestCase):
    """The fixture's server runs with --test-hooks; these answers are for client tests."""

    def setUp(self):
        self.answers = server.data_root / "_test_answers"
        self.answers.mkdir(exist_ok=True)
        self.planted = []

    def tearDown(self):
        for path in self.planted:
            path.unlink(missing_ok=True)

    def plant(self, name, content):
        path = self.answers / name
        path.write_bytes(content)
        self.planted.append(path)

    def test_answer_for_one_folder_replaced_verbatim(self):
        folder, other = new_folder(), new_folder()
        for content in (b"si\n", b"sin", b"Si", b"nothing", b""):
            with self.subTest(content=content):
                self.plant(f"existe_buzon@{folder}", content)
                answer = server.get(f"existe_buzon.php?folder={folder}")
                self.assertEqual((answer.status, answer.body), (200, content))
                self.assertEqual(server.get(f"existe_buzon.php?folder={other}").body, b"no")
        self.tearDown()
        self.assertEqual(server.get(f"existe_buzon.php?folder={folder}").body, b"no")

    def test_replaced_answer_does_no_work(self):
        folder = new_folder()
        self.plant(f"crear_buzon@{folder}", b"Error: taken for the test")
        self.assertEqual(server.get(f"crear_buzon.php?folder={folder}").body, b"Error: taken for the test")
        self.assertFalse((server.data_root / folder).exists())

    def test_bad_requests_still_refused(self):
        self.plant("existe_buzon@abcdef0123", b"si")
        assert_refused(self, server.get("existe_buzon.php?folder=abcdef0123"), 400)


if __name__ == "__main__":
    unittest.main(verbosity=2)
