# SPDX-License-Identifier: GPL-3.0-or-later
# Thousands of random and mangled requests to every script and to message files, sent as raw
# bytes: methods, request lines, query strings (repeated, missing and array parameters, broken and
# over-long encodings, NUL, lengths near and past the limits), headers and bodies. Every answer
# must be a success or a short plain-text refusal no cache keeps, every request that is not valid
# refused, nothing written outside the data root, and the only mailboxes and messages stored
# those that valid requests asked for. VELKORANT_FUZZ_SEED=N replays a run,
# VELKORANT_FUZZ_REQUESTS=N sets its length.

import contextlib
import os
import random
import re
import secrets
import subprocess
import sys
import time
import unittest
import urllib.parse

from mailbox_http import SERVER_DIR, Server

server = Server()
SEED = int(os.environ.get("VELKORANT_FUZZ_SEED", secrets.randbits(32)))
R = random.Random(SEED)  # every random choice of the run, in order
print(f"request seed {SEED} (VELKORANT_FUZZ_SEED={SEED} replays it)", file=sys.stderr, flush=True)
COUNT = int(os.environ.get("VELKORANT_FUZZ_REQUESTS", 2500))
FOLDER, HEX = re.compile(r"[0-9A-F]{10}"), re.compile(r"[0-9A-F]+")
SCRIPTS = ("comprobar_conexion_servidor", "existe_buzon", "crear_buzon", "enviar_mensaje")
H = [("Host", "localhost")]
# Before the random requests: those once answered wrongly, and one that names a mailbox to nginx's
# limits and another to the script. {f} is a mailbox holding one message.
FOUND = [("GET", "crear_buzon.php?folder={f}", "HTTP/1.1", H, b""),
         ("GET", "enviar_mensaje.php?name=datos&folder={f}&new=0&datacry=" + "A" * 32, "HTTP/1.1", H, b""),
         ("GET", "comprobar_conexion_servidor.php", "HTTP/2.0", H, b""),  # an HTML 505
         ("GET", "existe_buzon.php?folder={f}", "HTTP/1.1", H + [("Transfer-Encoding", "gzip")], b""),  # an HTML 501
         ("POST", "{f}/msj_1_datos.cry", "HTTP/1.1", H + [("Transfer-Encoding", "chunked")], b"zz\r\n"),  # an HTML 400
         *[("GET", "{f}/msj_1_datos.cry", "HTTP/1.1", H + [header], b"")  # HTML 412s and 416
           for header in (("If-Match", '"x"'), ("If-Unmodified-Since", "Thu, 01 Jan 1970 00:00:00 GMT"),
                          ("Range", "bytes=99-"))],
         ("GET", "crear_buzon.php?FOLDER=0123456789&folder={f}", "HTTP/1.1", H, b""),
         ("GET", "crear_buzon.php?FOLDER&folder={f}", "HTTP/1.1", H, b""),  # no parameter to nginx
         ("GET", "nothing", "HTTP/1.1", H, b""),  # empty 404s of application/octet-stream
         ("GET", "/nothing", "HTTP/1.1", H, b"")] + [  # stored, the last value or a name PHP changed
    ("GET", f"enviar_mensaje.php?name=datos&folder={{f}}&{q}&datacry=" + "B" * 32, "HTTP/1.1", H, b"")
    for q in ("new=1&new=0", "+new=0", "new%00=0")]


