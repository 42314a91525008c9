// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The values the program keeps below its key, with their types and defaults: what an import
// takes, an export writes and a backup carries.

#include <cstdint>
#include <span>
#include <string_view>

namespace velkorant {

struct KnownValue {
  std::string_view name;
  bool integer = false;  // a 32-bit DWORD; otherwise text
  std::int32_t default_integer = 0;
  std::string_view default_text;
};

// The nine values of "Opciones", in the order the program reads them.
std::span<const KnownValue> OptionValues();
// The six texts of each profile's section (all empty by default), in the order it writes them.
std::span<const KnownValue> ProfileValues();

}  // namespace velkorant
