// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The move commands of "Archivo": importing from the Windows program, exporting for it, a backup
// and its restore. The files are chosen here; reading and writing them runs as a server flow,
// after the one under way, so the window never waits on a file, a lock or the keyring.

namespace velkorant {

struct CommandContext;

// An import and a restore list what they would change and ask first; afterwards the window reads
// the settings, the password profiles and the messages again.
void OnImportWindows(CommandContext& context);
void OnRestore(CommandContext& context);
// Passwords go into an export only when asked, after the warning that they go in clear; into a
// backup only sealed with a passphrase.
void OnExportWindows(CommandContext& context);
void OnBackup(CommandContext& context);

}  // namespace velkorant
