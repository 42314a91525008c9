#pragma once

// The two configuration commands of the main view: the password profiles (menu 1503 and button
// 1001) and the preferences (menu 1502).

namespace velkorant {

struct CommandContext;

// After OK the password list is rebuilt and undecrypted messages are tried again; after a
// deletion only the list is rebuilt, so a deleted profile's password is no longer used.
void OnPasswordProfiles(CommandContext& context);

// A name confirmed while none was set is registered on the server (and forgotten again when the
// server refuses it), and the received-message counter starts over.
void OnPreferences(CommandContext& context);

}  // namespace velkorant
