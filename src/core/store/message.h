// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace velkorant {

// One stored message. Texts are 8-bit Windows-1252; line breaks in the body are "\r\n".
struct Message {
  std::uint32_t numero = 0;  // section number in its file; 0 = not stored yet
  std::string fecha_msj;
  std::string usuario_emisor_msj;
  std::string usuario_receptor_msj;
  std::string asunto_msj;
  std::string cuerpo_msj;
  // Into SaveMessage: the plain password. After a load: its stored fingerprint.
  std::string password_msj;
  bool enviado = false;
  bool flag_msj_enviado_srv = false;
  bool flag_msj_leido = false;
  bool flag_msj_desencriptado = false;
  bool flag_msj_respondido = false;

  bool operator==(const Message&) const = default;
};

}  // namespace velkorant
