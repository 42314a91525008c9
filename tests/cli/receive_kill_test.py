"""Receiving survives SIGKILL at any moment: no message is lost, none is stored twice.

A mailbox is filled with N messages. `velkorant-cli receive` is then started again and again in the
receiver's installation and killed at a moment picked from what it prints and what it does in its
working directory (inotify): during start-up or its mailbox check, at a random point of its
downloads, as soon as it starts to write the received store, or right after it replaced the store
(when the counter may not have moved yet). A last run is let finish. After every kill the store must hold
exactly messages 1..S in order, with the stored counter at most S; at the end it must hold all N,
byte for byte, with the counter at N.

Environment: VELKORANT_CLI, VELKORANT_SERVER_ENV, VELKORANT_SERVER_STATE; VELKORANT_KILL_SEED
repeats a run's random choices.
"""

import concurrent.futures
import ctypes
import http.client
import os
import pathlib
import random
import re
import secrets
import select
import ssl
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zlib

# The fixture's env file is read as the server tests read it.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "mailbox-server"))
from mailbox_http import read_env  # noqa: E402

CLI = os.environ["VELKORANT_CLI"]
DATA_ROOT = pathlib.Path(os.environ["VELKORANT_SERVER_STATE"]) / "data"
COMMAND_TIMEOUT = 60  # seconds for one command on a loaded machine

N = 300
MIN_KILLS = 10
MAX_ATTEMPTS = 40
# The moment each attempt is killed at. A "download" kill leaves at least one message of the
# mailbox unfetched, so the store grows only where a run gets to write it: the mailbox is drained
# by the "temporary"/"replaced" attempts (one batch, then the rest), each followed by runs that
# must first recover. Once it is drained, "start" kills continue until there were enough.
SCHEDULE = ("start", "download", "download", "download", "start", "download", "temporary",
            "replaced", "download", "download", "start", "temporary", "replaced", "download",
            "start", "start")

PASSWORD = "clave de prueba €ñ"
SENDER = "Remitente_ü"
DATE = "2024-03-07 09:05:00"
STORE = "mensajes_recibidos.ini"
CHECKED = b"Comprobando mensajes para "
STORE_TEMPORARY = re.compile(r"\.mensajes_recibidos\.ini\.tmp-.*")
SECTION = re.compile(rb"^\[mensaje_recibido_(\d+)\]\r$", re.M)
SUBJECT = re.compile(rb"^asunto_msj=(.*)\r$", re.M)

IN_MOVED_TO = 0x80
IN_CREATE = 0x100
LIBC = ctypes.CDLL(None, use_errno=True)


SERVER_ENV = read_env(os.environ["VELKORANT_SERVER_ENV"])
SERVER = SERVER_ENV["server"]
CA = SERVER_ENV["ca"]


def log(text):
    print(text, file=sys.stderr, flush=True)


def message_text(receiver, i):
    return f"VER:v1.1a\nFEC:{DATE}\nEMI:{SENDER}\nREC:{receiver}\nASU:asunto {i}\nMSJ:mensaje {i}\n"


def stored_section(receiver, i):
    """Message i as the receiver's store must hold it, as section i."""
    crc = zlib.crc32(PASSWORD.encode("cp1252")).to_bytes(4, "little").hex().upper()
    lines = [f"[mensaje_recibido_{i}]", f"fecha_msj={DATE}", f"usuario_receptor_msj={receiver}",
             f"usuario_emisor_msj={SENDER}", f"asunto_msj=asunto {i}", f"cuerpo_msj=mensaje {i}",
             f"password_hash={crc}", "flag_msj_enviado_srv=0", "flag_msj_leido=0",
             "flag_msj_desencriptado=1", "flag_msj_respondido=0"]
    return "".join(line + "\r\n" for line in lines).encode("utf-8") + b"\r\n"


class FolderEvents:
    """Files created in or renamed into one folder, as inotify reports them."""

    def __init__(self, folder):
        self.fd = LIBC.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        if LIBC.inotify_add_watch(self.fd, os.fsencode(folder), IN_CREATE | IN_MOVED_TO) < 0:
            os.close(self.fd)
            raise OSError(ctypes.get_errno(), "inotify_add_watch")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        os.close(self.fd)

    def wait(self, timeout):
        """The (mask, name) events that arrive within timeout seconds; maybe none."""
        if not select.select([self.fd], [], [], max(timeout, 0))[0]:
            return []
        data = os.read(self.fd, 1 << 16)
        events = []
        offset = 0
        while offset < len(data):
            _, mask, _, length = struct.unpack_from("iIII", data, offset)
            name = data[offset + 16:offset + 16 + length].rstrip(b"\0").decode("utf-8", "replace")
            events.append((mask, name))
            offset += 16 + length
        return events


