#pragma once

// The messages the crash-safety writer saves: each is known from its index alone, so the test can
// tell a complete message from a torn one.

#include <cstdint>
#include <string>

#include "store/message.h"

namespace velkorant::testing {

inline Message CrashMessage(std::uint64_t index) {
  const std::string n = std::to_string(index);
  Message m;
  m.enviado = index % 3 != 0;
  m.fecha_msj = "2024-01-01 00:00:" + n;
  m.usuario_emisor_msj = "emisor " + n;
  m.usuario_receptor_msj = "receptor\xF1 " + n;
  m.asunto_msj = "asunto " + n;
  // Bodies of different lengths, so that rewrites end at different offsets.
  for (std::uint64_t line = 0; line <= index % 40; ++line) {
    m.cuerpo_msj += "l\xEDnea " + std::to_string(line) + " del mensaje " + n + "\r\n";
  }
  m.password_msj = "clave " + n;
  m.flag_msj_enviado_srv = index % 2 == 0;
  m.flag_msj_desencriptado = !m.enviado;
  m.flag_msj_leido = index % 5 == 0;
  return m;
}

}  // namespace velkorant::testing
