// SPDX-License-Identifier: GPL-3.0-or-later
// encrypt, decrypt, folder, fingerprint: the cipher and digests on the terminal.

#include <ostream>

#include "cli.h"
#include "cli_support.h"
#include "crypto/digests.h"
#include "crypto/message_cipher.h"
#include "platform/ansi_text.h"

namespace velkorant::cli {
namespace {

// The password of --password-file; nullopt after a message, with `status` the exit status: a
// wrong command line, or a file that cannot give a password.
std::optional<std::string> PasswordFromOptions(const std::vector<std::string>& args, Streams& io,
                                               int& status) {
  const Arguments arguments(args, {"password-file"});
  status = kExitUsage;
  if (!arguments.ok()) {
    Fail(io, arguments.error(), kExitUsage);
    return std::nullopt;
  }
  if (!arguments.positional().empty()) {
    Fail(io, "argumento de más: " + arguments.positional().front(), kExitUsage);
    return std::nullopt;
  }
  const auto path = arguments.Option("password-file");
  if (!path) {
    Fail(io, kPasswordFileRequired, kExitUsage);
    return std::nullopt;
  }
  status = kExitFailure;
  auto password = ReadPasswordFile(*path, io);
  // No password at all, as a file given by mistake would give: every message it encrypted could
  // be read by anyone.
  if (password && password->empty()) {
    Fail(io, "el archivo de contraseña " + *path + " está vacío: no hay contraseña");
    return std::nullopt;
  }
  return password;
}

int Encrypt(const std::vector<std::string>& args, Streams& io) {
  int status = kExitOk;
  const auto password = PasswordFromOptions(args, io, status);
  if (!password)
    return status;
  io.out << EncryptText(Utf8ToAnsi(ReadAll(io.in)), *password) << '\n';
  return kExitOk;
}

int Decrypt(const std::vector<std::string>& args, Streams& io) {
  int status = kExitOk;
  const auto password = PasswordFromOptions(args, io, status);
  if (!password)
    return status;
  // Standard output carries the plain text only; the library's reason goes into our message.
  const Decrypted plain = TryDecryptTextWithKey(ReadAll(io.in), DeriveKeyAndIv(*password));
  if (!plain.ok()) {
    std::string message =
        "no se ha podido desencriptar: la contraseña no es la del texto o el "
        "texto está dañado";
    // The library's reasons a user can meet, in the language of the rest of the line.
    if (plain.failure == DecryptFailure::kBadLength)
      message += " (su longitud no es múltiplo de 16 bytes)";
    else if (plain.failure == DecryptFailure::kBadPadding)
      message += " (su relleno final no es válido)";
    else if (!plain.library_text.empty())
      message += " (" + plain.library_text + ")";
    return Fail(io, message);
  }
  // Byte for byte into a pipe or a file; on a terminal its controls are shown, not obeyed.
  io.out << (io.out_is_terminal ? Printable(AnsiToUtf8(*plain.text)) : AnsiToUtf8(*plain.text));
  return kExitOk;
}

int Folder(const std::vector<std::string>& args, Streams& io) {
  if (args.size() != 1)
    return Usage(io, "folder NOMBRE");
  io.out << MailboxFolderName(Utf8ToAnsi(args.front())) << '\n';
  return kExitOk;
}

int Fingerprint(const std::vector<std::string>& args, Streams& io) {
  int status = kExitOk;
  const auto password = PasswordFromOptions(args, io, status);
  if (!password)
    return status;
  io.out << Crc32Hex(*password) << '\n';
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"encrypt", "--password-file F",
     "encripta la entrada estándar; escribe el texto de transporte y un salto de línea", &Encrypt},
    {"decrypt", "--password-file F", "desencripta un texto de transporte de la entrada estándar",
     &Decrypt},
    {"folder", "NOMBRE", "escribe el nombre de la carpeta del buzón de un nombre de usuario",
     &Folder},
    {"fingerprint", "--password-file F", "escribe la huella de una contraseña", &Fingerprint},
};

}  // namespace

std::span<const Command> CipherCommands() {
  return kCommands;
}

}  // namespace velkorant::cli
