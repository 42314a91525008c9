"""Two installations exchange messages through the local mailbox server with velkorant-cli.

Each installation is a working directory (the message stores) and an XDG_CONFIG_HOME folder (the
settings database), as two users on two machines would have them. The stores they end with are
checked byte for byte, the password fingerprints and mailbox folders against hashlib and zlib.

Environment: VELKORANT_CLI (the program), VELKORANT_SERVER_ENV (the fixture's env file) and
VELKORANT_SERVER_STATE (its state folder, whose "data" folder holds the mailboxes).
"""

import datetime
import hashlib
import os
import pathlib
import re
import secrets
import socket
import subprocess
import sys
import tempfile
import unittest
import zlib

# The fixture's env file is read as the server tests read it.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "mailbox-server"))
from mailbox_http import read_env  # noqa: E402

CLI = os.environ["VELKORANT_CLI"]
DATA_ROOT = pathlib.Path(os.environ["VELKORANT_SERVER_STATE"]) / "data"
COMMAND_TIMEOUT = 60  # seconds; a loaded 2-core machine is slow, a hung command is a failure


SERVER_ENV = read_env(os.environ["VELKORANT_SERVER_ENV"])
SERVER = SERVER_ENV["server"]
CA = SERVER_ENV["ca"]

CONNECTION_ERROR = "Error de conexión. Comprueba tu conexión de Internet y tu cortafuegos"
TERMINAL_LINE = re.compile(r"(\d\d):(\d\d):(\d\d) - (.*)")
DATE = re.compile(rb"fecha_msj=(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\r\n")
KEYS = ("fecha_msj", "usuario_receptor_msj", "usuario_emisor_msj", "asunto_msj", "cuerpo_msj",
        "password_hash", "flag_msj_enviado_srv", "flag_msj_leido", "flag_msj_desencriptado",
        "flag_msj_respondido")
TRANSIENT_FILES = ("envio_resultado.txt", "mensaje_recibido.cry")


def unique_name(stem):
    return f"{stem}_{secrets.token_hex(4)}"


def folder_of(name):
    return hashlib.sha256(name.encode("cp1252")).hexdigest().upper()[:10]


def fingerprint(password):
    return zlib.crc32(password.encode("cp1252")).to_bytes(4, "little").hex().upper()


def stored_body(body):
    return "retfld".join(body.split("\n"))


def section(kind, number, date, receiver, sender, subject, body, password_hash, flags):
    """One message section exactly as the store writes it, the empty line after it included."""
    values = (date, receiver, sender, subject, body, password_hash) + tuple(
        "1" if flag else "0" for flag in flags)
    lines = [f"[mensaje_{kind}_{number}]"] + [f"{k}={v}" for k, v in zip(KEYS, values)]
    return "".join(line + "\r\n" for line in lines).encode("utf-8") + b"\r\n"


class Result:
    def __init__(self, completed):
        self.code = completed.returncode
        self.out = completed.stdout.decode("utf-8")
        self.err = completed.stderr.decode("utf-8")

    def terminal(self):
        """The texts of the terminal lines on standard output, each checked for its time stamp."""
        texts = []
        for line in self.out.splitlines():
            match = TERMINAL_LINE.fullmatch(line)
            assert match, f"not a terminal line: {line!r} in {self.out!r}"
            assert int(match[1]) < 24 and int(match[2]) < 60 and int(match[3]) < 60, line
            texts.append(match[4])
        return texts

    def __repr__(self):
        return f"exit {self.code}\n--- stdout\n{self.out}--- stderr\n{self.err}"


