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
  const bool follows = data[3] & 1, room = data[3] & 2, encrypted = data[3] & 4;
  const std::string plain(reinterpret_cast<const char*>(data + 4), size - 4);
  const std::string body =
      encrypted ? EncryptTextWithPrefix("0123456789abcdef", plain, key) : plain;
  const FileAnswer answer = ClassifyFileAnswer(failure, data[1] | data[2] << 8, body);
  std::string opened;
  const ReceiveDecision decision =
      DecideReceiveStep(answer, body,
                        {[&](std::string_view transport) {
                           opened = Ciphertext(transport).TryDecrypt(key).text.value_or("");
                           return ReceivedRecord(opened);
                         },
                         [&] { return follows; }, [&](std::size_t) { return room; }});

  using enum ReceiveStep;
  const bool message = failure == DownloadFailure::kNone && CanBeTransportText(body);
  const bool stored = decision.step == kStoreDecrypted || decision.step == kStoreUndecrypted;
  FUZZ_CHECK(decision.record.has_value() == stored && (message || !stored));
  FUZZ_CHECK(decision.step != kStoreUndecrypted || (room && decision.record->cuerpo_msj == body));
  FUZZ_CHECK(decision.step != kStoreDecrypted || decision.record == ReceivedRecord(opened));
  FUZZ_CHECK(!stored || !decision.record->fecha_msj.empty());
  FUZZ_CHECK((decision.step == kSkipJunk) == (answer == FileAnswer::kJunk && follows));
  FUZZ_CHECK((decision.step == kStopAtEnd) == (failure == DownloadFailure::kHttpNotFound));
  // What the sender encrypted opens whenever it is a message text.
  FUZZ_CHECK(!encrypted || !message ||
             (decision.step == kStoreDecrypted) == IsAcceptableMessageText(plain));
  return 0;
}
