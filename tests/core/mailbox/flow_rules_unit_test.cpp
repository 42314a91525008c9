#include <gtest/gtest.h>

#include "mailbox/message_actions.h"
#include "platform/ansi_text.h"

namespace velkorant {
namespace {

// What no server flow can show: a code that counts as reached, a message file's failures, and
// the desktop program's reply subject.
TEST(FlowRules, FailureTextsAndReplySubject) {
  EXPECT_EQ(FailureText(RequestKind::kSend, kDownloadFailure), "");
  EXPECT_EQ(FailureText(RequestKind::kMessageFile, kObjectNotFound), "");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kCheck, kObjectNotFound)), "Error de conexión.");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kMessageFile, kConnectionTimeout)),
            "Error de conexión. Código de error: 800C000B");
  EXPECT_EQ(AnsiToUtf8(FailureText(RequestKind::kSend, kConnectionTimeout)),
            "No se ha podido enviar el mensaje. Código de error: 800C000B");
  EXPECT_EQ(ReplySubject("Fwd: Re: Hola"), "Fwd: Re: Hola");
}

}  // namespace
}  // namespace velkorant
