#include "common/box_text.h"

#include "platform/ansi_text.h"

namespace velkorant {

std::optional<BoxText> CheckFieldLength(std::string_view field_label, std::string_view text,
                                        std::size_t limit) {
  if (text.size() <= limit)
    return std::nullopt;
  return BoxText{Utf8ToAnsi("El campo '") + std::string(field_label) +
                     Utf8ToAnsi("' admite como máximo ") + std::to_string(limit) +
                     Utf8ToAnsi(" caracteres y ahora tiene ") + std::to_string(text.size()) +
                     Utf8ToAnsi(".\nAcórtalo antes de continuar."),
                 Utf8ToAnsi("Texto demasiado largo")};
}

}  // namespace velkorant
