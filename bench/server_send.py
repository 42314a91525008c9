#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The mailbox server under load, for each store: files (one node), PostgreSQL with one node and
with two. Each runs on a run-local of its own (free port, temporary state folder) and is driven
over a pool of keep-alive HTTPS connections. Prints per store:
  - sends per second and p50/p99 latency, sends alternating between an empty mailbox and one
    already holding 200 000 messages, and the ratio of their mean times (target <= 1.2);
  - existe_buzon.php for a third mailbox while 10 clients post to the full one (20 sends a
    second each), against idle (target <= 2);
and last, two nodes against one (sends per second; target: not slower).
The full mailbox is filled behind the server's back: files without .last, as a server before
them left it; rows inserted by SQL.
usage: bench/server_send.py [MESSAGES]"""
import glob
import http.client
import multiprocessing
import os
import pathlib
import re
import secrets
import shutil
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import time

RUN_LOCAL = pathlib.Path(__file__).resolve().parents[1] / "mailbox-server" / "run-local"
MESSAGES = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
CONNECTIONS, PER_CONNECTION, ROUNDS, POSTERS, POSTER_RATE, CHECKS = 8, 50, 3, 10, 20, 300
STORED = re.compile(rb"Mensaje \d+ guardado")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, fraction):
    ms = sorted(v * 1000 for v in values)
    return ms[min(len(ms) - 1, int(len(ms) * fraction))]


class Server:
    def __init__(self, lines):
        env = dict(line.partition("=")[::2] for line in lines.splitlines())
        self.host, port, self.prefix = re.fullmatch(r"([^:/]+):(\d+)(/.*/)", env["server"]).groups()
        self.port, self.env = int(port), env

    def connect(self):
        context = ssl.create_default_context(cafile=self.env["ca"])  # made here: a Server is sent to processes
        return http.client.HTTPSConnection(self.host, self.port, context=context, timeout=60)

    def get(self, conn, path):
        conn.request("GET", self.prefix + path)
        r = conn.getresponse()
        return r.status, r.read()

    def timed(self, conn, path, expected):
        t = time.perf_counter()
        status, body = self.get(conn, path)
        elapsed = time.perf_counter() - t
        assert status == 200 and re.fullmatch(expected, body), (path[:40], status, body)
        return elapsed


def send_batch(args):
    server, folder, text = args
    conn = server.connect()
    path = f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={text}"
    return [server.timed(conn, path, STORED) for _ in range(PER_CONNECTION)]


def post_forever(server, folder, text):
    # Each at most POSTER_RATE sends a second: flat out, clients on this same small machine would
    # measure the processor they take from the server, not whether one mailbox holds up others.
    conn = server.connect()
    while True:
        t = time.monotonic()
        server.get(conn, f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={text}")
        time.sleep(max(0.0, 1 / POSTER_RATE - (time.monotonic() - t)))


def fill(server, state, folder):
    t = time.monotonic()
    if "database" in server.env:
        socket_dir = re.search(r"host=([^;]+)", server.env["database"])[1]
        psql = sorted(glob.glob("/usr/lib/postgresql/*/bin/psql"))[-1]
        sql = (f"INSERT INTO messages SELECT '{folder}', n, '\\x{'30' * 32}'::bytea FROM generate_series(1, {MESSAGES}) n;"
               f"UPDATE mailboxes SET last_number = {MESSAGES} WHERE folder = '{folder}';")
        subprocess.run([psql, "-X", "-q", "-h", socket_dir, "-U", "velkorant", "-d", "velkorant", "-v",
                        "ON_ERROR_STOP=1", "-c", sql], check=True)
    else:
        box = state / "data" / folder
        for n in range(1, MESSAGES + 1):
            (box / f"msj_{n}_datos.cry").write_bytes(b"00" * 16)
    # Written over months on a real server: what is measured must not be flushing them.
    os.sync()
    return time.monotonic() - t


def measure(options):
    state = pathlib.Path(tempfile.mkdtemp(prefix="velkorant-bench-send-"))
    try:
        # Relaxed post rates: every client here is 127.0.0.1, posting thousands a minute.
        server = Server(subprocess.run([str(RUN_LOCAL), "--port", str(free_port()), "--state", str(state),
                                        "--relaxed-rates", *options, "start"], check=True, capture_output=True,
                                       text=True).stdout)
        conn = server.connect()
        empty, full, other = (secrets.token_hex(5).upper() for _ in range(3))
        for folder in (empty, full, other):
            assert server.get(conn, f"crear_buzon.php?folder={folder}") == (200, b"Buzon creado")
        print(f"  filled a mailbox with {MESSAGES} messages in {fill(server, state, full):.1f} s")
        conn = server.connect()  # the first may have outlived the server's keep-alive meanwhile
        text = secrets.token_hex(64).upper()

        def send(c, folder):
            return server.timed(c, f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={text}", STORED)

        # The first send into each counts apart: into the full files mailbox it is the one listing.
        print("  first send: " + ", ".join(f"{name} {send(conn, f) * 1000:.1f} ms"
                                           for name, f in (("empty", empty), ("full", full))))
        times = {empty: [], full: []}
        wall = 0.0
        # A round to warm up (workers, connections, caches) counts for nothing; then rounds
        # alternate, so that a slower moment of the machine hits both mailboxes. Each connection
        # is a process of its own, so that clients are not what is measured.
        with multiprocessing.Pool(CONNECTIONS) as clients:
            for round in range(ROUNDS + 1):
                for folder in (empty, full):
                    t = time.monotonic()
                    for batch in clients.map(send_batch, [(server, folder, text)] * CONNECTIONS):
                        times[folder] += batch
                    wall += time.monotonic() - t
                if round == 0:
                    times, wall = {empty: [], full: []}, 0.0
        conn = server.connect()
        for folder, before in ((empty, 0), (full, MESSAGES)):
            last = before + 1 + (ROUNDS + 1) * CONNECTIONS * PER_CONNECTION
            assert server.get(conn, f"{folder}/msj_{last}_datos.cry")[0] == 200
            assert server.get(conn, f"{folder}/msj_{last + 1}_datos.cry")[0] == 404
        every = times[empty] + times[full]
        rate = len(every) / wall
        ratio = statistics.mean(times[full]) / statistics.mean(times[empty])
        median_ratio = statistics.median(times[full]) / statistics.median(times[empty])
        print(f"  sends: {rate:.0f}/s over {CONNECTIONS} connections, p50 {percentile(every, 0.5):.1f} ms, "
              f"p99 {percentile(every, 0.99):.1f} ms; full/empty {ratio:.2f} (mean; target <= 1.2), "
              f"{median_ratio:.2f} (p50)")

        # existe_buzon.php for a mailbox nobody posts to, idle and while POSTERS clients post.
        check = re.compile(rb"si")

        def checks():
            return [server.timed(conn, f"existe_buzon.php?folder={other}", check) for _ in range(CHECKS)]

        idle = checks()
        # Processes of their own, so that they do not take this one's time.
        posters = [multiprocessing.Process(target=post_forever, args=(server, full, text), daemon=True)
                   for _ in range(POSTERS)]
        for process in posters:
            process.start()
        time.sleep(1)
        busy = checks()
        for process in posters:
            process.kill()
            process.join()
        load = statistics.median(busy) / statistics.median(idle)
        print(f"  existe_buzon.php: idle p50 {percentile(idle, 0.5):.1f} ms, with {POSTERS} posting "
              f"p50 {percentile(busy, 0.5):.1f} ms; ratio {load:.2f} (target <= 2)")
        return rate
    finally:
        subprocess.run([str(RUN_LOCAL), "--state", str(state), "stop"], check=False)
        home = state / "postgres-home"
        if home.exists() and home.read_text().strip().startswith("/tmp/velkorant-pg."):
            shutil.rmtree(home.read_text().strip(), ignore_errors=True)
        shutil.rmtree(state, ignore_errors=True)


def main():
    rates = {}
    for name, options in (("files, 1 node", ["--backend", "files"]),
                          ("PostgreSQL, 1 node", ["--backend", "postgres"]),
                          ("PostgreSQL, 2 nodes", ["--backend", "postgres", "--nodes", "2"])):
        print(name)
        rates[name] = measure(options)
    ratio = rates["PostgreSQL, 2 nodes"] / rates["PostgreSQL, 1 node"]
    print(f"two nodes against one (sends per second): {ratio:.2f} (target >= 1, within noise)")


if __name__ == "__main__":
    main()
