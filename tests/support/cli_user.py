# SPDX-License-Identifier: GPL-3.0-or-later
# A user's velkorant-cli (working and settings folders) on the local mailbox server of the test
# fixture: VELKORANT_CLI, VELKORANT_SERVER_ENV, VELKORANT_SERVER_STATE (its "data": the mailboxes).
import hashlib
import os
import pathlib
import re
import secrets
import subprocess
import zlib

CLI = os.environ["VELKORANT_CLI"]
DATA = pathlib.Path(os.environ["VELKORANT_SERVER_STATE"]) / "data"
ENV = dict(line.split("=", 1) for line in
           pathlib.Path(os.environ["VELKORANT_SERVER_ENV"]).read_text().splitlines())
KEYS = ("fecha_msj", "usuario_receptor_msj", "usuario_emisor_msj", "asunto_msj", "cuerpo_msj",
        "password_hash", "flag_msj_enviado_srv", "flag_msj_leido", "flag_msj_desencriptado",
        "flag_msj_respondido")


def folder_of(name):
    return hashlib.sha256(name.encode("cp1252")).hexdigest().upper()[:10]


def crc(password):
    return zlib.crc32(password.encode("cp1252")).to_bytes(4, "little").hex().upper()


def section(kind, number, *values):
    """A message section as the store writes it (line breaks as "retfld"), and an empty line."""
    lines = [f"[mensaje_{kind}_{number}]"] + [f"{k}={v}" for k, v in zip(KEYS, values)]
    return "".join(line.replace("\n", "retfld") + "\r\n" for line in lines).encode() + b"\r\n"


class User:
    def __init__(self, root, label, server=ENV["server"], register=False):
        self.work = pathlib.Path(root, label, "work")
        self.work.mkdir(parents=True)
        self.env = dict(os.environ, XDG_CONFIG_HOME=str(self.work.parent / "config"),
                        CURL_CA_BUNDLE=ENV["ca"], no_proxy="*")
        # A name no user of an earlier run on this server has; not an input of the test.
        self.name = f"{label}_ñ_{secrets.token_hex(4)}"
        self.folder = folder_of(self.name)
        self.ok("server", server)
        if register:
            self.ok("register", self.name)

    def run(self, *args, stdin=""):
        done = subprocess.run([CLI, *args], cwd=self.work, env=self.env, input=stdin.encode(),
                              capture_output=True, timeout=60)
        return done.returncode, done.stdout.decode(), done.stderr.decode()

    def ok(self, *args, code=0, stdin=""):
        """The texts of the terminal lines (with time stamps) and standard error of a command that
        ends with `code`."""
        status, out, err = self.run(*args, stdin=stdin)
        lines = [re.fullmatch(r"\d\d:\d\d:\d\d - (.*)", line) for line in out.splitlines()]
        assert status == code and all(lines), f"{args}: exit {status}\n{out}{err}"
        return [line[1] for line in lines], err

    def send(self, to, subject, body, profile="compartido", code=0):
        return self.ok("send", "--to", to, "--subject", subject, "--profile", profile,
                       stdin=body + "\n", code=code)

    def profile(self, name, password):
        (self.work.parent / name).write_text(password + "\n", encoding="utf-8")
        self.ok("profile", "add", name, "--password-file", str(self.work.parent / name))

    def file(self, name):
        return (self.work / name).read_bytes() if (self.work / name).exists() else b""
