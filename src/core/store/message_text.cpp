// SPDX-License-Identifier: GPL-3.0-or-later
#include "store/message_text.h"

namespace velkorant {
namespace {

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  std::size_t start = 0;
  for (std::size_t hit; (hit = text.find(from, start)) != std::string_view::npos;) {
    out.append(text, start, hit - start);
    out.append(to);
    start = hit + from.size();
  }
  out.append(text, start);
  return out;
}

}  // namespace

std::string EncodeLineBreaks(std::string_view body) {
  return ReplaceAll(body, "\r\n", kLineBreakMarker);
}

std::string DecodeLineBreaks(std::string_view body) {
  return ReplaceAll(body, kLineBreakMarker, "\r\n");
}

std::string BuildMessageText(const Message& message) {
  const std::string body = EncodeLineBreaks(message.cuerpo_msj);
  std::string text;
  text.reserve(40 + message.fecha_msj.size() + message.usuario_emisor_msj.size() +
               message.usuario_receptor_msj.size() + message.asunto_msj.size() + body.size());
  const auto line = [&text](std::string_view tag, std::string_view value) {
    text.append(tag).append(value).push_back('\n');
  };
  line("VER:", kMessageFormatVersion);
  line("FEC:", message.fecha_msj);
  line("EMI:", message.usuario_emisor_msj);
  line("REC:", message.usuario_receptor_msj);
  line("ASU:", message.asunto_msj);
  line("MSJ:", body);
  return text;
}

std::string ExtractField(std::string_view text, std::string_view tag) {
  const std::size_t start = text.find(tag);
  if (start == std::string_view::npos)
    return {};
  const std::size_t end = text.find('\n', start);
  if (end == std::string_view::npos)
    return {};
  const std::size_t value_start = start + tag.size();
  // A tag that ends in a line feed itself would put the end before the value.
  if (end < value_start)
    return {};
  return std::string(text.substr(value_start, end - value_start));
}

bool IsAcceptableMessageText(std::string_view text) {
  return text.size() > 30 && !ExtractField(text, "VER:").empty();
}

Message MessageFromText(std::string_view text) {
  Message message;
  message.fecha_msj = ExtractField(text, "FEC:");
  message.usuario_emisor_msj = ExtractField(text, "EMI:");
  message.usuario_receptor_msj = ExtractField(text, "REC:");
  message.asunto_msj = ExtractField(text, "ASU:");
  message.cuerpo_msj = ExtractField(text, "MSJ:");
  return message;
}

std::string MessageTimestamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char buffer[32];
  const std::size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer, length);
}

}  // namespace velkorant