class Installation:
    def __init__(self, root, label):
        self.work = pathlib.Path(root) / label / "work"
        self.config = pathlib.Path(root) / label / "config"
        self.work.mkdir(parents=True)
        self.config.mkdir(parents=True)
        self.env = dict(os.environ, XDG_CONFIG_HOME=str(self.config), CURL_CA_BUNDLE=CA,
                        NO_PROXY="localhost,127.0.0.1", no_proxy="localhost,127.0.0.1")
        self.password_file = self.work.parent / "password"
        self.password_file.write_text(PASSWORD + "\n", encoding="utf-8")
        self.output = self.work.parent / "receive.out"
        self.name = None

    def run(self, *args, stdin=""):
        completed = subprocess.run([CLI, *args], cwd=self.work, env=self.env,
                                   input=stdin.encode("utf-8"), capture_output=True,
                                   timeout=COMMAND_TIMEOUT)
        return (completed.returncode, completed.stdout.decode("utf-8"),
                completed.stderr.decode("utf-8"))

    def checked(self, *args, stdin=""):
        code, out, err = self.run(*args, stdin=stdin)
        assert code == 0, f"{args}: exit {code}\n{out}{err}"
        return out

    def start_receive(self):
        with open(self.output, "wb") as output:
            return subprocess.Popen([CLI, "receive"], cwd=self.work, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=output, stderr=output)

    def setup(self, name):
        self.checked("server", SERVER)
        self.checked("register", name)
        self.checked("profile", "add", "prueba", "--password-file", str(self.password_file))
        self.name = name
        self.folder = self.checked("folder", name).strip()

    def counter(self):
        for line in self.checked("settings").splitlines():
            if line.startswith("MsjsRecibidos: "):
                return int(line.split(": ")[1])
        raise AssertionError("no MsjsRecibidos in the settings")

    def store(self):
        path = self.work / STORE
        return path.read_bytes() if path.exists() else b""

    def leftovers(self):
        """Temporary files that killed runs left behind."""
        return {entry.name for entry in os.scandir(self.work) if entry.name.startswith(".")
                or ".part-" in entry.name}


def post_all(folder, transports):
    """Posts the messages in order over one kept-alive connection."""
    match = re.fullmatch(r"([^:/]+):(\d+)(/.*/)", SERVER)
    host, port, prefix = match[1], int(match[2]), match[3]
    connection = http.client.HTTPSConnection(
        host, port, context=ssl.create_default_context(cafile=CA), timeout=30)
    try:
        for transport in transports:
            connection.request("GET", f"{prefix}enviar_mensaje.php?name=datos&folder={folder}"
                                      f"&new=0&datacry={transport}")
            answer = connection.getresponse()
            body = answer.read()
            assert answer.status == 200, (answer.status, body)
    finally:
        connection.close()
    posted = list(DATA_ROOT.joinpath(folder).glob("msj_*_datos.cry"))
    assert len(posted) == len(transports), (folder, len(posted))


class ReceiveKillTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="velkorant-receive-kill-")
        self.addCleanup(folder.cleanup)
        self.root = folder.name
        seed = int(os.environ.get("VELKORANT_KILL_SEED", secrets.randbits(32)))
        log(f"seed {seed} (VELKORANT_KILL_SEED repeats it)")
        self.rng = random.Random(seed)

    def expect_prefix(self, receiver, when):
        """The store holds messages 1..S in order, whole, and the counter is at most S."""
        content = receiver.store()
        stored = len(SECTION.findall(content))
        expected = b"".join(stored_section(receiver.name, i) for i in range(1, stored + 1))
        if content != expected:
            numbers = [int(s.rsplit(b" ", 1)[-1]) if s.startswith(b"asunto ") else -1
                       for s in SUBJECT.findall(content)]
            doubled = sorted({i for i in numbers if numbers.count(i) > 1})
            missing = sorted(set(range(1, max(numbers, default=0) + 1)) - set(numbers))
            self.fail(f"{when}: the store is not messages 1..{stored} in order; stored twice: "
                      f"{doubled[:10]} ({len(doubled)}), missing: {missing[:10]} ({len(missing)})")
        counter = receiver.counter()
        self.assertLessEqual(counter, stored, f"{when}: the counter ran ahead of the store")
        return stored, counter

    def time_to_mailbox_check(self, installation):
        """Seconds from the start of an undisturbed run to its mailbox check."""
        started = time.monotonic()
        process = installation.start_receive()
        checked = None
        while checked is None:
            ended = process.poll() is not None
            if CHECKED in installation.output.read_bytes():
                checked = time.monotonic() - started
            elif ended:
                break
            time.sleep(0.005)
        process.wait(timeout=COMMAND_TIMEOUT)
        self.assertEqual(process.returncode, 0, installation.output.read_text())
        self.assertIsNotNone(checked)
        return checked

    def kill_moment(self, process, moment, events, output):
        """Waits for the attempt's moment; False when the run ended before it."""
        started = time.monotonic()
        deadline = started + COMMAND_TIMEOUT
        if moment == "start":
            # At a random point of start-up, or at the mailbox check at the latest.
            deadline = started + self.rng.uniform(0, self.check_time)
        downloading = None  # when the downloads began (the check's line came)
        while process.poll() is None:
            now = time.monotonic()
            if now >= deadline:
                return moment in ("start", "download")
            checked = CHECKED in output.read_bytes()
            if checked and moment == "start":
                return True
            if checked and moment == "download" and downloading is None:
                # Within the first batch: messages are fetched but not yet written.
                downloading = now
                deadline = now + self.rng.uniform(0, 0.05)
            for mask, name in events.wait(min(deadline - now, 0.01)):
                if moment == "temporary" and mask & IN_CREATE and STORE_TEMPORARY.fullmatch(name):
                    return True
                if moment == "replaced" and mask & IN_MOVED_TO and name == STORE:
                    return True
        return False

    def test_killed_runs_neither_lose_nor_duplicate(self):
        began = time.monotonic()
        receiver = Installation(self.root, "receiver")
        receiver.setup(f"Receptora_{secrets.token_hex(4)}")
        rehearsal = Installation(self.root, "rehearsal")
        rehearsal.setup(f"Ensayo_{secrets.token_hex(4)}")
        self.check_time = self.time_to_mailbox_check(rehearsal)

        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            transports = list(pool.map(
                lambda i: receiver.checked("encrypt", "--password-file",
                                           str(receiver.password_file),
                                           stdin=message_text(receiver.name, i)).strip(),
                range(1, N + 1)))
        post_all(receiver.folder, transports)
        log(f"{N} messages encrypted and posted in {time.monotonic() - began:.1f} s; "
            f"a run reaches its mailbox check after {self.check_time * 1000:.0f} ms")

        kills = 0
        moments = SCHEDULE + ("start",) * (MAX_ATTEMPTS - len(SCHEDULE))
        for attempt, moment in enumerate(moments, start=1):
            if attempt > len(SCHEDULE) and kills >= MIN_KILLS:
                break
            stored, _ = self.expect_prefix(receiver, f"before attempt {attempt}")
            if moment == "download" and stored == N:
                moment = "start"
            left_before = receiver.leftovers()
            with FolderEvents(receiver.work) as events:
                process = receiver.start_receive()
                try:
                    if self.kill_moment(process, moment, events, receiver.output):
                        process.kill()
                finally:
                    process.wait(timeout=COMMAND_TIMEOUT)
            killed = process.returncode == -9
            kills += killed
            stored, counter = self.expect_prefix(receiver, f"after attempt {attempt}")
            cut = [name for name in receiver.leftovers() - left_before
                   if STORE_TEMPORARY.fullmatch(name)]
            log(f"attempt {attempt:2} ({moment:9}): "
                f"{'killed' if killed else f'ended {process.returncode}'}; "
                f"stored {stored}, counter {counter}{'; store write cut short' if cut else ''}")
        self.assertGreaterEqual(kills, MIN_KILLS)

        code, out, err = receiver.run("receive")
        self.assertEqual(code, 0, out + err)
        code, out, err = receiver.run("receive")
        self.assertEqual(code, 0, out + err)
        self.assertTrue(out.endswith(" - No hay nuevos mensajes\n"), out + err)

        content = receiver.store()
        self.assertEqual(len(SECTION.findall(content)), N)
        self.expect_prefix(receiver, "at the end")
        self.assertEqual(receiver.counter(), N)
        listed = [line.split("\t") for line in receiver.checked("list").splitlines()]
        self.assertEqual([(row[0], row[2]) for row in listed],
                         [(f"r{i}", f"asunto {i}") for i in range(1, N + 1)])
        log(f"{kills} kills; temporary files left by them: {sorted(receiver.leftovers())}; "
            f"whole test {time.monotonic() - began:.1f} s")


if __name__ == "__main__":
    unittest.main(verbosity=2)
