// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/known_values.h"

#include "settings/settings_store.h"

namespace velkorant {
namespace {

constexpr KnownValue Text(std::string_view name, std::string_view default_text = {}) {
  return {name, false, 0, default_text};
}
constexpr KnownValue Integer(std::string_view name, std::int32_t default_integer) {
  return {name, true, default_integer, {}};
}

constexpr KnownValue kOptionValues[] = {
    Text("NombreUsuario"),
    Text("ComentarioUsuario"),
    Text("NombreServidor", kDefaultServerAddress),
    Text("DescripcionServidor"),
    Integer("AutoMsjInicio", 0),
    Integer("AutoMsjTiempo", 0),
    Integer("ReproSonidos", 1),
    Integer(kReceivedCounterEntry, 0),
    Integer(kFirstRunEntry, 1),
};

constexpr KnownValue kProfileValues[] = {
    Text("PerfilNombre"), Text("Password"),    Text("Comentario1"),
    Text("Comentario2"),  Text("Comentario3"), Text("Comentario4"),
};

}  // namespace

std::span<const KnownValue> OptionValues() {
  return kOptionValues;
}

std::span<const KnownValue> ProfileValues() {
  return kProfileValues;
}

}  // namespace velkorant
