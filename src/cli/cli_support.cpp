// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli_support.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/ansi_text.h"
#include "platform/secure_text.h"
#include "platform/unique_fd.h"

namespace velkorant::cli {

Arguments::Arguments(const std::vector<std::string>& args,
                     std::vector<std::string_view> value_options,
                     std::vector<std::string_view> repeatable,
                     std::vector<std::string_view> flags) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      positional_.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name =
        arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const bool flag = std::find(flags.begin(), flags.end(), name) != flags.end();
    if (flag && equals == std::string::npos && !Option(name)) {
      options_.emplace_back(name, "");
      continue;
    }
    if (std::find(value_options.begin(), value_options.end(), name) == value_options.end()) {
      if (flag) {
        error_ = "la opción --" + name +
                 (equals == std::string::npos ? " se ha dado más de una vez" : " no lleva valor");
        return;
      }
      error_ = "opción desconocida: --" + name;
      return;
    }
    if (Option(name) && std::find(repeatable.begin(), repeatable.end(), name) == repeatable.end()) {
      error_ = "la opción --" + name + " se ha dado más de una vez";
      return;
    }
    if (equals != std::string::npos) {
      options_.emplace_back(name, arg.substr(equals + 1));
    } else if (i + 1 < args.size()) {
      options_.emplace_back(name, args[++i]);
    } else {
      error_ = "la opción --" + name + " necesita un valor";
      return;
    }
  }
}

std::optional<std::string> Arguments::Option(std::string_view name) const {
  std::optional<std::string> value;
  for (const auto& [key, v] : options_) {
    if (key == name)
      value = v;
  }
  return value;
}

std::vector<std::string> Arguments::Options(std::string_view name) const {
  std::vector<std::string> values;
  for (const auto& [key, v] : options_) {
    if (key == name)
      values.push_back(v);
  }
  return values;
}

int Fail(Streams& io, std::string_view message, int status) {
  io.err << "velkorant-cli: " << Printable(message) << '\n';
  return status;
}

PasswordPlace MovePasswords(SettingsStore& store, Streams& io) {
  const PasswordMove move = MovePasswordsToKeyring(store);
  // A database that cannot be used is told by the command itself, once.
  if (move.place == PasswordPlace::kUnavailable && store.ok()) {
    io.err << "velkorant-cli: no se han podido pasar las contraseñas de los perfiles al llavero "
              "del escritorio: "
           << AnsiToUtf8(store.DescribeProblem(move.outcome)) << '\n';
  }
  return move.place;
}

std::string NoSuchProfile(std::string_view name) {
  return "no hay ningún perfil de contraseña llamado " + std::string(name);
}

int Usage(Streams& io, std::string_view usage) {
  return Fail(io, "uso: velkorant-cli " + std::string(usage), kExitUsage);
}

std::string Printable(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  char escaped[16];
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0;
    if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      out += escaped;
    } else if (c == 0xC2 && next >= 0x80 && next <= 0x9F) {
      std::snprintf(escaped, sizeof escaped, "\\u{%04X}", next);
      out += escaped;
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ReadAll(std::istream& in) {
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return std::move(buffer).str();
}

std::optional<std::string> ReadPasswordFile(const std::string& path, Streams& io) {
  // Not blocking, so that opening a FIFO does not wait for a writer before it is refused.
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  struct stat info {};
  if (!fd.valid() || ::fstat(fd.get(), &info) != 0) {
    Fail(io, "no se puede leer el archivo de contraseña " + path);
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    const char* what = S_ISDIR(info.st_mode)                            ? "una carpeta"
                       : S_ISFIFO(info.st_mode)                         ? "una tubería"
                       : S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode) ? "un dispositivo"
                                                                        : "otra cosa";
    Fail(io, "el archivo de contraseña " + path + " no es un archivo normal, sino " + what);
    return std::nullopt;
  }
  // One byte past the limit tells a file that is too long, without reading the rest of it.
  std::string content(kMaxPasswordFileSize + 1, '\0');
  std::size_t size = 0;
  bool failed = false;
  while (size < content.size()) {
    const ssize_t got = ::read(fd.get(), content.data() + size, content.size() - size);
    if (got < 0 && errno == EINTR)
      continue;
    failed = got < 0;
    if (got <= 0)
      break;
    size += static_cast<std::size_t>(got);
  }
  if (failed) {
    Fail(io, "no se puede leer el archivo de contraseña " + path);
    return std::nullopt;
  }
  if (size > kMaxPasswordFileSize) {
    Fail(io, "el archivo de contraseña " + path + " tiene más de " +
                 std::to_string(kMaxPasswordFileSize) + " bytes: no es una contraseña");
    return std::nullopt;
  }
  content.resize(size);
  if (!content.empty() && content.back() == '\n') {
    content.pop_back();
    if (!content.empty() && content.back() == '\r')
      content.pop_back();
  }
  auto password = Utf8ToAnsiExact(content);
  Wipe(content);
  if (!password) {
    Fail(io, "el archivo de contraseña " + path +
                 " no es texto UTF-8 de caracteres que Windows-1252 tenga: la contraseña "
                 "cambiaría por el camino y el otro lado nunca podría desencriptar");
  }
  return password;
}

}  // namespace velkorant::cli
