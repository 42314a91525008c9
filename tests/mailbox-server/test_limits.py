# SPDX-License-Identifier: GPL-3.0-or-later
# What one client address and one mailbox may ask of the fixture mailbox_server_limits: the
# deployment's limits on one node as deployed (16 workers), with the database store, where every
# message file takes a php-fpm worker.

import collections
import re
import subprocess
import time
import unittest

from mailbox_http import SERVER_DIR, Server, ciphertext, message_number, new_folder

server = Server()
NGINX = SERVER_DIR / "deploy/nginx"
BURST = {k: int(v) for k, v in re.findall(r"_by_(\w+) burst=(\d+)", (NGINX / "velkorant-locations.conf").read_text())}
PER_MINUTE = {k: int(v) for k, v in re.findall(r"_by_(\w+):\w+ rate=(\d+)r/m", (NGINX / "velkorant-site.conf").read_text())}


class Limits(unittest.TestCase):
    def test_eight_clients_behind_one_address_receive_at_once(self):
        folder, text, window = new_folder(), ciphertext(1), 64
        server.create(folder)
        message_number(server.send(folder, text))
        (urls := server.state / "urls").write_text(window * (
            f'url = "https://{server.host}:{server.port}{server.prefix}{folder}/msj_1_datos.cry"\noutput = /dev/null\n'))
        # As the client asks: every file at once, over one HTTP/2 connection.
        clients = [subprocess.Popen(["curl", "-s", "--http2", "--parallel", "--parallel-max", str(window), "-K", urls,
                                     "--cacert", server.ca, "--resolve", f"{server.host}:{server.port}:127.0.0.1",
                                     "-w", "%{http_code} HTTP/%{http_version} %{size_download}\n"],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True) for _ in range(8)]
        answers = collections.Counter(line for c in clients for line in c.communicate(timeout=60)[0].splitlines())
        self.assertEqual(answers, {f"200 HTTP/2 {len(text)}": 8 * window})

    def test_posts_and_creations_beyond_the_rates(self):
        post = f"enviar_mensaje.php?name=datos&new=0&datacry={ciphertext(1)}&folder="
        boxes = new_folder(), new_folder()
        for box in boxes:
            server.create(box)
        for zone, request, next_folder, sources in (  # the zone that refuses; the addresses asking in turn
                ("address", post, lambda: boxes[0], ["127.0.3.1"]),
                ("address", "crear_buzon.php?folder=", new_folder, ["127.0.3.2"]),
                ("mailbox", post, lambda: boxes[1], ["127.0.3.3", "127.0.3.4", "127.0.3.5"])):  # each within its own
            with self.subTest(zone=zone, request=request[:12]):
                clients, started = [server.connect(source) for source in sources], time.monotonic()
                for n in range(BURST[zone] + 30):
                    client, folder = clients[n % len(clients)], next_folder()
                    if (answer := server.get(request + folder, connection=client)).status != 200:
                        break
                    self.assertRegex(answer.body, rb"^(Buzon creado|Mensaje %d guardado)$" % (n + 1))
                room = BURST[zone] + 1 + PER_MINUTE[zone] * (time.monotonic() - started) / 60
                # The mailbox's creation above took one of its own room.
                self.assertTrue(BURST[zone] - (zone == "mailbox") < n <= room, (n, room))
                self.assertEqual((answer.status, answer.body[:7], answer.headers["content-type"]), (429, b"Error: ", "text/plain"))
                self.assertLessEqual(len(answer.body), 200)
                # The refused request stored nothing, and its client may still read.
                made = f"{folder}/msj_{n + 1}_datos.cry" if request == post else f"existe_buzon.php?folder={folder}"
                self.assertIn(server.get(made, connection=client)[:2], [(404, b""), (200, b"no")])
