# SPDX-License-Identifier: GPL-3.0-or-later
# A user of the Windows program moves in through velkorant-cli: the registry export and message
# files it leaves, written here as regedit and the Windows program write them; then back out to
# Windows, and through a backup into a fresh installation. Against the local mailbox server.
import pathlib
import shutil
import sys
import tarfile
import tempfile
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
from cli_user import ENV, User  # noqa: E402

SHARED = "clave común «ñ»"


def regedit_export(user, counter):
    """What regedit exports of the Windows program's key: UTF-16LE with its byte-order mark."""
    root = r"HKEY_CURRENT_USER\Software\KRWTN_Software\VLKRNTS"
    lines = ["Windows Registry Editor Version 5.00", "",
             f"[{root}\\Opciones]", f'"NombreUsuario"="{user}"',
             f'"NombreServidor"="{ENV["server"]}"', '"ComentarioUsuario"="de \\"Windows\\" \\\\ yo"',
             f'"MsjsRecibidos"=dword:{counter:08x}', '"EjecPrimVez"=dword:00000000', "",
             f"[{root}\\PerfilPass\\compartido]", '"PerfilNombre"="compartido"',
             f'"Password"="{SHARED}"', '"Comentario1"="con Ana"', ""]
    return b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le")


class MoveInTest(unittest.TestCase):
    def state(self, user):
        """What a move may change: every file of the working folder, and the settings."""
        files = {p.name: p.read_bytes() for p in user.work.iterdir()}
        return files, user.run("settings")[:2], user.run("profile", "list")[:2]

    def test_moving_in_fetches_nothing_twice_and_goes_back_and_through_a_backup(self):
        folder = tempfile.TemporaryDirectory(prefix="velkorant-move-in-")
        self.root = pathlib.Path(self.enterContext(folder))
        ana, windows = (User(self.root, label, register=True) for label in ("ana", "windows"))
        for user in (ana, windows):
            user.profile("compartido", SHARED)
        for subject in ("uno", "dos"):
            ana.send(windows.name, subject, "hola")
        self.assertEqual(windows.ok("receive")[0][1], "2 nuevos mensajes")

        origin = self.root / "origen"
        origin.mkdir()
        (origin / "export.reg").write_bytes(regedit_export(windows.name, 2))
        shutil.copy(windows.work / "mensajes_recibidos.ini", origin)
        linux = User(self.root, "linux")
        before = self.state(linux)
        status, out, _ = linux.run("import-windows", str(origin), "--dry-run")
        self.assertEqual(status, 0, out)
        self.assertIn("Perfil nuevo: compartido", out)
        self.assertEqual(self.state(linux), before)
        self.assertEqual(linux.run("import-windows", str(origin), stdin="n\n")[0], 1)
        self.assertEqual(self.state(linux), before)
        self.assertEqual(linux.run("import-windows", str(origin), "--yes")[0], 0)
        self.assertEqual(linux.file("mensajes_recibidos.ini"), windows.file("mensajes_recibidos.ini"))
        # The counter came along: what is stored is not fetched again, and what is new is.
        self.assertEqual(linux.ok("receive")[0][1], "No hay nuevos mensajes")
        ana.send(windows.name, "tres", "hola")
        self.assertEqual(linux.ok("receive")[0][1], "1 nuevos mensajes")
        linux.send(ana.name, "desde Linux", "hola")

        # Back to Windows and here again: the same settings and profiles.
        _, _, warning = linux.run("export-windows", "vuelta.reg", "--with-passwords")
        self.assertIn("contraseñas en claro", warning)
        again = User(self.root, "again")
        self.assertEqual(again.run("import-windows", str(linux.work / "vuelta.reg"), "--yes")[0], 0)
        self.assertEqual(self.state(again)[1:], self.state(linux)[1:])

        # A backup into a fresh installation; a wrong passphrase or a damaged archive changes
        # nothing there.
        passphrase, wrong = self.root / "frase", self.root / "otra"
        passphrase.write_text("frase de paso larga\n")
        wrong.write_text("frase de paso mala\n")
        linux.ok("backup", "copia.tar", "--with-passwords", "--passphrase-file", str(passphrase))
        archive = linux.work / "copia.tar"
        with tarfile.open(archive) as tar:
            self.assertEqual(sorted(tar.getnames()),
                             ["MANIFIESTO.txt", "contrasenas.cifradas", "mensajes_enviados.ini",
                              "mensajes_recibidos.ini", "settings.sqlite3"])
        fresh = User(self.root, "fresh")
        before = self.state(fresh)
        damaged = self.root / "damaged.tar"
        damaged.write_bytes(archive.read_bytes()[:-3000])
        for args in ((str(archive), "--passphrase-file", str(wrong)), (str(damaged),)):
            status, out, err = fresh.run("restore", *args, "--yes")
            self.assertEqual(status, 1, out + err)
            self.assertEqual(self.state(fresh), before)
        status, out, err = fresh.run("restore", str(archive), "--yes", "--passphrase-file",
                                     str(passphrase))
        self.assertEqual(status, 0, out + err)
        for name in ("mensajes_enviados.ini", "mensajes_recibidos.ini"):
            self.assertEqual(fresh.file(name), linux.file(name), name)
        self.assertEqual(self.state(fresh)[1:], self.state(linux)[1:])
        # The restored password decrypts: the next message is read, not left undecrypted.
        ana.send(windows.name, "cuatro", "hola")
        self.assertEqual(fresh.ok("receive")[0][1], "1 nuevos mensajes")


if __name__ == "__main__":
    unittest.main()
