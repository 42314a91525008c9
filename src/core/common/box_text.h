// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Message boxes that the checks of the flows and dialogs return, for the caller to show through
// UiServices::ShowMessageBox. Texts are Windows-1252.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velkorant {

struct BoxText {
  std::string text;
  std::string caption;
};

// A text over its field's limit (possible only through a preset or a script).
std::optional<BoxText> CheckFieldLength(std::string_view field_label, std::string_view text,
                                        std::size_t limit);

}  // namespace velkorant
