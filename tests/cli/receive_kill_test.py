# SPDX-License-Identifier: GPL-3.0-or-later
# Receiving survives SIGKILL at any moment: no message is lost, none is stored twice.
#
# `velkorant-cli receive` is killed again and again: at a random moment of its start-up and
# downloads, as it creates the received store's temporary file, or as it replaces the store (before
# the counter moves). After each kill the store holds messages 1..S in order, with the counter at
# most S; at the end all N, with the counter at N. VELKORANT_KILL_SEED repeats a run's moments.
import concurrent.futures
import ctypes
import os
import pathlib
import random
import secrets
import select
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from cli_user import CLI, DATA, User, crc, section  # noqa: E402

N = 300  # two batches
# The batches reach the disk at the "replaced" kills (or runs that end); "early" ones go on
# after the mailbox is drained, until there were enough kills.
SCHEDULE = ("early", "early", "temporary", "replaced", "early", "temporary", "replaced", "early",
            "temporary", "replaced") + ("early",) * 30
# The moments' marks in the working folder: a file created in it, a file renamed into it.
EVENTS = {"temporary": 0x100, "replaced": 0x80}
LIBC = ctypes.CDLL(None, use_errno=True)
PASSWORD = "clave de prueba €ñ"


class ReceiveKillTest(unittest.TestCase):
    def message(self, i):
        return "2024-03-07 09:05:00", self.user.name, "Remitente_ü", f"asunto {i}", f"mensaje {i}"

    def expect_prefix(self, when):
        """The store holds messages 1..S in order, whole, and the counter is at most S."""
        content = self.user.file("mensajes_recibidos.ini")
        stored = content.count(b"[mensaje_recibido_")
        self.assertEqual(content, b"".join(section("recibido", i, *self.message(i), crc(PASSWORD),
                                                   0, 0, 1, 0) for i in range(1, stored + 1)), when)
        counter = int(self.user.run("received-counter")[1])
        self.assertLessEqual(counter, stored, f"{when}: the counter ran ahead of the store")
        return stored, counter

    def kill_at(self, moment):
        """Starts a run and kills it at the moment; its exit status."""
        watch = LIBC.inotify_init1(os.O_CLOEXEC)
        self.addCleanup(os.close, watch)
        LIBC.inotify_add_watch(watch, os.fsencode(self.user.work), EVENTS.get(moment, 0x100))
        process = subprocess.Popen([CLI, "receive"], cwd=self.user.work, env=self.user.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        began = time.monotonic()
        deadline = began + (self.rng.uniform(0, self.early) if moment == "early" else 60)
        while process.poll() is None and time.monotonic() < deadline:
            if select.select([watch], [], [], 0.005)[0] and moment != "early":
                break
        process.kill()
        if process.wait(timeout=60) == 0:  # the machine may have got faster: kill sooner
            self.early = min(self.early, 1.5 * (time.monotonic() - began))
        return process.returncode

    def test_killed_runs_neither_lose_nor_duplicate(self):
        root = self.enterContext(tempfile.TemporaryDirectory(prefix="velkorant-receive-kill-"))
        seed = int(os.environ.get("VELKORANT_KILL_SEED", secrets.randbits(32)))
        print(f"VELKORANT_KILL_SEED={seed}", file=sys.stderr)
        self.rng = random.Random(seed)
        self.user = User(root, "receptora", register=True)
        self.user.profile("prueba", PASSWORD)
        began = time.monotonic()
        self.user.ok("receive")
        # Half as long again as a run on an empty mailbox: start-up and the first downloads.
        self.early = 1.5 * (time.monotonic() - began)
        texts = ["VER:v1.1a\n" + "".join(f"{tag}:{value}\n" for tag, value in zip(
            ("FEC", "REC", "EMI", "ASU", "MSJ"), self.message(i))) for i in range(1, N + 1)]
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            for i, transport in enumerate(pool.map(lambda text: self.user.run(
                    "encrypt", "--password-file", str(self.user.work.parent / "prueba"),
                    stdin=text)[1].strip(), texts), start=1):
                (DATA / self.user.folder / f"msj_{i}_datos.cry").write_text(transport)
        kills = 0
        for attempt, moment in enumerate(SCHEDULE, start=1):
            status = self.kill_at(moment)
            kills += status == -9
            self.expect_prefix(f"after attempt {attempt} ({moment}, exit {status})")
            if attempt >= 10 and kills >= 10:
                break
        self.assertGreaterEqual(kills, 10)
        self.user.ok("receive")
        self.assertEqual(self.expect_prefix("at the end"), (N, N))


if __name__ == "__main__":
    unittest.main(verbosity=2)
