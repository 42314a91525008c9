// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The two configuration commands of the main view: the password profiles (a menu command and a
// button) and the preferences (a menu command).

namespace velkorant {

struct CommandContext;

// After OK the password list is rebuilt and undecrypted messages are tried again; after a
// deletion only the list is rebuilt, so a deleted profile's password is no longer used.
void OnPasswordProfiles(CommandContext& context);

// A name confirmed while none was set is registered on the server (and forgotten again when the
// server refuses it), and the received-message counter starts over.
void OnPreferences(CommandContext& context);

}  // namespace velkorant
