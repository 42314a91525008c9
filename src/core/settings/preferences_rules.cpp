// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/preferences_rules.h"

#include <tuple>

#include "platform/ansi_text.h"

namespace velkorant {

std::optional<BoxText> CheckPreferencesLengths(const Preferences& preferences) {
  for (const auto& [label, text, limit] :
       {std::tuple{"Tu nombre de usuario", &preferences.user_name, kUserNameLimit},
        std::tuple{"Comentario", &preferences.user_comment, kPreferencesTextLimit},
        std::tuple{"Nombre del servidor", &preferences.server_name, kPreferencesTextLimit},
        std::tuple{"Descripción", &preferences.server_description, kPreferencesTextLimit}}) {
    if (auto refused = CheckFieldLength(Ansi(label), *text, limit))
      return refused;
  }
  return std::nullopt;
}

std::optional<BoxText> ValidatePreferences(const Preferences& preferences) {
  if (preferences.user_name.size() < kMinimumUserNameLength) {
    return BoxText{Ansi("Introduce el nombre de usuario que quieres tener.\nDebe ser un "
                        "nombre de al menos 8 caracteres.\n\nEjemplos:\nHannah_desert\nJohn "
                        "Sala\nStar_Lord\nMandoLong"),
                   "Falta tu nombre de usuario"};
  }
  if (preferences.server_name.empty()) {
    return BoxText{Ansi("Introduce el nombre del servidor que almacena los mensajes.\n\n"
                        "Ejemplo:\nmensajeria.ejemplo.es/mensajes/ \n\nPor defecto debes "
                        "usar:\n\n") +
                       std::string(kDefaultServerAddress),
                   "Falta el nombre del servidor"};
  }
  return std::nullopt;
}

}  // namespace velkorant
