#pragma once

// The checks the preferences must pass before they are stored, with their message boxes.

#include <optional>
#include <string>

#include "server/message_actions.h"
#include "settings/settings_store.h"

namespace velkorant {

// The user name first (at least 8 characters), then a non-empty server name.
std::optional<BoxText> ValidatePreferences(const Preferences& preferences);

}  // namespace velkorant
