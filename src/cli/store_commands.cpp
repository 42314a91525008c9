// SPDX-License-Identifier: GPL-3.0-or-later
// list, show: the message store of the working directory, as the message list shows it.

#include <optional>
#include <ostream>

#include "cli.h"
#include "cli_support.h"
#include "platform/ansi_text.h"
#include "store/message_id.h"
#include "store/message_store.h"

namespace velkorant::cli {
namespace {

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

int List(const std::vector<std::string>& args, Streams& io) {
  if (!args.empty())
    return Usage(io, "list");
  MessageStore store;
  if (!Load(store, io))
    return kExitFailure;
  for (const Message& message : store.messages()) {
    io.out << MessageId::Of(message).Code() << '\t' << ListFlag(message) << '\t'
           << Cell(message.asunto_msj) << '\t' << Cell(message.usuario_emisor_msj) << '\t'
           << Cell(message.usuario_receptor_msj) << '\t' << Cell(message.fecha_msj) << '\n';
  }
  return kExitOk;
}

int Show(const std::vector<std::string>& args, Streams& io) {
  if (args.size() != 1)
    return Usage(io, "show CÓDIGO");
  const auto id = MessageId::Parse(args.front());
  MessageStore store;
  if (!Load(store, io))
    return kExitFailure;
  const auto index = id ? FindMessage(store.messages(), *id) : std::nullopt;
  if (!index)
    return Fail(io, "no hay ningún mensaje " + args.front() + " en esta carpeta");
  const Message* found = &store.messages()[*index];

  const auto field = [&io](std::string_view key, std::string_view ansi) {
    io.out << key << ": " << Printable(AnsiToUtf8(ansi)) << '\n';
  };
  const auto flag = [&io](std::string_view key, bool value) {
    io.out << key << ": " << (value ? "1" : "0") << '\n';
  };
  field("codigo", MessageId::Of(*found).Code());
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