class Installation:
    """One user's program: its own working directory and its own settings database."""

    def __init__(self, root, label):
        self.work = pathlib.Path(root) / label / "work"
        self.config = pathlib.Path(root) / label / "config"
        self.work.mkdir(parents=True)
        self.config.mkdir(parents=True)
        self.env = dict(os.environ, XDG_CONFIG_HOME=str(self.config), CURL_CA_BUNDLE=CA,
                        NO_PROXY="localhost,127.0.0.1", no_proxy="localhost,127.0.0.1")
        self.name = None

    def run(self, *args, stdin=""):
        completed = subprocess.run([CLI, *args], cwd=self.work, env=self.env,
                                   input=stdin.encode("utf-8"), capture_output=True,
                                   timeout=COMMAND_TIMEOUT)
        return Result(completed)

    def file(self, name):
        return (self.work / name).read_bytes()

    def settings(self):
        result = self.run("settings")
        assert result.code == 0, result
        return dict(line.split(": ", 1) if ": " in line else (line.rstrip(":"), "")
                    for line in result.out.splitlines())

    def add_profile(self, profile, password):
        password_file = self.work.parent / f"{profile}.pw"
        password_file.write_text(password + "\n", encoding="utf-8")
        result = self.run("profile", "add", profile, "--password-file", str(password_file),
                          "--comment", "acordada en persona")
        assert result.code == 0, result


