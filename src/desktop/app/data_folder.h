// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The per-user folder the desktop launcher starts the program in, so that the message stores
// do not land in whatever folder the launcher happened to run from.

#include <QString>

namespace velkorant {

// $XDG_DATA_HOME/velkorant, or ~/.local/share/velkorant when XDG_DATA_HOME is unset or not an
// absolute path (as the XDG base directory rules say). Empty when neither variable helps.
QString UserDataFolder();

// Creates the folder when it is missing (readable by the user only; missing parents as usual)
// and makes it the working directory. On failure `error` says why and nothing else changed.
bool EnterUserDataFolder(QString& error);

}  // namespace velkorant
