// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The message buttons of the main view: compose a new message, answer or write again to the
// sender of a received one, forward or edit a sent one (one handler for the five), and delete.

#include <chrono>
#include <string>

#include "dialogs/compose_dialog.h"

namespace velkorant {

struct CommandContext;
class PasswordList;
struct Message;
struct Settings;

// How long a message's copy may wait for another process's write before the compose dialog says
// it could not be stored.
inline constexpr std::chrono::seconds kComposeStoreWait{10};

// What the compose dialog opens with for `command`; `current` is the message shown, if any.
ComposePresets MessageCommandPresets(int command, const Message* current, const Settings& settings,
                                     const PasswordList& passwords);

// Checks that a message can be written, runs the compose dialog, stores its message and, unless
// only "Guardar" was asked for, sends it; the stored message is then selected.
void OnMessageCommand(CommandContext& context, int command);

// Asks, then removes the current message from its store; the server is never contacted.
void DeleteCurrentMessage(CommandContext& context);

}  // namespace velkorant
