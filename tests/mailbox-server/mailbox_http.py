"""Talks to the mailbox server of the test fixture over TLS, trusting only run-local's CA.

The fixture's env file (VELKORANT_SERVER_ENV) holds the two lines run-local printed; the data
root is the "data" folder of its state folder (VELKORANT_SERVER_STATE).
"""

import http.client
import os
import pathlib
import re
import secrets
import ssl


def read_env(path):
    values = {}
    for line in pathlib.Path(path).read_text().splitlines():
        key, _, value = line.partition("=")
        values[key] = value
    return values


class Answer:
    def __init__(self, status, headers, body):
        self.status = status
        self.headers = headers
        self.body = body

    def __repr__(self):
        return f"Answer({self.status}, {self.body[:80]!r})"


class Server:
    def __init__(self, env_file=None, state=None):
        env = read_env(env_file or os.environ["VELKORANT_SERVER_ENV"])
        match = re.fullmatch(r"([^:/]+):(\d+)(/.*/)", env["server"])
        if not match:
            raise ValueError(f"unexpected server line {env['server']!r}")
        self.host, self.port, self.prefix = match[1], int(match[2]), match[3]
        self.context = ssl.create_default_context(cafile=env["ca"])
        state = state or os.environ["VELKORANT_SERVER_STATE"]
        self.data_root = pathlib.Path(state) / "data"

    def connect(self):
        return http.client.HTTPSConnection(self.host, self.port, context=self.context, timeout=30)

    def raw(self, target, method="GET", connection=None):
        """One request for a target sent exactly as given (no normalisation, no escaping)."""
        conn = connection or self.connect()
        try:
            try:
                conn.request(method, target)
            except OSError:
                # The server may answer and stop reading before an over-long request is
                # all sent; its answer is still there to read.
                pass
            response = conn.getresponse()
            body = response.read()
            return Answer(response.status, {k.lower(): v for k, v in response.getheaders()}, body)
        finally:
            if connection is None:
                conn.close()

    def get(self, path, method="GET", connection=None):
        """A request below the server address, as the client builds it."""
        return self.raw(self.prefix + path, method, connection)

    def create(self, folder):
        answer = self.get(f"crear_buzon.php?folder={folder}")
        assert answer.status == 200 and not answer.body.startswith(b"Error"), answer
        return answer

    def send(self, folder, datacry, connection=None):
        return self.get(f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={datacry}",
                        connection=connection)

    def message(self, folder, number, connection=None):
        return self.get(f"{folder}/msj_{number}_datos.cry", connection=connection)


def new_folder():
    """A mailbox name no other test uses."""
    return secrets.token_hex(5).upper()


def ciphertext(blocks):
    """A transport text of the given number of 16-byte blocks."""
    return secrets.token_hex(16 * blocks).upper()


def message_number(answer_body):
    """The message number named in a send answer ("Mensaje 17 guardado")."""
    numbers = re.findall(rb"\d+", answer_body)
    assert len(numbers) == 1, answer_body
    return int(numbers[0])