class ExchangeTest(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="velkorant-exchange-")
        self.addCleanup(folder.cleanup)
        self.root = folder.name
        self.installations = []

    def tearDown(self):
        for installation in self.installations:
            for name in TRANSIENT_FILES:
                self.assertFalse((installation.work / name).exists(),
                                 f"{name} left in {installation.work}")

    def installation(self, label, server=SERVER):
        installation = Installation(self.root, label)
        self.installations.append(installation)
        self.expect(installation.run("server", server), 0)
        return installation

    def registered(self, label, name):
        installation = self.installation(label)
        result = installation.run("register", name)
        self.expect(result, 0, ["Creando buzón para usuario: " + name,
                                "Buzón creado correctamente"])
        self.assertTrue((DATA_ROOT / folder_of(name)).is_dir(), name)
        installation.name = name
        return installation

    def expect(self, result, code, terminal=None, err=None):
        self.assertEqual(result.code, code, result)
        if terminal is not None:
            self.assertEqual(result.terminal(), terminal, result)
        if err is not None:
            self.assertEqual(result.err, err, result)

    def send(self, sender, receiver, subject, body, profile, number):
        """A send that the server accepts: its lines, and the file it left in the mailbox."""
        result = sender.run("send", "--to", receiver.name, "--subject", subject, "--profile",
                            profile, stdin=body + "\n")
        self.expect(result, 0, err=f"velkorant-cli: stored as e{number}\n")
        lines = result.terminal()
        self.assertEqual(lines[:2], ["Enviando mensaje ...", "Mensaje enviado correctamente"],
                         result)
        self.assertRegex(lines[2], r"^Bytes enviados: \d+$")
        self.assertTrue(lines[3].startswith("SRV: "), result)
        self.assertEqual(len(lines), 4, result)
        mailbox = DATA_ROOT / folder_of(receiver.name)
        newest = max(int(path.name.split("_")[1]) for path in mailbox.glob("msj_*_datos.cry"))
        transport = (mailbox / f"msj_{newest}_datos.cry").read_bytes().decode("ascii")
        self.assertRegex(transport, r"^(?:[0-9A-F]{32})+$")
        self.assertEqual(int(lines[2].split(": ")[1]), len(transport))
        return transport

    def receive(self, installation, summary):
        self.expect(installation.run("receive"), 0,
                    ["Comprobando mensajes para " + installation.name, summary], "")

    def sent_date(self, installation, number):
        dates = DATE.findall(installation.file("mensajes_enviados.ini"))
        return dates[number - 1].decode("ascii")

    def test_two_users_exchange_messages_both_ways(self):
        ana = self.registered("ana", unique_name("ana"))
        begona = self.registered("begona", unique_name("Begoña"))
        self.expect(ana.run("check-server"), 0,
                    ["Conectando con servidor " + SERVER, "Conexión con servidor: OK", "SRV: OK",
                     "Servidor de mensajes: OK"], "")
        shared = "clave común «ñ€»"
        for installation in (ana, begona):
            installation.add_profile("compartido", shared)
            self.assertEqual(installation.run("profile", "list").out, "compartido\n")

        subject = "Cena: ñ á é € ü ¿ «»"
        body = ("Hola Begoña,\n¿cenamos el sábado? Invito yo: 20 €.\n\n"
                "«Hasta pronto» — ñ á é ü\núltima línea")
        before = datetime.datetime.now().replace(microsecond=0)
        self.send(ana, begona, subject, body, "compartido", 1)
        after = datetime.datetime.now()
        self.receive(begona, "1 nuevos mensajes")

        reply_subject = "Re: " + subject
        reply_body = "¡Sí! El sábado a las 21:00.\nLlevo el «vino»."
        self.send(begona, ana, reply_subject, reply_body, "compartido", 1)
        self.receive(ana, "1 nuevos mensajes")

        date = self.sent_date(ana, 1)
        self.assertTrue(before <= datetime.datetime.fromisoformat(date) <= after, date)
        reply_date = self.sent_date(begona, 1)
        crc = fingerprint(shared)
        sent_flags = (True, True, True, False)
        received_flags = (False, False, True, False)
        first = (date, begona.name, ana.name, subject, stored_body(body), crc)
        reply = (reply_date, ana.name, begona.name, reply_subject, stored_body(reply_body), crc)
        self.assertEqual(ana.file("mensajes_enviados.ini"),
                         section("enviado", 1, *first, sent_flags))
        self.assertEqual(begona.file("mensajes_recibidos.ini"),
                         section("recibido", 1, *first, received_flags))
        self.assertEqual(begona.file("mensajes_enviados.ini"),
                         section("enviado", 1, *reply, sent_flags))
        self.assertEqual(ana.file("mensajes_recibidos.ini"),
                         section("recibido", 1, *reply, received_flags))

        listed = begona.run("list")
        self.expect(listed, 0, err="")
        self.assertEqual(listed.out.splitlines(), [
            f"e1\t \t{reply_subject}\t{begona.name}\t{ana.name}\t{reply_date}",
            f"r1\t \t{subject}\t{ana.name}\t{begona.name}\t{date}"])
        shown = begona.run("show", "r1")
        self.expect(shown, 0, err="")
        self.assertEqual(shown.out,
                         f"codigo: r1\nfecha_msj: {date}\nusuario_emisor_msj: {ana.name}\n"
                         f"usuario_receptor_msj: {begona.name}\nasunto_msj: {subject}\n"
                         f"password_hash: {crc}\nflag_msj_leido: 0\nflag_msj_desencriptado: 1\n"
                         f"flag_msj_respondido: 0\n\n{body}\n")
        self.assertTrue(ana.run("show", "r1").out.endswith(f"\n\n{reply_body}\n"))
        self.assertEqual(begona.settings()["MsjsRecibidos"], "1")
        self.assertEqual(ana.settings()["MsjsRecibidos"], "1")

        # A profile only the sender has: the message arrives and waits, undecrypted, until the
        # receiver adds that profile too.
        private = "sólo entre «nosotros» €"
        ana.add_profile("privado", private)
        private_subject = "Secreto ¿ü?"
        private_body = "Línea uno\nLínea dos ñ"
        transport = self.send(ana, begona, private_subject, private_body, "privado", 2)
        self.receive(begona, "1 nuevos mensajes, 1 sin desencriptar")
        private_date = self.sent_date(ana, 2)
        self.assertEqual(ana.file("mensajes_enviados.ini"),
                         section("enviado", 1, *first, sent_flags)
                         + section("enviado", 2, private_date, begona.name, ana.name,
                                   private_subject, stored_body(private_body),
                                   fingerprint(private), sent_flags))
        received = section("recibido", 1, *first, received_flags)
        waiting = section("recibido", 2, "?", "?", "?", "<sin desencriptar>", transport,
                          fingerprint("?"), (False, True, False, False))
        self.assertEqual(begona.file("mensajes_recibidos.ini"), received + waiting)
        self.assertEqual(begona.run("list").out.splitlines()[-1],
                         "r2\t \t<sin desencriptar>\t?\t?\t?")

        self.expect(begona.run("retry"), 0, [], "")  # the profile is still missing
        begona.add_profile("privado", private)
        self.expect(begona.run("retry"), 0, ["1 nuevos mensajes desencriptados"], "")
        opened = section("recibido", 2, private_date, begona.name, ana.name,
                         private_subject, stored_body(private_body), fingerprint(private),
                         received_flags)
        self.assertEqual(begona.file("mensajes_recibidos.ini"), received + opened)
        shown = begona.run("show", "r2").out
        self.assertIn(f"\nasunto_msj: {private_subject}\n", shown)
        self.assertTrue(shown.endswith(f"\n\n{private_body}\n"), shown)
        self.expect(begona.run("retry"), 0, [], "")

        self.receive(begona, "No hay nuevos mensajes")
        self.assertEqual(begona.settings()["MsjsRecibidos"], "2")

    def test_send_to_a_name_without_mailbox(self):
        ana = self.registered("ana", unique_name("ana"))
        ana.add_profile("compartido", "clave común «ñ€»")
        nobody = unique_name("Nadie_ñ")
        result = ana.run("send", "--to", nobody, "--subject", "¿Hola?", "--profile", "compartido",
                         stdin="¿Estás?\n")
        self.expect(result, 1, ["Error. No existe el usuario " + nobody])
        self.assertIn("No existe el usuario: Error. No se ha podido enviar el mensaje\n"
                      f"No existe el usuario {nobody} en el servidor.\n", result.err)
        self.assertFalse((DATA_ROOT / folder_of(nobody)).exists())
        # Kept as written but not sent.
        self.assertIn(b"\r\nflag_msj_enviado_srv=0\r\n", ana.file("mensajes_enviados.ini"))
        self.assertEqual(ana.run("list").out.split("\t")[:3], ["e1", "n", "¿Hola?"])

    def test_register_a_taken_name(self):
        taken = unique_name("Íñigo")
        self.registered("first", taken)
        late = self.installation("late")
        result = late.run("register", taken)
        self.expect(result, 1, ["Creando buzón para usuario: " + taken,
                                "Error. Ya existe el nombre de usuario: " + taken])
        self.assertIn("Usuario ya existe: No puedes usar el nombre de usario: "
                      f"{taken}\nYa existe.\n", result.err)
        settings = late.settings()
        self.assertEqual(settings["NombreUsuario"], "")
        self.assertEqual(settings["MsjsRecibidos"], "0")
        # The refused name is gone, so another one can still be chosen.
        self.expect(late.run("register", unique_name("otro")), 0)

    def test_unreachable_server(self):
        address = f"127.0.0.1:{closed_port()}/velkorant/"
        lost = self.installation("lost", address)
        self.expect(lost.run("check-server"), 1,
                    ["Conectando con servidor " + address, CONNECTION_ERROR], "")
        # A receive run stops at the mailbox check, with its box, and leaves the counter alone.
        result = lost.run("receive")
        self.expect(result, 1, [CONNECTION_ERROR], f"Error de conexión.: {CONNECTION_ERROR}\n")
        self.assertEqual(lost.settings()["MsjsRecibidos"], "0")


def closed_port():
    """Port 9 (discard) when nothing listens there, else a port this process just gave back."""
    with socket.socket() as probe:
        if probe.connect_ex(("127.0.0.1", 9)) != 0:
            return 9
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]

if __name__ == "__main__":
    unittest.main(verbosity=2)
