// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/message_id.h"

#include <algorithm>

#include "store/message_store.h"

namespace velkorant {
namespace {

constexpr char kSentLetter = 'e';
constexpr char kReceivedLetter = 'r';

}  // namespace

std::string MessageId::Code() const {
  return (enviado ? kSentLetter : kReceivedLetter) + std::to_string(numero);
}

std::optional<MessageId> MessageId::Parse(std::string_view code) {
  if (code.empty() || (code.front() != kSentLetter && code.front() != kReceivedLetter))
    return std::nullopt;
  const auto numero = MessageStore::ParseNumero(code.substr(1));
  if (!numero || *numero == 0)
    return std::nullopt;
  return MessageId{code.front() == kSentLetter, *numero};
}

std::optional<std::size_t> FindMessage(const std::vector<Message>& messages, MessageId id) {
  const auto found = std::find_if(messages.begin(), messages.end(), [id](const Message& message) {
    return MessageId::Of(message) == id;
  });
  if (found == messages.end())
    return std::nullopt;
  return static_cast<std::size_t>(found - messages.begin());
}

char ListFlag(const Message& message) {
  if (message.enviado)
    return message.flag_msj_enviado_srv ? ' ' : 'n';
  return message.flag_msj_respondido ? 'R' : ' ';
}

}  // namespace velkorant
