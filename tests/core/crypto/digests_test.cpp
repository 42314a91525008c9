#include "crypto/digests.h"

#include <gtest/gtest.h>

namespace velkorant {
namespace {

TEST(Sha256Hex, MatchesFips180Examples) {
  // FIPS 180-4 / NIST CSRC example values.
  EXPECT_EQ(Sha256Hex(""), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
  EXPECT_EQ(Sha256Hex("abc"), "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248D6A61D20638B8E5C026930C3E6039A33CE45964FF2167F6ECEDD419DB06C1");
}

TEST(MailboxFolderName, IsFirstTenDigitsOfTheExactBytes) {
  EXPECT_EQ(MailboxFolderName("abc"), "BA7816BF8F");
  EXPECT_EQ(MailboxFolderName(""), "E3B0C44298");
  // Letter case and blanks are part of the name.
  EXPECT_NE(MailboxFolderName("Hannah_desert"), MailboxFolderName("hannah_desert"));
  EXPECT_NE(MailboxFolderName("Hannah_desert"), MailboxFolderName("Hannah_desert "));
  // Windows-1252 bytes are digested as they are: "\xF1" is one byte, not UTF-8.
  EXPECT_EQ(MailboxFolderName("\xF1"), Sha256Hex("\xF1").substr(0, 10));
  EXPECT_NE(MailboxFolderName("\xF1"), MailboxFolderName("\xC3\xB1"));
}

TEST(Crc32Hex, IsLeastSignificantByteFirst) {
  EXPECT_EQ(Crc32Hex(""), "00000000");
  EXPECT_EQ(Crc32Hex("abc"), "C2412435");        // CRC-32 0x352441C2
  EXPECT_EQ(Crc32Hex("123456789"), "2639F4CB");  // the CRC-32 check value 0xCBF43926
  EXPECT_NE(Crc32Hex("password"), Crc32Hex("password "));
}

}  // namespace
}  // namespace velkorant
