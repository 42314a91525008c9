// SPDX-License-Identifier: GPL-3.0-or-later
#include "mailbox/receive_step.h"

#include <utility>

#include "store/message_text.h"

namespace velkorant {

ReceiveDecision DecideReceiveStep(FileAnswer answer, std::string body,
                                  const ReceiveContext& context) {
  switch (answer) {
    case FileAnswer::kMessage:
      if (std::optional<Message> record = context.open(body))
        return {ReceiveStep::kStoreDecrypted, std::move(record)};
      if (!context.room_for_undecrypted(body.size()))
        return {ReceiveStep::kLeaveOut, std::nullopt};
      return {ReceiveStep::kStoreUndecrypted, UndecryptedRecord(std::move(body))};
    case FileAnswer::kJunk:
      // Skipped only with a message after it: so the mailbox's own junk cannot stop receiving
      // for ever, and a host's page for every number never moves the counter.
      return {context.message_follows() ? ReceiveStep::kSkipJunk : ReceiveStep::kStopAtJunk,
              std::nullopt};
    case FileAnswer::kAbsent:
      return {ReceiveStep::kStopAtEnd, std::nullopt};
    case FileAnswer::kBusy:
    case FileAnswer::kLost:
    case FileAnswer::kFailed:
      break;
  }
  return {ReceiveStep::kStopFailed, std::nullopt};
}

std::optional<Message> ReceivedRecord(std::string_view text) {
  if (!IsAcceptableMessageText(text))
    return std::nullopt;
  Message record = MessageFromText(text);
  // A section without a date counts as missing when the stores are read, here and by the
  // Windows program: the message would be counted and never shown.
  if (record.fecha_msj.empty())
    record.fecha_msj = "?";
  record.flag_msj_desencriptado = true;
  return record;
}

Message UndecryptedRecord(std::string transport) {
  Message record;
  record.fecha_msj = "?";
  record.usuario_emisor_msj = "?";
  record.usuario_receptor_msj = "?";
  record.asunto_msj = "<sin desencriptar>";
  record.cuerpo_msj = std::move(transport);
  record.password_msj = "?";
  record.flag_msj_leido = true;  // nothing to read yet: not shown as new
  return record;
}

}  // namespace velkorant
