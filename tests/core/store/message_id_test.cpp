// A message's code: what the list shows and `velkorant-cli show` takes, and the list's "R" flag.

#include "store/message_id.h"

#include <gtest/gtest.h>

namespace velkorant {
namespace {

TEST(MessageIdTest, CodesReadBackOnlyAsTheListWritesThem) {
  struct Case {
    const char* code;
    std::optional<MessageId> id;
  };
  const Case cases[] = {
      {"e12", MessageId{true, 12}},
      {"r3", MessageId{false, 3}},
      {"r2147483647", MessageId{false, 2147483647}},
      {"e0000000007", MessageId{true, 7}},  // ten digits
      {"e00000000007", std::nullopt},       // eleven
      {"r2147483648", std::nullopt},        // past the highest number a file holds
      {"r4294967297", std::nullopt},        // wraps to 1 in 32 bits
      {"e0", std::nullopt},
      {"e", std::nullopt},
      {"E1", std::nullopt},
      {"x1", std::nullopt},
      {"e+1", std::nullopt},
      {"e-1", std::nullopt},
      {"e 1", std::nullopt},
      {"e1 ", std::nullopt},
      {"e1r2", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(MessageId::Parse(c.code), c.id);
    if (c.id) {
      EXPECT_EQ(MessageId::Parse(c.id->Code()), c.id);
    }
  }
  EXPECT_EQ((MessageId{true, 12}.Code()), "e12");
  EXPECT_EQ((MessageId{false, 3}.Code()), "r3");
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
