#include "platform/ansi_text.h"

#include <gtest/gtest.h>

namespace velkorant {
namespace {

TEST(AnsiText, TheDefinedCharactersOf80To9F) {
  // Microsoft's table for code page 1252; the five undefined bytes keep their value.
  const char32_t expected[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  int defined = 0;
  for (int byte = 0x80; byte <= 0x9F; ++byte) {
    const char32_t cp = expected[byte - 0x80];
    EXPECT_EQ(AnsiToUnicode(static_cast<unsigned char>(byte)), cp) << std::hex << byte;
    EXPECT_EQ(UnicodeToAnsi(cp), byte) << std::hex << byte;
    defined += cp != static_cast<char32_t>(byte);
  }
  EXPECT_EQ(defined, 27);
}

TEST(AnsiText, EveryByteRoundTripsThroughUtf8AndUtf16) {
  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(all)), all);
}

TEST(AnsiText, SpanishLettersAndTheEuro) {
  EXPECT_EQ(AnsiToUtf8("\xF1"), "\xC3\xB1");  // ñ
  EXPECT_EQ(Utf8ToAnsi("\xC3\xB1"), "\xF1");
  EXPECT_EQ(Utf8ToAnsi("a\xC3\xA9\xE2\x82\xAC"), "a\xE9\x80");  // aé€
  EXPECT_EQ(AnsiToUtf16("\x80\xF1"), u"\u20AC\u00F1");
}

TEST(AnsiText, BestFitThenQuestionMark) {
  EXPECT_EQ(Utf8ToAnsi("\xC5\x81\xC3\xB3""d\xC5\xBA"), "L\xF3" "dz");  // Łódź
  EXPECT_EQ(Utf8ToAnsi("\xC5\x90"), "O");                           // Ő
  EXPECT_EQ(Utf8ToAnsi("\xE2\x80\x90"), "-");                       // hyphen U+2010
  EXPECT_EQ(Utf8ToAnsi("\xE2\x82\x83"), "3");                       // subscript three
  EXPECT_EQ(Utf8ToAnsi("\xEF\xBC\xA1"), "A");                       // fullwidth A
  EXPECT_EQ(Utf8ToAnsi("\xE4\xBD\xA0\xE5\xA5\xBD"), "??");          // 你好
  EXPECT_EQ(Utf8ToAnsi("\xF0\x9F\x98\x80"), "?");                   // one emoji, one '?'
  EXPECT_EQ(Utf16ToAnsi(u"\U0001F600x"), "?x");
}

TEST(AnsiText, MalformedInputBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToAnsi("a\xC3"), "a?");              // truncated
  EXPECT_EQ(Utf8ToAnsi("\xC0\xAF"), "??");           // overlong '/'
  EXPECT_EQ(Utf8ToAnsi("\xED\xA0\x80z"), "???z");    // encoded surrogate
  EXPECT_EQ(Utf8ToAnsi("\xFF\xFE"), "??");
  const std::u16string lone_surrogate = {0xD800, u'b'};
  EXPECT_EQ(Utf16ToAnsi(lone_surrogate), "?b");
}

}  // namespace
}  // namespace velkorant
