#include <gtest/gtest.h>

#include "platform/ansi_text.h"
#include "mailbox/message_actions.h"
#include "settings/preferences_rules.h"

namespace velkorant {
namespace {

std::string Caption(const std::optional<BoxText>& box) {
  return box ? AnsiToUtf8(box->caption) : std::string("(none)");
}

TEST(ValidateMessage, ChecksInOrderAndStopsAtTheFirstFailure) {
  // Everything missing: only the receiver is reported.
  EXPECT_EQ(Caption(ValidateMessage("", "Hannah_desert", "", "", "")),
            "Falta el nombre de usuario");
  EXPECT_EQ(Caption(ValidateMessage("Hannah_desert", "Hannah_desert", "", "", "")), "Auto-mensaje");
  // Same name in another case is someone else.
  EXPECT_EQ(Caption(ValidateMessage("hannah_desert", "Hannah_desert", "", "", "")),
            "Falta el asunto del mensaje");
  EXPECT_EQ(Caption(ValidateMessage("John Sala", "Hannah_desert", " ", "", "")),
            "Falta el texto del mensaje");
  EXPECT_EQ(Caption(ValidateMessage("John Sala", "Hannah_desert", " ", " ", "")),
            "Selecciona un perfil de contraseña");
  EXPECT_FALSE(ValidateMessage("John Sala", "Hannah_desert", " ", " ", "x").has_value());

  const auto box = ValidateMessage("", "", "", "", "");
  ASSERT_TRUE(box);
  EXPECT_EQ(AnsiToUtf8(box->text),
            "Campo 'Usuario receptor' vacío.\nDebes introducir el nombre de usuario al que "
            "deseas enviar el mensaje.");
}

TEST(ComposePreconditions, UserNameThenServerThenProfiles) {
  Settings settings;
  PasswordList passwords;
  settings.user_name = "1234567";  // seven characters are not enough
  settings.server_name.clear();
  EXPECT_EQ(Caption(CheckComposePreconditions(settings, passwords)), "Falta tu nombre de usuario");
  settings.user_name = "12345678";
  EXPECT_EQ(Caption(CheckComposePreconditions(settings, passwords)),
            "Falta el nombre del servidor");
  settings.server_name = "x";
  EXPECT_EQ(Caption(CheckComposePreconditions(settings, passwords)),
            "No existen perfiles de contraseñas");
}

TEST(ComposeRules, ReplySubjectAndLengths) {
  EXPECT_EQ(ReplySubject("Hola"), "Re: Hola");
  EXPECT_EQ(ReplySubject("Fwd: Re: Hola"), "Fwd: Re: Hola");
  EXPECT_EQ(ReplySubject("RE: x"), "Re: RE: x");
  EXPECT_EQ(ReplySubject(""), "Re: ");

  EXPECT_FALSE(CheckFieldLength("Asunto", std::string(100, 'a'), kSubjectLimit).has_value());
  const auto too_long = CheckFieldLength("Asunto", std::string(101, 'a'), kSubjectLimit);
  ASSERT_TRUE(too_long);
  EXPECT_NE(AnsiToUtf8(too_long->text).find("100"), std::string::npos);

  Settings settings;
  settings.user_name = "Hannah_desert";
  const Message sent = NewSentMessage(settings, "John Sala", "s", "b", "pw", true);
  EXPECT_TRUE(sent.enviado);
  EXPECT_EQ(sent.numero, 0u);
  EXPECT_EQ(sent.usuario_emisor_msj, "Hannah_desert");
  EXPECT_FALSE(sent.flag_msj_enviado_srv);
  EXPECT_TRUE(sent.flag_msj_leido && sent.flag_msj_desencriptado && sent.flag_msj_respondido);
  EXPECT_EQ(sent.fecha_msj.size(), 19u);
}

TEST(ValidatePreferences, UserNameBeforeServer) {
  Preferences preferences;
  preferences.user_name = "1234 67";  // blanks count, but seven is too few
  preferences.server_name.clear();
  EXPECT_EQ(Caption(ValidatePreferences(preferences)), "Falta tu nombre de usuario");
  preferences.user_name = "1234 678";
  const auto server = ValidatePreferences(preferences);
  EXPECT_EQ(Caption(server), "Falta el nombre del servidor");
  ASSERT_TRUE(server);
  EXPECT_TRUE(server->text.ends_with("\n\n" + std::string(kDefaultServerAddress)));
  preferences.server_name = "cualquier cosa";
  EXPECT_FALSE(ValidatePreferences(preferences).has_value());
}

}  // namespace
}  // namespace velkorant
