// SPDX-License-Identifier: GPL-3.0-or-later
// A receive run's decision on one answer: its failure cause, HTTP status and body from the input
// (the body is sometimes first encrypted with the run's one key, so that opening it is tried).
// Only a file that can be a transport text is ever stored; an undecrypted one is stored byte for
// byte; an opened one is its text's fields; junk is passed only with a message after it.

#include "mailbox/receive_step.h"

#include "crypto/message_cipher.h"
#include "fuzz_check.h"
#include "store/message_text.h"

using namespace velkorant;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const DerivedKey key = DeriveKeyAndIv("clave de prueba");
  if (size < 4)
    return 0;
  const auto failure = static_cast<DownloadFailure>(data[0] % 12);
  const long status = data[1] | data[2] << 8;
  const bool follows = (data[3] & 1) != 0;
  const bool room = (data[3] & 2) != 0;
  const std::string plain = FuzzBytes(data + 4, size - 4);
  const bool encrypted = (data[3] & 4) != 0;
  const std::string body =
      encrypted ? EncryptTextWithPrefix("0123456789abcdef", plain, key) : plain;

  const FileAnswer answer = ClassifyFileAnswer(failure, status, body);
  int opened = 0;
  int asked_follows = 0;
  std::optional<std::string> decrypted;
  const ReceiveContext context{[&](std::string_view transport) {
                                 ++opened;
                                 decrypted = Ciphertext(transport).TryDecrypt(key).text;
                                 return decrypted ? ReceivedRecord(*decrypted) : std::nullopt;
                               },
                               [&] { return ++asked_follows, follows; },
                               [&](std::size_t) { return room; }};
  const ReceiveDecision decision = DecideReceiveStep(answer, body, context);

  const bool message = failure == DownloadFailure::kNone && CanBeTransportText(body);
  FUZZ_CHECK((answer == FileAnswer::kMessage) == message);
  FUZZ_CHECK(opened == (message ? 1 : 0));
  FUZZ_CHECK(asked_follows == (answer == FileAnswer::kJunk ? 1 : 0));
  FUZZ_CHECK(decision.record.has_value() == (decision.step == ReceiveStep::kStoreDecrypted ||
                                             decision.step == ReceiveStep::kStoreUndecrypted));
  switch (decision.step) {
    case ReceiveStep::kStoreDecrypted:
      FUZZ_CHECK(message && decrypted && IsAcceptableMessageText(*decrypted));
      FUZZ_CHECK(!decision.record->fecha_msj.empty() && decision.record->flag_msj_desencriptado);
      FUZZ_CHECK(decision.record->cuerpo_msj == ExtractField(*decrypted, "MSJ:"));
      break;
    case ReceiveStep::kStoreUndecrypted:
      FUZZ_CHECK(message && room && decision.record->cuerpo_msj == body);
      FUZZ_CHECK(!decision.record->flag_msj_desencriptado);
      break;
    case ReceiveStep::kLeaveOut:
      FUZZ_CHECK(message && !room);
      break;
    case ReceiveStep::kSkipJunk:
    case ReceiveStep::kStopAtJunk:
      FUZZ_CHECK(answer == FileAnswer::kJunk &&
                 follows == (decision.step == ReceiveStep::kSkipJunk));
      break;
    case ReceiveStep::kStopAtEnd:
      FUZZ_CHECK(failure == DownloadFailure::kHttpNotFound);
      break;
    case ReceiveStep::kStopFailed:
      FUZZ_CHECK(!message && answer != FileAnswer::kJunk && answer != FileAnswer::kAbsent);
      break;
  }
  // What the sender encrypted is opened whenever it is a message text.
  if (encrypted && message)
    FUZZ_CHECK((decision.step == ReceiveStep::kStoreDecrypted) == IsAcceptableMessageText(plain));
  return 0;
}
