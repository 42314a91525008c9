#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# The transport format against an independent implementation: the reference side is written from
# the format's description with Python's `cryptography` package (PBKDF2HMAC, AES-CBC, PKCS #7);
# the other side is velkorant-cli. Every case goes both ways.
import hashlib, secrets, string, subprocess, sys, tempfile, unittest  # noqa: E401

from cryptography.hazmat.primitives import hashes, padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC

CLI = sys.argv.pop(1) if len(sys.argv) > 1 else "velkorant-cli"


def aes(password: bytes):
    block = PBKDF2HMAC(hashes.SHA512(), 64, hashlib.sha512(password).digest(), 8000).derive(password)
    return Cipher(algorithms.AES(block[:32]), modes.CBC(block[32:48]))


def reference_encrypt(plain: bytes, password: bytes, prefix: bytes) -> str:
    padder, encryptor = padding.PKCS7(128).padder(), aes(password).encryptor()
    data = encryptor.update(padder.update(prefix + plain) + padder.finalize()) + encryptor.finalize()
    return data.hex().upper()


def reference_decrypt(transport: str, password: bytes) -> bytes:
    decryptor, unpadder = aes(password).decryptor(), padding.PKCS7(128).unpadder()
    data = decryptor.update(bytes.fromhex(transport)) + decryptor.finalize()
    return (unpadder.update(data) + unpadder.finalize())[16:]


def cli(command, password, stdin: bytes) -> bytes:
    with tempfile.NamedTemporaryFile() as password_file:
        password_file.write(password.encode() + b"\n")
        password_file.flush()
        return subprocess.run([CLI, command, "--password-file", password_file.name], input=stdin,
                              capture_output=True, timeout=60, check=True).stdout


class TransportInterop(unittest.TestCase):
    def test_both_ways(self):
        # Texts and passwords as the user types them; the wire carries their Windows-1252 bytes.
        for password in ["clave compartida", "contraseña€"]:
            # The last text: every character Windows-1252 defines from 80 on, as Python maps it.
            for text in ["", "a" * 15, "b" * 16, "c" * 17,
                         ("Señor Müller: ¿qué tal el café? 25 € — «Œuvre» Ÿ\r\n" * 20)[:800],
                         bytes(range(0x80, 0x100)).decode("cp1252", "ignore")]:
                with self.subTest(password=password, length=len(text)):
                    plain, key = text.encode("cp1252"), password.encode("cp1252")
                    transport = cli("encrypt", password, text.encode()).decode()
                    self.assertRegex(transport, r"^([0-9A-F]{32})+\n$")
                    self.assertEqual(len(transport) - 1, 32 * (len(plain) // 16 + 2))
                    self.assertEqual(reference_decrypt(transport[:-1], key), plain)
                    prefix = "".join(secrets.choice(string.ascii_letters) for _ in range(16))
                    transport = reference_encrypt(plain, key, prefix.encode())
                    self.assertEqual(cli("decrypt", password, transport.encode()), text.encode())


if __name__ == "__main__":
    unittest.main(verbosity=2)
