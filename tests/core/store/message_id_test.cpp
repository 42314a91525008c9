// SPDX-License-Identifier: GPL-3.0-or-later
// A message's code: what the list shows and `velkorant-cli show` takes, and the list's "R" flag.

#include "store/message_id.h"

#include <gtest/gtest.h>

namespace velkorant {
namespace {

TEST(MessageIdTest, CodesReadBackOnlyAsTheListWritesThem) {
  const std::pair<const char*, MessageId> codes[] = {
      {"e12", {true, 12}},
      {"r3", {false, 3}},
      {"r2147483647", {false, 2147483647}},
      {"e0000000007", {true, 7}},  // ten digits
  };
  for (const auto& [code, id] : codes) {
    SCOPED_TRACE(code);
    EXPECT_EQ(MessageId::Parse(code), id);
    EXPECT_EQ(MessageId::Parse(id.Code()), id);
  }
  EXPECT_EQ((MessageId{true, 12}.Code()), "e12");
  EXPECT_EQ((MessageId{false, 3}.Code()), "r3");
  // Eleven digits; past the highest number a file holds; wrapping to 1 in 32 bits; no number;
  // another letter or case; a sign, a blank or a second code.
  for (const char* refused : {"e00000000007", "r2147483648", "r4294967297", "e0", "e", "", "E1",
                              "x1", "e+1", "e-1", "e 1", "e1 ", "e1r2"}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(MessageId::Parse(refused), std::nullopt);
  }
}

TEST(MessageIdTest, FlagAndPlaceFollowTheMessage) {
  struct Case {
    const char* name;
    bool enviado, on_server, answered;
    char flag;
  };
  const Case cases[] = {
      {"sent, on the server", true, true, false, ' '},
      {"sent, not taken yet", true, false, true, 'n'},
      {"received, answered", false, false, true, 'R'},
      {"received, not answered", false, true, false, ' '},
  };
  std::vector<Message> messages;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Message message;
    message.numero = 4;
    message.enviado = c.enviado;
    message.flag_msj_enviado_srv = c.on_server;
    message.flag_msj_respondido = c.answered;
    EXPECT_EQ(ListFlag(message), c.flag);
    messages.push_back(message);
  }
  // The first of each kind with that number.
  EXPECT_EQ(FindMessage(messages, {false, 4}), 2u);
  EXPECT_EQ(FindMessage(messages, {true, 4}), 0u);
  EXPECT_EQ(FindMessage(messages, {true, 5}), std::nullopt);
}

}  // namespace
}  // namespace velkorant
