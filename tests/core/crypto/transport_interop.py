#!/usr/bin/env python3
"""The transport format against an independent implementation.

The reference side below is written from the format's description with Python's `cryptography`
package (PBKDF2HMAC, AES-CBC, PKCS #7); the other side is velkorant-cli. Each case goes both ways:
encrypted by one side, decrypted by the other.
"""
import hashlib
import os
import secrets
import string
import subprocess
import sys
import tempfile
import unittest

from cryptography.hazmat.primitives import hashes, padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
from cryptography.hazmat.primitives.kdf.pbkdf2 import PBKDF2HMAC

CLI = sys.argv.pop(1) if len(sys.argv) > 1 else "velkorant-cli"
ALPHABET = string.ascii_letters + string.digits


def derive(password: bytes):
    salt = hashlib.sha512(password).digest()
    block = PBKDF2HMAC(algorithm=hashes.SHA512(), length=64, salt=salt, iterations=8000).derive(password)
    return block[:32], block[32:48]


def reference_encrypt(plain: bytes, password: bytes, prefix: bytes = b"") -> str:
    key, iv = derive(password)
    prefix = prefix or "".join(secrets.choice(ALPHABET) for _ in range(16)).encode()
    padder = padding.PKCS7(128).padder()
    data = padder.update(prefix + plain) + padder.finalize()
    encryptor = Cipher(algorithms.AES(key), modes.CBC(iv)).encryptor()
    return (encryptor.update(data) + encryptor.finalize()).hex().upper()


def reference_decrypt(transport: str, password: bytes) -> bytes:
    key, iv = derive(password)
    digits = "".join(c for c in transport if c in string.hexdigits)
    decryptor = Cipher(algorithms.AES(key), modes.CBC(iv)).decryptor()
    data = decryptor.update(bytes.fromhex(digits)) + decryptor.finalize()
    unpadder = padding.PKCS7(128).unpadder()
    plain = unpadder.update(data) + unpadder.finalize()
    assert len(plain) >= 16
    return plain[16:]


class TransportInterop(unittest.TestCase):
    # Texts as the user types them; the wire carries their Windows-1252 bytes.
    TEXTS = [
        "",
        "a" * 15,
        "b" * 16,
        "c" * 17,
        ("Señor Müller: ¿qué tal el café? 25 € — «Œuvre» Ÿ\r\n" * 20)[:800],
        "VER:v1.1a\nFEC:2024-03-07 09:05:00\nEMI:Hannah_desert\nREC:John Sala\nASU:Año nuevo\nMSJ:unoretflddos\n",
    ]
    PASSWORDS = ["", "clave compartida", "contraseña€"]

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.tmp.cleanup()

    def password_file(self, password: str) -> str:
        path = os.path.join(self.tmp.name, "password")
        with open(path, "wb") as f:
            f.write(password.encode("utf-8") + b"\n")
        return path

    def cli(self, command, password, stdin: bytes) -> bytes:
        result = subprocess.run([CLI, command, "--password-file", self.password_file(password)],
                                input=stdin, capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        return result.stdout

    def test_cli_encrypts_reference_decrypts(self):
        for password in self.PASSWORDS:
            for text in self.TEXTS:
                with self.subTest(password=password, length=len(text)):
                    transport = self.cli("encrypt", password, text.encode("utf-8")).decode()
                    self.assertTrue(transport.endswith("\n"))
                    transport = transport[:-1]
                    self.assertEqual(len(transport), 32 * (len(text.encode("cp1252")) // 16 + 2))
                    self.assertRegex(transport, r"^[0-9A-F]*$")
                    self.assertEqual(reference_decrypt(transport, password.encode("cp1252")),
                                     text.encode("cp1252"))

    def test_reference_encrypts_cli_decrypts(self):
        for password in self.PASSWORDS:
            for text in self.TEXTS:
                with self.subTest(password=password, length=len(text)):
                    transport = reference_encrypt(text.encode("cp1252"), password.encode("cp1252"))
                    plain = self.cli("decrypt", password, transport.encode())
                    self.assertEqual(plain.decode("utf-8"), text)

    def test_cli_refuses_wrong_password(self):
        # A fixed prefix: with a random one a wrong password passes the padding check once in 256.
        transport = reference_encrypt(b"texto secreto de prueba", b"la buena", b"abcdefgh12345678")
        result = subprocess.run([CLI, "decrypt", "--password-file", self.password_file("la mala")],
                                input=transport.encode(), capture_output=True, timeout=60)
        self.assertEqual(result.returncode, 1)
        self.assertNotIn(b"texto secreto", result.stdout)
        self.assertIn(b"decryption failed", result.stderr)


if __name__ == "__main__":
    unittest.main(verbosity=2)
