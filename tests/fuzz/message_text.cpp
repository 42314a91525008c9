// SPDX-License-Identifier: GPL-3.0-or-later
// A decrypted text of any bytes: the fields read from it hold no line end, the text built from
// them is a message text, and reading that gives the same fields back, unless a field holds a
// tag (the reader takes a tag's first occurrence, wherever it is). The body's line breaks come
// back through their markers.

#include "store/message_text.h"

#include <array>
#include <string_view>

#include "fuzz_check.h"

using namespace velkorant;

namespace {

bool HoldsTag(const std::string& field) {
  constexpr std::array<std::string_view, 6> kTags = {
      "VER:", "FEC:", "EMI:", "REC:", "ASU:", "MSJ:"};
  for (const std::string_view tag : kTags) {
    if (field.find(tag) != std::string::npos)
      return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = FuzzBytes(data, size);
  if (IsAcceptableMessageText(text))
    FUZZ_CHECK(text.size() > 30 && !ExtractField(text, "VER:").empty());
  const Message message = MessageFromText(text);
  bool plain = true;
  for (const std::string* field :
       {&message.fecha_msj, &message.usuario_emisor_msj, &message.usuario_receptor_msj,
        &message.asunto_msj, &message.cuerpo_msj}) {
    FUZZ_CHECK(field->find('\n') == std::string::npos);
    plain = plain && !HoldsTag(*field);
  }
  const std::string built = BuildMessageText(message);
  FUZZ_CHECK(IsAcceptableMessageText(built));
  if (plain)
    FUZZ_CHECK(MessageFromText(built) == message);
  if (text.find(kLineBreakMarker) == std::string::npos)
    FUZZ_CHECK(DecodeLineBreaks(EncodeLineBreaks(text)) == text);
  return 0;
}
