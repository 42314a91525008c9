# What one client address may ask, on a run-local of its own as one deployed node is (one pool
# of 16 workers, the deployment's limits), with the database store, where every message file
# takes a php-fpm worker.

import collections
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

from mailbox_http import Server, ciphertext, new_folder

HERE = pathlib.Path(__file__).resolve().parent
RUN_LOCAL = HERE.parents[1] / "mailbox-server/run-local"
CLIENTS, WINDOW = 8, 64  # clients behind one address, message files each asks for at once


def setUpModule():
    global server
    state = pathlib.Path(tempfile.mkdtemp(prefix="velkorant-limits-"))
    port = subprocess.run([sys.executable, HERE.parent / "support/free_port"], capture_output=True,
                          text=True, check=True).stdout.strip()
    server = Server(state=state, lines=subprocess.run(
        [RUN_LOCAL, "--port", port, "--state", state, "--backend", "postgres", "start"],
        capture_output=True, text=True, check=True, timeout=90).stdout)


def tearDownModule():
    subprocess.run([RUN_LOCAL, "--state", server.state, "stop"], timeout=60)
    home = server.state / "postgres-home"  # as root, the cluster lives in a folder of /tmp
    if home.exists():
        shutil.rmtree(home.read_text().strip(), ignore_errors=True)
    shutil.rmtree(server.state, ignore_errors=True)


class Limits(unittest.TestCase):
    def test_eight_clients_behind_one_address_receive_at_once(self):
        folder, text = new_folder(), ciphertext(1)
        senders = [server.connect(f"127.0.1.{n}") for n in range(1, 5)]  # within the post rates
        server.get(f"crear_buzon.php?folder={folder}", connection=senders[0])
        for n in range(WINDOW):
            server.send(folder, text, connection=senders[n % len(senders)])
        for sender in senders:
            sender.close()
        urls = server.state / "urls"
        urls.write_text("".join(f'url = "https://{server.host}:{server.port}{server.prefix}{folder}/msj_{n}_datos.cry"\n'
                                "output = /dev/null\n" for n in range(1, WINDOW + 1)))
        # Like the client: every file asked for at once, over one HTTP/2 connection each.
        clients = [subprocess.Popen(["curl", "-s", "--http2", "--parallel", "--parallel-max", str(WINDOW),
                                     "--cacert", server.ca, "--resolve", f"{server.host}:{server.port}:127.0.0.1",
                                     "-w", "%{http_code} HTTP/%{http_version} %{size_download}\n", "-K", urls],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                   for _ in range(CLIENTS)]
        answers = collections.Counter(line for c in clients for line in c.communicate(timeout=60)[0].splitlines())
        self.assertEqual(answers, {f"200 HTTP/2 {len(text)}": CLIENTS * WINDOW})
