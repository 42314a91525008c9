// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A message's identity across the stores, the message list and the command line: sent or
// received, and its number in that kind's file. Its code is "e12" for sent message 12 and "r3"
// for received message 3, as the list shows it and `velkorant-cli show` takes it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/message.h"

namespace velkorant {

struct MessageId {
  bool enviado = false;
  std::uint32_t numero = 0;

  static MessageId Of(const Message& message) { return {message.enviado, message.numero}; }
  // "e" or "r", then the number in decimal.
  std::string Code() const;
  // A code as Code() writes it, leading zeros allowed up to ten digits; nothing for any other
  // text: another letter, a sign or a space, number 0 or one past MessageStore::kHighestNumero.
  static std::optional<MessageId> Parse(std::string_view code);

  bool operator==(const MessageId&) const = default;
};

// Where the message with this identity stands in `messages`, if it is there.
std::optional<std::size_t> FindMessage(const std::vector<Message>& messages, MessageId id);

// The list's "R" column: 'R' for a received message that was answered, 'n' for a sent one the
// server has not taken yet, else ' '.
char ListFlag(const Message& message);

}  // namespace velkorant
