// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What composing and sending a message asks of the program, shared by the desktop program's
// compose commands and the command-line companion: the preconditions and checks with their
// message boxes, the stored record, and the store-then-send sequence.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/box_text.h"
#include "mailbox/mailbox_client.h"
#include "settings/password_profiles.h"
#include "settings/settings_store.h"
#include "store/message_store.h"

namespace velkorant {

// Field limits of the compose dialog, in characters (a line break counts two).
inline constexpr std::size_t kReceiverLimit = 100;
inline constexpr std::size_t kSubjectLimit = 100;
inline constexpr std::size_t kBodyLimit = 800;

// A user name, a server and a password profile must exist before a message can be written.
std::optional<BoxText> CheckComposePreconditions(const Settings& settings,
                                                 const PasswordList& passwords);

// The compose dialog's checks, in their order; the first failure's box, or nullopt.
std::optional<BoxText> ValidateMessage(std::string_view receiver, std::string_view own_user_name,
                                       std::string_view subject, std::string_view body,
                                       std::string_view password);

// "Re: " in front of the subject, unless it already holds "Re: " somewhere.
std::string ReplySubject(std::string_view subject);

// The sent message a compose command stores.
Message NewSentMessage(const Settings& settings, std::string receiver, std::string subject,
                       std::string body, std::string password, bool reply);

struct SendOutcome {
  std::uint32_t numero = 0;  // where the message was stored; 0 when it could not be
  bool sent = false;         // the server accepted it
};

// Asks whether the receiver's mailbox exists, sends the stored copy `record` (its numero set)
// and marks it as accepted; a failed send shows its box. While this runs no receive run may
// start. True when the server accepted it.
bool SendStoredMessage(MailboxClient& client, MessageStore& store, const Message& record);

// Stores the record (a box says why when it cannot be) and, when `send` is set, sends the stored
// copy: a message is never on the server without its copy here.
SendOutcome StoreAndSend(MailboxClient& client, MessageStore& store, Message record, bool send);

}  // namespace velkorant
