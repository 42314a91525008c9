#include "store/message_text.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "crypto/message_cipher.h"

namespace velkorant {
namespace {

Message Sample() {
  Message m;
  m.fecha_msj = "2024-03-07 09:05:00";
  m.usuario_emisor_msj = "Hannah_desert";
  m.usuario_receptor_msj = "John Sala";
  m.asunto_msj = "A\xF1o nuevo";
  m.cuerpo_msj = "uno\r\ndos";
  m.password_msj = "no viaja";
  return m;
}

TEST(MessageText, BuildsSixTaggedLines) {
  EXPECT_EQ(BuildMessageText(Sample()),
            "VER:v1.1a\nFEC:2024-03-07 09:05:00\nEMI:Hannah_desert\nREC:John Sala\n"
            "ASU:A\xF1o nuevo\nMSJ:unoretflddos\n");
  const std::string empty = BuildMessageText(Message{});
  EXPECT_EQ(empty, "VER:v1.1a\nFEC:\nEMI:\nREC:\nASU:\nMSJ:\n");
  EXPECT_EQ(empty.size(), 35u);
  EXPECT_TRUE(IsAcceptableMessageText(empty));
}

TEST(MessageText, LineBreakMarkers) {
  EXPECT_EQ(EncodeLineBreaks("a\r\nb\r\r\nc\n\rd"), "aretfldb\rretfldc\n\rd");
  EXPECT_EQ(DecodeLineBreaks("unoretflddos retfld"), "uno\r\ndos \r\n");
  // A lone line feed survives the writer but cuts the body at the reader.
  const std::string text = BuildMessageText([] {
    Message m = Sample();
    m.cuerpo_msj = "antes\ndespues";
    return m;
  }());
  EXPECT_EQ(ExtractField(text, "MSJ:"), "antes");
}

TEST(MessageText, ExtractFieldTakesTheFirstOccurrenceAnywhere) {
  Message m = Sample();
  m.usuario_emisor_msj = "Eve ASU:falso";
  const std::string text = BuildMessageText(m);
  EXPECT_EQ(ExtractField(text, "ASU:"), "falso");
  EXPECT_EQ(ExtractField(text, "REC:"), "John Sala");
  EXPECT_EQ(ExtractField("VER:v1\nMSJ:sin final", "MSJ:"), "");
  EXPECT_EQ(ExtractField("VER:v1\n", "FEC:"), "");
  EXPECT_EQ(ExtractField("", "VER:"), "");
}

TEST(MessageText, AcceptanceCheck) {
  // More than 30 characters and a non-empty version are both needed.
  EXPECT_FALSE(IsAcceptableMessageText("VER:v1.1a\nFEC:\nEMI:\nREC:\nAS"));  // 30 characters
  EXPECT_TRUE(IsAcceptableMessageText("VER:x\n" + std::string(25, '.')));
  EXPECT_FALSE(IsAcceptableMessageText("VER:\nFEC:\nEMI:\nREC:\nASU:\nMSJ:something long\n"));
  EXPECT_FALSE(IsAcceptableMessageText(std::string(100, 'z')));

  const Message fields = MessageFromText("VER:x\nyyyyyyyyyyyyyyyyyyyyyyyyyyyyy");
  EXPECT_EQ(fields, Message{});
}

TEST(MessageText, SurvivesEncryptionWithItsFields) {
  const Message original = Sample();
  const std::string text = DecryptText(EncryptText(BuildMessageText(original), "clave1234"),
                                       "clave1234");
  ASSERT_TRUE(IsAcceptableMessageText(text));
  const Message back = MessageFromText(text);
  EXPECT_EQ(back.fecha_msj, original.fecha_msj);
  EXPECT_EQ(back.usuario_emisor_msj, original.usuario_emisor_msj);
  EXPECT_EQ(back.usuario_receptor_msj, original.usuario_receptor_msj);
  EXPECT_EQ(back.asunto_msj, original.asunto_msj);
  EXPECT_EQ(back.cuerpo_msj, "unoretflddos");  // markers turn back into line breaks in the store
  EXPECT_EQ(DecodeLineBreaks(back.cuerpo_msj), original.cuerpo_msj);
}

TEST(MessageText, TimestampIsLocalTime) {
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(MessageTimestamp(1709802300), "2024-03-07 09:05:00");
  setenv("TZ", "CET-1", 1);
  tzset();
  EXPECT_EQ(MessageTimestamp(1709802300), "2024-03-07 10:05:00");
  if (old) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  EXPECT_EQ(MessageTimestamp().size(), 19u);
}

}  // namespace
}  // namespace velkorant
