#!/usr/bin/env python3
"""Sends into a mailbox already holding 200 000 messages against sends into an empty one, over a
pool of keep-alive HTTPS connections to a run-local of its own (free port, temporary state
folder), and prints the ratio of their mean times (target <= 1.2) with p50/p99 latencies.
The full mailbox is filled on disk, without .last, as a server before it would have left it.
usage: bench/server_send.py [MESSAGES]"""
import http.client
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
import threading
import time

RUN_LOCAL = pathlib.Path(__file__).resolve().parents[1] / "mailbox-server" / "run-local"
MESSAGES = int(sys.argv[1]) if len(sys.argv) > 1 else 200_000
CONNECTIONS, PER_CONNECTION, ROUNDS = 4, 50, 3


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    state = pathlib.Path(tempfile.mkdtemp(prefix="velkorant-bench-send-"))
    start = [str(RUN_LOCAL), "--port", str(free_port()), "--state", str(state)]
    try:
        lines = subprocess.run(start + ["start"], check=True, capture_output=True, text=True).stdout
        env = dict(line.partition("=")[::2] for line in lines.splitlines())
        host, port, prefix = re.fullmatch(r"([^:/]+):(\d+)(/.*/)", env["server"]).groups()
        context = ssl.create_default_context(cafile=env["ca"])

        def connect():
            return http.client.HTTPSConnection(host, int(port), context=context, timeout=60)

        def get(conn, path):
            conn.request("GET", prefix + path)
            r = conn.getresponse()
            return r.status, r.read()

        conn = connect()
        empty, full = (secrets.token_hex(5).upper() for _ in range(2))
        for folder in (empty, full):
            assert get(conn, f"crear_buzon.php?folder={folder}") == (200, b"Buzon creado")
        box = state / "data" / full
        t = time.monotonic()
        for n in range(1, MESSAGES + 1):
            (box / f"msj_{n}_datos.cry").write_bytes(b"00" * 16)
        print(f"filled {full} with {MESSAGES} messages in {time.monotonic() - t:.1f} s")
        text = secrets.token_hex(64).upper()
        expected = {empty: 0, full: MESSAGES}

        def send(c, folder):
            t = time.perf_counter()
            status, body = get(c, f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={text}")
            elapsed = time.perf_counter() - t
            assert status == 200 and re.fullmatch(rb"Mensaje \d+ guardado", body), (status, body)
            return elapsed

        # The first send into each counts apart: into the full mailbox it is the one listing.
        for folder in (empty, full):
            print(f"first send into {'the full' if folder == full else 'the empty'} mailbox: "
                  f"{send(conn, folder) * 1000:.1f} ms")
        pool = [connect() for _ in range(CONNECTIONS)]
        times = {empty: [], full: []}

        def phase(folder):
            def worker(c):
                times[folder].extend(send(c, folder) for _ in range(PER_CONNECTION))
            threads = [threading.Thread(target=worker, args=(c,)) for c in pool]
            for th in threads:
                th.start()
            for th in threads:
                th.join()

        for _ in range(ROUNDS):  # alternated, so a slower moment of the machine hits both
            phase(empty)
            phase(full)
        for folder in (empty, full):
            sent = 1 + ROUNDS * CONNECTIONS * PER_CONNECTION
            assert get(conn, f"{folder}/msj_{expected[folder] + sent}_datos.cry")[0] == 200
            assert get(conn, f"{folder}/msj_{expected[folder] + sent + 1}_datos.cry")[0] == 404

        def report(name, values):
            ms = sorted(v * 1000 for v in values)
            p99 = ms[min(len(ms) - 1, int(len(ms) * 0.99))]
            print(f"{name:>6}: {len(ms)} sends, mean {statistics.mean(ms):.1f} ms, "
                  f"p50 {statistics.median(ms):.1f} ms, p99 {p99:.1f} ms")

        report("empty", times[empty])
        report("full", times[full])
        ratio = statistics.mean(times[full]) / statistics.mean(times[empty])
        print(f"ratio full/empty (mean): {ratio:.2f} (target <= 1.2)")
    finally:
        subprocess.run([str(RUN_LOCAL), "--state", str(state), "stop"], check=False)
        shutil.rmtree(state, ignore_errors=True)


if __name__ == "__main__":
    main()
