// list, show: the message store of the working directory, as the message list shows it.

#include <charconv>
#include <optional>
#include <ostream>

#include "cli/cli.h"
#include "cli/cli_support.h"
#include "platform/ansi_text.h"
#include "store/message_store.h"

namespace velkorant::cli {
namespace {

std::string MessageCode(const Message& message) {
  return (message.enviado ? "e" : "r") + std::to_string(message.numero);
}

// The "R" column: answered for a received message, not yet on the server ("n") for a sent one.
std::string_view FlagsColumn(const Message& message) {
  if (message.enviado)
    return message.flag_msj_enviado_srv ? " " : "n";
  return message.flag_msj_respondido ? "R" : " ";
}

// One cell of a tab-separated line: a tab inside a text would shift the columns.
std::string Cell(std::string_view ansi) {
  std::string utf8 = AnsiToUtf8(ansi);
  for (char& c : utf8) {
    if (c == '\t' || c == '\n')
      c = ' ';
  }
  return Printable(utf8);
}

// Loads the working directory's store; false (said on standard error) when a file of it is
// there but cannot be read, which must not pass for an empty store.
bool Load(MessageStore& store, Streams& io) {
  if (store.LoadMessageStore())
    return true;
  Fail(io, "no se puede leer " + std::string(kSentMessagesFile) + " o " +
               std::string(kReceivedMessagesFile) + " en esta carpeta");
  return false;
}

std::optional<std::pair<bool, std::uint32_t>> ParseCode(std::string_view code) {
  if (code.size() < 2 || (code.front() != 'e' && code.front() != 'r'))
    return std::nullopt;
  const std::string_view digits = code.substr(1);
  if (digits.size() > 10)
    return std::nullopt;
  // Unsigned: a sign is refused like any other character that is not a digit.
  std::uint64_t numero = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), numero);
  if (error != std::errc() || end != digits.data() + digits.size() || numero == 0 ||
      numero > MessageStore::kHighestNumero)
    return std::nullopt;
  return std::pair(code.front() == 'e', static_cast<std::uint32_t>(numero));
}

int List(const std::vector<std::string>& args, Streams& io) {
  if (!args.empty())
    return Usage(io, "list");
  MessageStore store;
  if (!Load(store, io))
    return kExitFailure;
  for (const Message& message : store.messages()) {
    io.out << MessageCode(message) << '\t' << FlagsColumn(message) << '\t'
           << Cell(message.asunto_msj) << '\t' << Cell(message.usuario_emisor_msj) << '\t'
           << Cell(message.usuario_receptor_msj) << '\t' << Cell(message.fecha_msj) << '\n';
  }
  return kExitOk;
}

int Show(const std::vector<std::string>& args, Streams& io) {
  if (args.size() != 1)
    return Usage(io, "show CÓDIGO");
  const auto code = ParseCode(args.front());
  MessageStore store;
  if (!Load(store, io))
    return kExitFailure;
  const Message* found = nullptr;
  if (code) {
    for (const Message& message : store.messages()) {
      if (message.enviado == code->first && message.numero == code->second) {
        found = &message;
        break;
      }
    }
  }
  if (found == nullptr)
    return Fail(io, "no hay ningún mensaje " + args.front() + " en esta carpeta");

  const auto field = [&io](std::string_view key, std::string_view ansi) {
    io.out << key << ": " << Printable(AnsiToUtf8(ansi)) << '\n';
  };
  const auto flag = [&io](std::string_view key, bool value) {
    io.out << key << ": " << (value ? "1" : "0") << '\n';
  };
  field("codigo", MessageCode(*found));
  field("fecha_msj", found->fecha_msj);
  field("usuario_emisor_msj", found->usuario_emisor_msj);
  field("usuario_receptor_msj", found->usuario_receptor_msj);
  field("asunto_msj", found->asunto_msj);
  field("password_hash", found->password_msj);
  if (found->enviado) {
    flag("flag_msj_enviado_srv", found->flag_msj_enviado_srv);
  } else {
    flag("flag_msj_leido", found->flag_msj_leido);
    flag("flag_msj_desencriptado", found->flag_msj_desencriptado);
    flag("flag_msj_respondido", found->flag_msj_respondido);
  }
  // The body's CR LF line breaks become the terminal's.
  std::string body = AnsiToUtf8(found->cuerpo_msj);
  std::string lines;
  lines.reserve(body.size());
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
      continue;
    lines.push_back(body[i]);
  }
  io.out << '\n' << Printable(lines) << '\n';
  return kExitOk;
}

constexpr Command kCommands[] = {
    {"list", "",
     "escribe el listado de mensajes de la carpeta de trabajo: código, R, asunto, emisor, "
     "receptor y fecha (separados por tabuladores)",
     &List},
    {"show", "CÓDIGO", "escribe un mensaje (código e<n> si es enviado, r<n> si es recibido)",
     &Show},
};

}  // namespace

std::span<const Command> StoreCommands() {
  return kCommands;
}

}  // namespace velkorant::cli
