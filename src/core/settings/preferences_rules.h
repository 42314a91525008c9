// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The checks the preferences must pass before they are stored, with their message boxes.

#include <optional>
#include <string>

#include "common/box_text.h"
#include "settings/settings_store.h"

namespace velkorant {

// Field limits of the preferences dialog, in characters.
inline constexpr std::size_t kUserNameLimit = 40;
inline constexpr std::size_t kMinimumUserNameLength = 8;
inline constexpr std::size_t kPreferencesTextLimit = 100;  // comment, server, description

// The fields' lengths, in the dialog's order: the first one over its limit gives its box.
std::optional<BoxText> CheckPreferencesLengths(const Preferences& preferences);

// The user name first (at least 8 characters), then a non-empty server name.
std::optional<BoxText> ValidatePreferences(const Preferences& preferences);

}  // namespace velkorant
