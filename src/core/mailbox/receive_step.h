// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a receive run does with one answer to a message-file request, decided apart from the
// fetching, decrypting and storing around it: the run's loop acts on this decision, and the same
// decision can be checked against any bytes a server might send.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mailbox/message_fetcher.h"
#include "store/message.h"

namespace velkorant {

enum class ReceiveStep {
  kStoreDecrypted,    // a message a password opens: stored by its fields
  kStoreUndecrypted,  // a message no password opens: stored as it came, for a later retry
  kLeaveOut,          // the same with the bounds of undecrypted messages reached: counted only
  kSkipJunk,          // no message, with one after it: the counter moves past it
  kStopAtJunk,        // no message and none after it: the next run looks again
  kStopAtEnd,         // no file of that number: the mailbox ends here
  kStopFailed,        // the server could not tell what is there: the run stops with an error
};

struct ReceiveDecision {
  ReceiveStep step = ReceiveStep::kStopFailed;
  std::optional<Message> record;  // what to store, for the two kStore steps
};

// What the run knows beyond the answer; each is asked only when the answer needs it.
struct ReceiveContext {
  // The record of the first password that opens the transport text into a message text.
  std::function<std::optional<Message>(std::string_view transport)> open;
  // Whether a message follows the file that is none, close enough to pass it.
  std::function<bool()> message_follows;
  // Whether an undecrypted message of this many bytes may still be stored.
  std::function<bool(std::size_t bytes)> room_for_undecrypted;
};

ReceiveDecision DecideReceiveStep(FileAnswer answer, std::string body,
                                  const ReceiveContext& context);

// A decrypted text as the record a run stores, without its password; nullopt when the text is no
// message text (a wrong password).
std::optional<Message> ReceivedRecord(std::string_view text);
// A transport text no password opens, as it is stored until one does.
Message UndecryptedRecord(std::string transport);

}  // namespace velkorant
