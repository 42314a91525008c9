// SPDX-License-Identifier: GPL-3.0-or-later
#include "common/box_text.h"

#include "platform/ansi_text.h"

namespace velkorant {

std::optional<BoxText> CheckFieldLength(std::string_view field_label, std::string_view text,
                                        std::size_t limit) {
  if (text.size() <= limit)
    return std::nullopt;
  return BoxText{Ansi("El campo '") + std::string(field_label) + Ansi("' admite como máximo ") +
                     std::to_string(limit) + Ansi(" caracteres y ahora tiene ") +
                     std::to_string(text.size()) + Ansi(".\nAcórtalo antes de continuar."),
                 Ansi("Texto demasiado largo")};
}

}  // namespace velkorant
