// SPDX-License-Identifier: GPL-3.0-or-later
// A message's code: what the list shows and `velkorant-cli show` takes.

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
  // Eleven digits; past the highest number a file holds; wrapping to 1 in 32 bits; no number;
  // another letter or case; a sign, a blank or a second code.
  for (const char* refused : {"e00000000007", "r2147483648", "r4294967297", "e0", "e", "", "E1",
                              "x1", "e+1", "e-1", "e 1", "e1 ", "e1r2"}) {
    SCOPED_TRACE(refused);
    EXPECT_EQ(MessageId::Parse(refused), std::nullopt);
  }
}

}  // namespace
}  // namespace velkorant