class Requests:
    """Random requests from one seed. The mailboxes they name begin with a prefix of this run's
    own, so what this run stored is known whatever other suites store meanwhile."""

    def __init__(self):
        self.prefix = secrets.token_hex(3).upper()  # not seeded: a replay is a new run
        self.folders = [self.prefix + R.randbytes(2).hex().upper() for _ in range(12)]

    def hex(self, length):
        return R.randbytes(length).hex().upper()[:length]

    def datacry(self):
        return self.hex(R.choice((32, 32 * R.randint(1, 40), 64000, 64032, 63968, R.randint(1, 300))))

    def junk(self):
        return R.choice(("", "0", "datos", "..", "../" + self.prefix, "/tmp/" + self.prefix, "%00", "%C0%AF",
                         "%E0%80%AF", "%FF%FE", "\x00", "%", "%G1", "%4", "+", "%20", "a" * R.randint(1, 70000),
                         self.hex(R.randint(1, 40)).lower(),
                         urllib.parse.quote(R.randbytes(R.randint(1, 20)), safe="")))

    def mutate(self, params):
        params += [] if params else [(R.choice(("folder", "x")), R.choice(self.folders))]
        i = R.randrange(len(params))
        name, value = params[i]
        encoded = "".join(R.choice(("%{:02X}", "%{:02x}")).format(ord(c)) if R.random() < 0.3 else c
                          for c in value)
        at = R.randint(0, len(value))
        broken = value[:at] + R.choice(("%", "%G0", "%4", "%zz", "%C0%80", "%E0%80%80", "%F8%80%80%80%80", "%00",
                                        "\x00", "\xc0\xaf")) + value[at:]
        # The request line's limit, either side.
        pad = 63 * 1024 - 200 - sum(len(n) + len(v) + 2 for n, v in params) + R.randint(-100, 200)
        changed = R.choice((
            None,
            (R.choice((name, name.upper())), R.choice((value, self.junk(), R.choice(self.folders)))),
            (R.choice(("a", "x[]", "folder[0]", "", "=", "%66older")), self.junk()),
            (name + R.choice(("[]", "[x]", "[", "]", " ", "%00")), value),
            (name, encoded), (name, broken), (name, value.lower()),
            (name, value[:R.randint(0, len(value))] if R.random() < 0.5 else value + self.hex(R.randint(1, 40))),
            (name, self.junk()),
            (R.choice((name.upper(), name.capitalize(), " " + name, name + " ", "+" + name)), value),
            ("pad", "x" * pad),
            (name, R.choice(self.folders) if R.random() < 0.5 else self.datacry()),
            (name, value + R.choice(("#", "/", "?", "&", ";", "\t", " ")))))
        if changed is None:
            del params[i]
        elif R.random() < 0.3:
            params.insert(R.randrange(len(params) + 1), changed)
        else:
            params[i] = changed

    def target(self):
        p = server.prefix
        folder = R.choice(self.folders)
        kind = R.randrange(12)
        if kind < 8:
            script = SCRIPTS[min(kind // 2, 3)]
            params = [("folder", folder)] if script != "comprobar_conexion_servidor" else []
            if script == "enviar_mensaje":
                params = [("name", "datos"), *params, ("new", "0"), ("datacry", self.datacry())]
            for _ in range(R.choice((0, 0, 1, 1, 2, 3))):
                self.mutate(params)
            if R.random() < 0.1:
                R.shuffle(params)
            query = "&".join(f"{n}={v}" if R.random() < 0.97 else n for n, v in params)
            return f"{p}{script}.php" + (f"?{query}" if params or R.random() < 0.5 else "")
        number = R.choice(("1", "2", str(R.randint(1, 30)), "0", "01", "-1", "1" * 19, "9" * 18, "1.0", "%31", "x"))
        target = f"{p}{folder}/msj_{number}_datos.cry"
        return target if kind < 11 else R.choice((
            target.lower(), target.replace("/msj", "//msj"), target + "/", target + ";x", target + "?folder=" + folder,
            target.replace(folder, folder[:9]), target.replace(folder, "%2e%2e"), target.replace(".cry", "%2Ecry"),
            f"{p}{folder}/", f"{p}{folder}/.lock", f"{p}..%2F{folder}", f"{p}../lib/request.php",
            f"/{folder}/msj_1_datos.cry", "*", "/", f"https://localhost{target}",
            f"{p}leer_mensaje.php?folder={folder}&numero=1"))

    def request(self):
        method = R.choices(("GET", "HEAD", "POST", "PUT", "DELETE", "OPTIONS", "PATCH", "TRACE", "CONNECT", "PROPFIND",
                            "get", "G@T", "X" * 40), (70, 6, 6, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1))[0]
        version = R.choices(("HTTP/1.1", "HTTP/1.0", "HTTP/2.0", "HTTP/1.10", "HTTP/9.9", "HTTP/1.1 x", "http/1.1"),
                            (90, 5, 1, 1, 1, 1, 1))[0]
        headers = H[:] if R.random() < 0.97 else []
        headers += [R.choice((
            ("Range", R.choice(("bytes=0-1", "bytes=99999999-", "bytes=abc", "bytes=1-0", "bytes=0-0,2-3"))),
            ("If-Match", '"x"'), ("If-None-Match", "*"), ("If-Unmodified-Since", "Thu, 01 Jan 1970 00:00:00 GMT"),
            ("If-Modified-Since", "Thu, 01 Jan 2099 00:00:00 GMT"),
            ("Transfer-Encoding", R.choice(("chunked", "gzip", "chunked, gzip", "identity"))),
            ("Expect", R.choice(("100-continue", "x"))),
            ("Content-Length", R.choice(("-1", "abc", "99999999999999999999", "0, 0", "4", "2000000"))),
            ("Connection", R.choice(("close", "upgrade"))),
            ("Content-Type", R.choice(("multipart/form-data; boundary=x", "application/x-www-form-urlencoded"))),
            ("Upgrade", "h2c"),
            ("Host", R.choice(("", "a b", "[::1", "x" * 300, "localhost:1"))),
            ("Cookie", "a=" + "b" * R.choice((10, 5000))), ("X" * R.choice((1, 70000)), "y"), ("Bad Name", "z"),
            ("\x00", "z"))) for _ in range(R.choice((0, 0, 0, 1, 2)))]
        names = {n: v for n, v in headers}
        body = b""
        if R.random() < 0.1:
            body = R.choice((
                b"folder=" + R.choice(self.folders).encode(), R.randbytes(R.randint(1, 3000)),
                b"--x\r\nContent-Disposition: form-data; name=\"f\"; filename=\"f\"\r\n\r\nabc\r\n--x--\r\n"))
        # Never fewer bytes than announced (but for a length over the limit, refused at once): a
        # request waiting for the rest of its body only times out.
        if "Transfer-Encoding" in names:
            body = R.choice((b"0\r\n\r\n", b"4\r\nabcd\r\n0\r\n\r\n", b"zz\r\n"))
        if body and "Content-Length" not in names and "Transfer-Encoding" not in names:
            headers.append(("Content-Length", str(len(body))))
        body += b"abcd" if names.get("Content-Length") == "4" else b""
        return method, self.target(), version, headers, body


def asks(method, target):
    """(script, folder[, text]) of a valid request to a script with parameters, else None."""
    # nginx ends the target at the first of the spaces before the version, and the query at a "#".
    path, _, query = target.rstrip(" ").partition("#")[0].partition("?")
    script = path.removeprefix(server.prefix).removesuffix(".php")
    pairs = urllib.parse.parse_qsl(query, keep_blank_values=True, encoding="latin-1")
    names = [name for name, _ in pairs]
    one = {name: value for name, value in pairs if names.count(name) == 1}
    if (method not in ("GET", "HEAD" if script == "existe_buzon" else "GET")
            or not FOLDER.fullmatch(one.get("folder", ""))):
        return None
    # nginx counts creations and sends by the first folder parameter in any letter case; a name
    # without "=" is none of its parameters.
    keyed = [pair for part in query.split("&") if "=" in part
             for pair in urllib.parse.parse_qsl(part, keep_blank_values=True, encoding="latin-1")]
    if script != "existe_buzon" and next(v for n, v in keyed if n.lower() == "folder") != one["folder"]:
        return None
    text = one.get("datacry", "")
    if script == "enviar_mensaje":
        valid = ((one.get("name"), one.get("new")) == ("datos", "0") and HEX.fullmatch(text)
                 and len(text) % 32 == 0 and len(text) <= 64000)
        return valid and (script, one["folder"], text) or None
    return script, one["folder"]


def stored(prefix):
    """{folder: [message 1, message 2, ...]} of the mailboxes whose names begin with prefix."""
    boxes = {}
    if server.files:
        for box in server.data_root.glob(prefix + "*"):
            names = {f.name for f in box.iterdir()} - {".lock", ".last"}
            boxes[box.name] = [(box / f"msj_{n}_datos.cry").read_text() for n in range(1, len(names) + 1)]
            assert names == {f"msj_{n}_datos.cry" for n in range(1, len(names) + 1)}, (box, names)
        return boxes
    host = re.search(r"host=([^;]+)", server.database)[1]
    psql = ["psql", "-X", "-tA", "-h", host, "-U", "velkorant", "-d", "velkorant", "-c"]
    for table, columns in (("mailboxes", "folder, 0, ''"),
                           ("messages", "folder, number, convert_from(data, 'LATIN1')")):
        query = f"SELECT {columns} FROM {table} WHERE folder LIKE '{prefix}%' ORDER BY 1, 2"
        for row in subprocess.run(psql + [query], capture_output=True, text=True, check=True).stdout.split():
            folder, number, text = row.split("|")
            boxes.setdefault(folder, []).extend([text] if number != "0" else [])
            assert int(number) in (0, len(boxes[folder])), (folder, number)
    return boxes


def outside(prefix):
    """Every file of the state and server folders but the data root, logs, sockets and database,
    with its size and time of change; and any name with the prefix beside the data root's parents."""
    skip = {str(server.state / name) for name in ("data", "log", "run", "postgres")}
    found = {}
    for root in (server.state, SERVER_DIR):
        for path, dirs, files in os.walk(root):
            dirs[:] = [d for d in dirs if os.path.join(path, d) not in skip]
            for name in files:
                with contextlib.suppress(FileNotFoundError):  # a temporary file, gone meanwhile
                    stat = os.lstat(os.path.join(path, name))
                    found[os.path.join(path, name)] = (stat.st_size, stat.st_mtime_ns)
    return found | {name: None for place in (*server.data_root.parents, "/tmp")
                    for name in os.listdir(place) if prefix in name.upper()}


class RandomRequests(unittest.TestCase):
    def test_answers_and_what_they_leave(self):
        gen = Requests()
        files_before, data_before = outside(gen.prefix), set(os.listdir(server.data_root))
        fixed = [(m, ("" if t[0] == "/" else server.prefix) + t.format(f=gen.folders[0]), v, h, b)
                 for m, t, v, h, b in FOUND]
        faults, created, sent, statuses, started = [], set(), {}, {}, time.monotonic()
        for number in range(len(fixed) + COUNT):
            request = fixed[number] if number < len(fixed) else gen.request()
            if number >= len(fixed) and R.random() < 0.15:  # a valid creation or send now and then
                folder = R.choice(gen.folders)
                query = f"crear_buzon.php?folder={folder}" if folder not in created or R.random() < 0.2 else \
                    f"enviar_mensaje.php?name=datos&folder={folder}&new=0&datacry={gen.datacry()}"
                request = ("GET", server.prefix + query, "HTTP/1.1", H, b"")
            method, target, version, fields, body = request
            lines = [f"{method} {target} {version}"] + [f"{n}: {v}" for n, v in fields] + ["", ""]
            answer = server.exchange("\r\n".join(lines).encode("latin-1") + body, method)
            statuses[answer and answer.status] = statuses.get(answer and answer.status, 0) + 1
            if answer is None:
                continue
            status, text, headers = answer
            media = headers.get("content-type", "").partition(";")[0]
            cached = text and headers.get("cache-control") != "no-store"  # (empty 404s may be)
            asked = asks(method, target)
            script = target.partition("?")[0].removeprefix(server.prefix).removesuffix(".php")
            fault = None
            if status >= 500 and (status, text) != (500, b"Error: almacenamiento no disponible"):
                fault = "a server error"
            elif (status >= 400 or text.startswith(b"Error")) and (
                    len(text) > 200 or media != "text/plain" or b"<" in text or cached):
                fault = "a refusal not a short text that no cache keeps"
            elif status < 400 and script in SCRIPTS[1:] and not asked:
                fault = "not refused"
            elif text == b"Buzon creado":
                created.add(asked[1])
            elif text.startswith(b"Mensaje "):
                sent[asked[1], int(text.split()[1])] = asked[2]
            if fault:
                shown = re.sub(r"([0-9A-FXxab])\1{15,}|([0-9A-F]{16})[0-9A-F]{16,}",
                               lambda m: f"{m[0][:16]}...({len(m[0])})", repr(request))
                faults.append(f"#{number} {shown}: {fault}: {status} {media} {text[:200]!r}")
        print(f"{number + 1} requests in {time.monotonic() - started:.1f} s; statuses {statuses}",
              file=sys.stderr, flush=True)
        self.assertEqual(faults, [], "\n".join(faults))
        # What the stores hold of this run: the mailboxes valid creations made, each with the
        # messages of the valid sends answered, under the numbers answered, and nothing else.
        boxes = stored(gen.prefix)
        self.assertEqual(set(boxes), created)
        self.assertEqual({(f, n + 1): text for f, texts in boxes.items() for n, text in enumerate(texts)}, sent)
        self.assertGreater(len(sent), COUNT // 40)
        # Nothing written outside the data root, and nothing but mailboxes and messages in it.
        for _ in range(20):  # temporary files of requests under way, of other suites too
            gained = {path for path, stat in outside(gen.prefix).items() if files_before.get(path, 0) != stat}
            odd = [n for n in set(os.listdir(server.data_root)) - data_before
                   if not FOLDER.fullmatch(n) and n != "_test_answers"]
            if not gained and not odd:
                break
            time.sleep(0.5)
        self.assertEqual((sorted(gained), odd), ([], []))
