# SPDX-License-Identifier: GPL-3.0-or-later
# Talks to the mailbox server of the test fixture over TLS, trusting only run-local's CA.
# VELKORANT_SERVER_ENV is the file with the lines run-local printed (a "database" line when the
# store is PostgreSQL); the data root is the "data" folder of VELKORANT_SERVER_STATE, and
# VELKORANT_SERVER_OPTIONS the run-local options it was started with.

import collections
import contextlib
import http.client
import os
import pathlib
import random
import re
import secrets
import socket
import ssl
import sys

SERVER_DIR = pathlib.Path(__file__).resolve().parents[2] / "mailbox-server"
# answer[:2] is (status, body), the pair most checks compare.
Answer = collections.namedtuple("Answer", "status body headers")


class Server:
    def __init__(self, suffix=""):  # "_POSTGRES": the server of VELKORANT_SERVER_ENV_POSTGRES...
        lines = pathlib.Path(os.environ["VELKORANT_SERVER_ENV" + suffix]).read_text().splitlines()
        env = dict(line.partition("=")[::2] for line in lines)
        self.host, port, self.prefix = re.fullmatch(r"([^:/]+):(\d+)(/.*/)", env["server"]).groups()
        self.port = int(port)
        self.ca = env["ca"]
        self.context = ssl.create_default_context(cafile=self.ca)
        self.state = pathlib.Path(os.environ["VELKORANT_SERVER_STATE" + suffix])
        self.data_root = self.state / "data"
        self.options = os.environ.get("VELKORANT_SERVER_OPTIONS", "").split()
        self.files = "database" not in env  # the store: files under the data root, or PostgreSQL
        self.cluster = pathlib.Path(env.get("cluster", "/nonexistent"))
        self.database = env.get("database")

    def connect(self, source=None):  # source: another address of 127/8, to be another client
        return http.client.HTTPSConnection(self.host, self.port, context=self.context, timeout=30,
                                           source_address=source and (source, 0))

    def raw(self, target, method="GET", connection=None):
        # The target goes out exactly as given: no normalisation, no escaping.
        conn = connection or self.connect()
        with contextlib.suppress(OSError):  # one too long may be answered before it is all sent
            conn.request(method, target)
        r = conn.getresponse()
        answer = Answer(r.status, r.read(), {k.lower(): v for k, v in r.getheaders()})
        if connection is None:
            conn.close()
        return answer

    def sending(self, request, source="127.0.0.1"):
        """A TLS connection from source that has sent the bytes of request, or what was read."""
        plain = socket.create_connection(("127.0.0.1", self.port), 20, (source, 0))
        sock = self.context.wrap_socket(plain, server_hostname=self.host)
        with contextlib.suppress(OSError):  # refused before it was all sent: the answer is there
            sock.sendall(request)
        return sock

    def exchange(self, request, method="GET", source="127.0.0.1"):
        """The answer to the bytes of request on a connection of their own, or None."""
        with self.sending(request, source) as sock:
            r = http.client.HTTPResponse(sock, method=method)
            try:
                r.begin()
                return Answer(r.status, r.read(), {k.lower(): v for k, v in r.getheaders()})
            except (http.client.HTTPException, OSError):
                return None

    def get(self, path, method="GET", connection=None):
        return self.raw(self.prefix + path, method, connection)

    def create(self, folder):
        answer = self.get(f"crear_buzon.php?folder={folder}")
        assert answer[:2] == (200, b"Buzon creado"), answer

    def send(self, folder, datacry, connection=None):
        return self.get(f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={datacry}", "GET", connection)

    def message(self, folder, number, connection=None):
        return self.get(f"{folder}/msj_{number}_datos.cry", "GET", connection)


# The messages' bytes come from a seed this module prints; VELKORANT_TEST_SEED=N repeats them.
SEED = int(os.environ.get("VELKORANT_TEST_SEED", secrets.randbits(32)))
print(f"message bytes seed {SEED} (VELKORANT_TEST_SEED={SEED} repeats them)", file=sys.stderr, flush=True)
_message_bytes = random.Random(SEED)


def new_folder():
    # A name no other test on the shared server has, not an input of the test: so not seeded,
    # since tests running side by side with one seed would meet in one mailbox.
    return secrets.token_hex(5).upper()


def ciphertext(blocks):
    return _message_bytes.randbytes(16 * blocks).hex().upper()


def message_number(answer):
    match = re.fullmatch(rb"Mensaje (\d+) guardado", answer.body)
    assert answer.status == 200 and match, answer
    return int(match[1])
