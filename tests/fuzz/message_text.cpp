// SPDX-License-Identifier: GPL-3.0-or-later
// A decrypted text of any bytes: the fields read from it hold no line end, the text built from
// them is a message text, and reading that gives the same fields back, unless a field holds a
// tag (the reader takes a tag's first occurrence, wherever it is). The body's line breaks come
// back through their markers.

#include "store/message_text.h"

#include "fuzz_check.h"

using namespace velkorant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Message message = MessageFromText(text);
  bool plain = true;
  for (const std::string* field :
       {&message.fecha_msj, &message.usuario_emisor_msj, &message.usuario_receptor_msj,
        &message.asunto_msj, &message.cuerpo_msj}) {
    FUZZ_CHECK(field->find('\n') == std::string::npos);
    for (const char* tag : {"VER:", "FEC:", "EMI:", "REC:", "ASU:", "MSJ:"})
      plain = plain && field->find(tag) == std::string::npos;
  }
  const std::string built = BuildMessageText(message);
  FUZZ_CHECK(IsAcceptableMessageText(built) && (!plain || MessageFromText(built) == message));
  FUZZ_CHECK(text.find(kLineBreakMarker) != std::string::npos ||
             DecodeLineBreaks(EncodeLineBreaks(text)) == text);
  return 0;
}
