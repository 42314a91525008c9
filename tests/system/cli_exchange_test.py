# SPDX-License-Identifier: GPL-3.0-or-later
# Users exchange messages through velkorant-cli and the local mailbox server; their stores,
# settings and mailbox files are checked byte for byte.
import concurrent.futures
import datetime
import os
import pathlib
import pty
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from cli_user import CLI, DATA, User, crc, folder_of, section  # noqa: E402

# Terminal controls in a message (ESC sequences, OSC 52 clipboard writes by ESC and by C1, BEL,
# DEL) reach the terminal escaped; tab and line feed stay.
SUBJECT, BODY = "Cena \x1b[2J\x1b[31mroja", "Hola\tBea,\n\x1b]52;c;eA==\x07 y \x9d52;c;eA==\x07\x7f"
SHOWN = ("Cena \\x1B[2J\\x1B[31mroja",
         "Hola\tBea,\n\\x1B]52;c;eA==\\x07 y \\u{009D}52;c;eA==\\x07\\x7F")


class ExchangeTest(unittest.TestCase):
    def setUp(self):
        root = self.enterContext(tempfile.TemporaryDirectory(prefix="velkorant-exchange-"))
        self.user = lambda label, **kwargs: User(root, label, **kwargs)

    def send(self, sender, to, subject, body, profile="compartido", code=0):
        """A send's terminal lines and standard error; for one that went out, the transport text
        in the receiver's mailbox and the stored message's date."""
        began = datetime.datetime.now().replace(microsecond=0)
        lines, err = sender.send(getattr(to, "name", to), subject, body, profile, code)
        if code:
            return lines, err
        count = len(list((DATA / to.folder).glob("msj_*")))
        transport = (DATA / to.folder / f"msj_{count}_datos.cry").read_text()
        self.assertEqual(lines, ["Enviando mensaje ...", "Mensaje enviado correctamente",
                                 f"Bytes enviados: {len(transport)}",
                                 f"SRV: Mensaje {count} guardado"])
        dates = re.findall(rb"fecha_msj=(.*)\r\n", sender.file("mensajes_enviados.ini"))
        self.assertEqual(err, f"velkorant-cli: guardado como e{len(dates)}\n")
        self.assertLessEqual(began, datetime.datetime.fromisoformat(dates[-1].decode()))
        return transport, dates[-1].decode()

    def test_two_users_exchange_messages(self):
        ana, bea = self.user("ana", register=True), self.user("bea", register=True)
        shared, private = "clave común «ñ€»", "sólo entre «nosotros» €"
        ana.profile("compartido", shared)
        bea.profile("compartido", shared)
        transport, date = self.send(ana, bea, SUBJECT, BODY)
        self.assertEqual(bea.ok("receive")[0], ["Comprobando mensajes para " + bea.name,
                                                "1 nuevos mensajes"])
        _, reply_date = self.send(bea, ana, "Re: Cena", "¡Sí!\nLlevo «vino».")
        self.assertEqual(ana.ok("receive")[0][1], "1 nuevos mensajes")
        first = (date, bea.name, ana.name, SUBJECT, BODY, crc(shared))
        reply = (reply_date, ana.name, bea.name, "Re: Cena", "¡Sí!\nLlevo «vino».", crc(shared))
        received = section("recibido", 1, *first, 0, 0, 1, 0)
        self.assertEqual((ana.file("mensajes_enviados.ini"), ana.file("mensajes_recibidos.ini"),
                          bea.file("mensajes_enviados.ini"), bea.file("mensajes_recibidos.ini")),
                         (section("enviado", 1, *first, 1, 1, 1, 0),
                          section("recibido", 1, *reply, 0, 0, 1, 0),
                          section("enviado", 1, *reply, 1, 1, 1, 0), received))
        self.assertEqual(bea.run("list")[1],
                         f"e1\t \tRe: Cena\t{bea.name}\t{ana.name}\t{reply_date}\n"
                         f"r1\t \t{SHOWN[0]}\t{ana.name}\t{bea.name}\t{date}\n")
        self.assertEqual(bea.run("show", "r1")[1], (
            f"codigo: r1\nfecha_msj: {date}\nusuario_emisor_msj: {ana.name}\nusuario_receptor_msj: "
            f"{bea.name}\nasunto_msj: {SHOWN[0]}\npassword_hash: {crc(shared)}\nflag_msj_leido: 0\n"
            f"flag_msj_desencriptado: 1\nflag_msj_respondido: 0\n\n{SHOWN[1]}\n"))
        self.assertEqual(bea.run("show", "e2")[0], 1, "no such message")
        # To a terminal, decrypt escapes them too; a pipe gets the text as it was sent.
        leader, follower = pty.openpty()
        subprocess.run([CLI, "decrypt", "--password-file", ana.work.parent / "compartido"],
                       input=transport.encode(), stdout=follower, timeout=60, check=True)
        os.close(follower)
        # The message text as every installation lays it out, line by line.
        self.assertEqual(os.read(leader, 1 << 16).decode().replace("\r\n", "\n"),
                         f"VER:v1.1a\nFEC:{date}\nEMI:{ana.name}\nREC:{bea.name}\nASU:{SHOWN[0]}\n"
                         f"MSJ:{SHOWN[1].replace(chr(10), 'retfld')}\n")
        os.close(leader)

        # A profile only the sender has: the message waits undecrypted until the receiver adds it.
        ana.profile("privado", private)
        secret, secret_date = self.send(ana, bea, "Secreto", "Uno\nDos", "privado")
        self.assertEqual(bea.ok("receive")[0][1], "1 nuevos mensajes, 1 sin desencriptar")
        self.assertEqual(bea.file("mensajes_recibidos.ini"), received + section(
            "recibido", 2, "?", "?", "?", "<sin desencriptar>", secret, crc("?"), 0, 1, 0, 0))
        self.assertEqual(bea.ok("retry"), ([], ""))
        bea.profile("privado", private)
        self.assertEqual([bea.ok("retry"), bea.ok("retry")],
                         [(["1 nuevos mensajes desencriptados"], ""), ([], "")])
        self.assertEqual(bea.file("mensajes_recibidos.ini"), received + section(
            "recibido", 2, secret_date, bea.name, ana.name, "Secreto", "Uno\nDos", crc(private),
            0, 0, 1, 0))
        self.assertEqual(bea.ok("receive")[0][1], "No hay nuevos mensajes")

        # A taken name is refused and not kept, so that another can be chosen.
        late = self.user("late")
        self.assertEqual(late.ok("register", ana.name, code=1)[0][1],
                         "Error. Ya existe el nombre de usuario: " + ana.name)
        self.assertIn("NombreUsuario: \n", late.run("settings")[1])
        late.ok("register", late.name)
        # A message whose copy cannot be stored is not sent.
        kept = ana.file("mensajes_enviados.ini")
        (ana.work / "mensajes_enviados.ini").chmod(0o400)
        lines, err = self.send(ana, late, "Hola", "Hola", code=1)
        self.assertRegex(err, r"así que no se ha enviado\.\n\nMotivo: .*mensajes_enviados\.ini")
        self.assertEqual((lines, list((DATA / late.folder).glob("msj_*"))), ([], []))
        (ana.work / "mensajes_enviados.ini").chmod(0o600)
        self.assertEqual(ana.file("mensajes_enviados.ini"), kept)
        # A receiver without a mailbox: the message is kept, marked as not sent.
        self.assertEqual(self.send(ana, "Nadie_" + late.name, "Hola", "Hola", code=1)[0],
                         ["Error. No existe el usuario Nadie_" + late.name])
        self.assertFalse((DATA / folder_of("Nadie_" + late.name)).exists())
        self.assertEqual(ana.run("list")[1].splitlines()[2].split("\t")[:3], ["e3", "n", "Hola"])
        self.user("lost", server="127.0.0.1:9/velkorant/").ok("receive", code=1)

    def test_processes_in_one_folder(self):
        user = self.user("busy", register=True)
        with concurrent.futures.ThreadPoolExecutor(3) as pool:
            codes = pool.map(lambda _: [user.run(command)[0] for _ in range(10)
                                        for command in ("check-server", "receive")], range(3))
            self.assertEqual(sum(codes, []), [0] * 60, "each answer stays with its request")


if __name__ == "__main__":
    unittest.main(verbosity=2)
