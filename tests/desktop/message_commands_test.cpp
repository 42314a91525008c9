// The main window's message buttons and its two configuration commands, worked through the
// real dialogs. The server address points at a closed local port, so any request would leave a
// terminal line; the tests that must not contact a server check that none appeared.

#include "view/message_commands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>
#include <fstream>
#include <iterator>

#include "crypto/digests.h"
#include "crypto/message_cipher.h"
#include "dialog_controls.h"
#include "dialog_script.h"
#include "main_window_fixture.h"
#include "platform/ini_file.h"
#include "dialogs/compose_dialog.h"
#include "settings/password_profiles.h"
#include "store/message_text.h"

namespace velkorant::testing {
namespace {

constexpr const char* kClosedServer = "127.0.0.1:1/velkorant/";
constexpr const char* kPassword = "clave compartida";

class CommandsTest : public MainWindowTest {
 protected:
  void SetUp() override {
    SampleSettings sample;
    sample.server = kClosedServer;
    WriteSettings(sample);
    SettingsStore store;
    // "Aaa" is listed (its nested "Aaa\\Sub" holds the password) before "Amigos", but has no
    // entry of its own in the password list.
    WriteProfile(store, "Aaa\\Sub", {"Aaa\\Sub", "clave anidada", "", "", "", ""});
    WriteProfile(store, "Amigos", {"Amigos", kPassword, "", "", "", ""});
  }

  void StartWith(const std::vector<Message>& messages) {
    StoreMessages(messages);
    Start(&script_);
    ASSERT_TRUE(WaitForStartupTimer());
    startup_lines_ = TerminalLines().size();
  }

  // The message as stored now.
  std::optional<Message> Stored(bool sent, std::uint32_t numero) {
    MessageStore store(".");
    store.LoadMessageStore();
    for (const Message& message : store.messages()) {
      if (message.enviado == sent && message.numero == numero)
        return message;
    }
    return std::nullopt;
  }
  std::size_t StoredCount() {
    MessageStore store(".");
    store.LoadMessageStore();
    return store.messages().size();
  }

  // A key of a sent message as its file holds it (the store reads no answered flag back for
  // sent messages).
  static std::string SentFlag(std::uint32_t numero, std::string_view key) {
    std::ifstream file(std::string(kSentMessagesFile), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return IniDocument::Parse(std::move(bytes))
        .GetString("mensaje_enviado_" + std::to_string(numero), key, "absent");
  }

  bool NoServerContacted() const { return TerminalLines().size() == startup_lines_; }
  QString ReadingText() const { return Find<QTextEdit>(1125)->toPlainText(); }

  DialogScript script_;
  qsizetype startup_lines_ = 0;
};

using MessageCommandsTest = CommandsTest;

TEST_F(MessageCommandsTest, PreconditionsStopTheCommandBeforeTheDialog) {
  SampleSettings short_name;
  short_name.user_name = "Hannah_";  // 7 characters
  short_name.server = kClosedServer;
  WriteSettings(short_name);
  StartWith({Received("Ana_garcia", "Cena", "2024-03-02 10:00:00", true)});
  QTest::mouseClick(Find<QPushButton>(1164), Qt::LeftButton);
  ClickRow(QStringLiteral("r1"));
  QTest::mouseClick(Find<QPushButton>(1160), Qt::LeftButton);
  QTest::mouseClick(Find<QPushButton>(1161), Qt::LeftButton);
  ASSERT_EQ(script_.events.size(), 3u);
  for (const RunnerEvent& event : script_.events) {
    EXPECT_EQ(event.caption, U("Falta tu nombre de usuario"));
    EXPECT_EQ(event.text, U("No has definido tu nombre de usuario.\nNo puedes redactar mensajes "
                            "sin tu nombre de usuario remitente.\nUsa la opción "
                            "'Configuración/Preferencias' de la barra de menú."));
    EXPECT_EQ(event.type, kBoxOkQuestion);
  }

  SampleSettings no_server;
  no_server.server = "";
  WriteSettings(no_server);
  view()->ReloadSettings();
  script_.events.clear();
  QTest::mouseClick(Find<QPushButton>(1164), Qt::LeftButton);
  EXPECT_EQ(script_.Captions(), std::vector<QString>{U("Falta el nombre del servidor")});

  WriteSettings(SampleSettings{.server = kClosedServer});
  view()->ReloadSettings();
  DeleteProfile(view()->settings_store(), "Amigos");
  DeleteProfile(view()->settings_store(), "Aaa\\Sub");
  view()->passwords().LoadPasswordList(view()->settings_store());
  script_.events.clear();
  QTest::mouseClick(Find<QPushButton>(1164), Qt::LeftButton);
  ASSERT_EQ(script_.Captions(), std::vector<QString>{U("No existen perfiles de contraseñas")});
  EXPECT_EQ(script_.events[0].text,
            U("No hay definido ningún perfil de contraseña. No puedes redactar mensajes sin "
              "disponer de contraseñas de encriptación.\nUsa la sección 'Perfiles de "
              "contraseñas' para añadir contraseñas."));
  EXPECT_EQ(StoredCount(), 1u);
}

TEST_F(MessageCommandsTest, EachCommandPresetsTheDialogAndCancelStoresNothing) {
  Message unknown = Received("Carlos_ruiz", "RE: x", "2024-03-03 10:00:00", true);
  unknown.password_msj = "una clave que nadie tiene";
  StartWith({
      Sent("Jos\xE9_Mar\xEDn", "Fotos", "2024-03-01 09:00:00", true),
      Sent("Luisa_sanz", "Borrador", "2024-03-01 09:30:00", false),
      Received("Ana_garcia", "Re: Cena", "2024-03-02 10:00:00", true),
      unknown,
  });

  struct Case {
    QString code;
    int command;
    QString receiver;
    QString subject;
    QString body;
    QString profile;  // empty: none chosen
    bool reply;
  };
  const std::vector<Case> cases = {
      {"r1", kCommandCompose, "", "", "", "", false},
      {"r1", kCommandReply, "Ana_garcia", "Re: Cena", "", "Amigos", true},
      {"r2", kCommandReply, "Carlos_ruiz", "Re: RE: x", "", "", true},
      {"r1", kCommandNewToSender, "Ana_garcia", "", "", "Amigos", false},
      {"e1", kCommandForward, U("José_Marín"), "Fotos", "Hola,\nun saludo.", "Amigos", false},
      {"e2", kCommandEdit, "Luisa_sanz", "Borrador", "Hola,\nun saludo.", "Amigos", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code.toStdString() + " " + std::to_string(c.command));
    ClickRow(c.code);
    bool seen = false;
    script_.steps.push_back([&](QDialog& dialog) {
      seen = true;
      EXPECT_EQ(Text(dialog, 1401), c.receiver);
      EXPECT_EQ(Text(dialog, 1402), c.subject);
      EXPECT_EQ(Text(dialog, 1403), c.body);
      EXPECT_EQ(Text(dialog, 1404), c.profile);
      EXPECT_EQ(Text(dialog, 1405), c.profile.isEmpty() ? "" : kPassword);
      EXPECT_EQ(Control<QLabel>(dialog, 1400)->isVisible(), c.reply);
      Click(dialog, kDialogCancel);
    });
    QTest::mouseClick(Find<QPushButton>(c.command), Qt::LeftButton);
    EXPECT_TRUE(seen);
  }
  EXPECT_EQ(StoredCount(), 4u);
  EXPECT_FALSE(Stored(false, 1)->flag_msj_respondido);
  EXPECT_TRUE(NoServerContacted());
}

TEST_F(MessageCommandsTest, GuardarStoresAsNotSentMarksTheAnswerAndContactsNoServer) {
  StartWith({Received("Ana_garcia", "Cena", "2024-03-02 10:00:00", true)});
  ClickRow(QStringLiteral("r1"));
  script_.steps.push_back([](QDialog& dialog) {
    Type(dialog, 1403, U("Sí, a las nueve."));
    Click(dialog, kComposeSaveOnly);
  });
  QTest::mouseClick(Find<QPushButton>(kCommandReply), Qt::LeftButton);

  const std::optional<Message> stored = Stored(true, 1);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->usuario_emisor_msj, "Hannah_desert");
  EXPECT_EQ(stored->usuario_receptor_msj, "Ana_garcia");
  EXPECT_EQ(stored->asunto_msj, "Re: Cena");
  EXPECT_EQ(stored->cuerpo_msj, "S\xED, a las nueve.");
  EXPECT_EQ(stored->password_msj, Crc32Hex(kPassword));
  EXPECT_FALSE(stored->flag_msj_enviado_srv);
  EXPECT_EQ(SentFlag(1, "flag_msj_respondido"), "1");
  EXPECT_TRUE(Stored(false, 1)->flag_msj_respondido);
  EXPECT_TRUE(NoServerContacted());
  EXPECT_EQ(script_.Captions(), std::vector<QString>{U("Redactar mensaje")});

  // The new message is selected and shown as not sent yet; its row and the answer's say so.
  EXPECT_EQ(list().current_code(), "e1");
  EXPECT_TRUE(ReadingText().startsWith(U("Este mensaje aún no se ha enviado.")));
  EXPECT_TRUE(Find<QPushButton>(kCommandEdit)->isEnabled());
  const QStringList codes = Codes();
  EXPECT_EQ(Column(kColumnReplied)[codes.indexOf("e1")], "n");
  EXPECT_EQ(Column(kColumnReplied)[codes.indexOf("r1")], "R");
}

TEST_F(MessageCommandsTest, EditKeepsNumberAndCodeAndClearsTheAnsweredFlag) {
  Message draft = Sent("Luisa_sanz", "Borrador", "2020-01-01 00:00:00", false);
  draft.flag_msj_respondido = true;  // a reply saved earlier
  StartWith({Sent("Otro_usuario", "Primero", "2020-01-01 00:00:00", true), draft});
  ASSERT_EQ(SentFlag(2, "flag_msj_respondido"), "1");
  ClickRow(QStringLiteral("e2"));
  script_.steps.push_back([](QDialog& dialog) {
    Type(dialog, 1402, "Informe final");
    Click(dialog, kComposeSaveOnly);
  });
  QTest::mouseClick(Find<QPushButton>(kCommandEdit), Qt::LeftButton);

  EXPECT_EQ(StoredCount(), 2u);
  const std::optional<Message> edited = Stored(true, 2);
  ASSERT_TRUE(edited);
  EXPECT_EQ(edited->asunto_msj, "Informe final");
  EXPECT_EQ(SentFlag(2, "flag_msj_respondido"), "0");
  EXPECT_FALSE(edited->flag_msj_enviado_srv);
  EXPECT_NE(edited->fecha_msj, "2020-01-01 00:00:00");
  EXPECT_EQ(list().current_code(), "e2");
  EXPECT_EQ(Stored(true, 1)->asunto_msj, "Primero");
}

TEST_F(MessageCommandsTest, FailedSendLeavesTheMessageStoredNotSentAndEditable) {
  StartWith({});
  script_.steps.push_back([](QDialog& dialog) {
    Type(dialog, 1401, "Ana_garcia");
    Type(dialog, 1402, "Hola");
    Type(dialog, 1403, "Hola Ana");
    QTest::keyClick(Control<QComboBox>(dialog, 1404), Qt::Key_Down);
    QTest::keyClick(Control<QComboBox>(dialog, 1404), Qt::Key_Down);
    Click(dialog, kDialogOk);
  });
  QTest::mouseClick(Find<QPushButton>(kCommandCompose), Qt::LeftButton);

  const std::optional<Message> stored = Stored(true, 1);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->password_msj, Crc32Hex(kPassword));
  EXPECT_FALSE(stored->flag_msj_enviado_srv);
  EXPECT_FALSE(NoServerContacted());
  EXPECT_EQ(list().current_code(), "e1");
  EXPECT_TRUE(ReadingText().startsWith(U("Este mensaje aún no se ha enviado.")));
  EXPECT_TRUE(Find<QPushButton>(kCommandEdit)->isEnabled());
}

TEST_F(MessageCommandsTest, DeleteAsksAndNoChangesNothing) {
  StartWith({Received("Ana_garcia", "Cena del viernes", "2024-03-02 10:00:00", true),
             Sent("Luisa_sanz", "Borrador", "2024-03-01 09:30:00", false)});
  ClickRow(QStringLiteral("r1"));
  script_.box_answers = {kAnswerNo};
  QTest::mouseClick(Find<QPushButton>(1165), Qt::LeftButton);
  ASSERT_EQ(script_.events.size(), 1u);
  EXPECT_EQ(script_.events[0].caption, U("Eliminar mensaje"));
  EXPECT_EQ(script_.events[0].text, U("¿ Eliminar este mensaje ?\n\nCena del viernes"));
  EXPECT_EQ(script_.events[0].type, kBoxYesNoQuestion);
  EXPECT_EQ(StoredCount(), 2u);
  EXPECT_EQ(list().current_code(), "r1");
  EXPECT_FALSE(ReadingText().isEmpty());

  script_.box_answers = {kAnswerYes};
  QTest::mouseClick(Find<QPushButton>(1165), Qt::LeftButton);
  EXPECT_FALSE(Stored(false, 1));
  EXPECT_EQ(list().current_index(), -1);
  EXPECT_TRUE(list().current_code().isEmpty());
  EXPECT_TRUE(ReadingText().isEmpty());
  EXPECT_FALSE(Find<QPushButton>(1165)->isEnabled());
  EXPECT_EQ(Codes(), QStringList{"e1"});

  // The Delete key in the list asks the same.
  ClickRow(QStringLiteral("e1"));
  script_.box_answers = {kAnswerYes};
  QTest::keyClick(table(), Qt::Key_Delete);
  EXPECT_EQ(script_.Captions().back(), U("Eliminar mensaje"));
  EXPECT_EQ(StoredCount(), 0u);
  EXPECT_TRUE(NoServerContacted());
}

// --- The profiles and preferences commands ------------------------------------------------

using ProfilesCommandTest = CommandsTest;

// A received message that only "clave nueva 1" opens.
Message Undecrypted() {
  Message plain = Received("Ana_garcia", "Secreto", "2024-03-02 10:00:00", false);
  Message record;
  record.fecha_msj = "?";
  record.usuario_emisor_msj = "?";
  record.usuario_receptor_msj = "?";
  record.asunto_msj = "<sin desencriptar>";
  record.cuerpo_msj = EncryptText(BuildMessageText(plain), "clave nueva 1");
  record.password_msj = "?";
  record.flag_msj_leido = true;
  return record;
}

TEST_F(ProfilesCommandTest, OkRebuildsThePasswordListAndOpensWaitingMessages) {
  StartWith({Undecrypted()});
  ASSERT_EQ(view()->passwords().entries().size(), 1u);
  // Cancel after a change made behind the program's back: nothing is rebuilt or retried.
  WriteProfile(view()->settings_store(), "Nueva", {"Nueva", "clave nueva 1", "", "", "", ""});
  script_.steps.push_back([](QDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
  frame()->command(1503)->trigger();
  EXPECT_EQ(view()->passwords().entries().size(), 1u);
  EXPECT_EQ(Column(kColumnSubject), QStringList{"<sin desencriptar>"});

  script_.steps.push_back([](QDialog& dialog) {
    Type(dialog, 1007, "Trabajo");
    Type(dialog, 1005, "clave del trabajo");
    Click(dialog, kDialogOk);
  });
  QTest::mouseClick(Find<QPushButton>(1001), Qt::LeftButton);
  EXPECT_EQ(script_.Captions(),
            (std::vector<QString>{U("Perfiles de contraseñas"), U("Perfiles de contraseñas")}));
  EXPECT_EQ(view()->passwords().entries().size(), 3u);
  EXPECT_EQ(Column(kColumnSubject), QStringList{"Secreto"});
}

TEST_F(ProfilesCommandTest, DeletingAProfileTakesItsPasswordOutOfUse) {
  StartWith({});
  script_.steps.push_back([](QDialog& dialog) {
    Type(dialog, 1007, "Amigos");
    Click(dialog, 1131);
  });
  script_.box_answers = {kAnswerYes};
  frame()->command(1503)->trigger();
  for (const PasswordListEntry& entry : view()->passwords().entries())
    EXPECT_NE(entry.password, kPassword);
  // The nested profile's own name has no password: none is left to compose with.
  QTest::mouseClick(Find<QPushButton>(kCommandCompose), Qt::LeftButton);
  EXPECT_EQ(script_.Captions().back(), U("No existen perfiles de contraseñas"));
}

using PreferencesCommandTest = CommandsTest;

TEST_F(PreferencesCommandTest, RefusedRegistrationForgetsTheNameAndRestartsTheCounter) {
  WriteSettings(SampleSettings{.user_name = "", .server = ""});
  {
    SettingsStore store;
    Settings settings = LoadSettings(store).value();
    settings.received_counter = 7;
    SaveCounters(store, settings);
  }
  StartWith({});
  EXPECT_FALSE(Find<QPushButton>(1126)->isEnabled());
  script_.steps.push_back([](QDialog& dialog) {
    Type(dialog, 1140, "Hannah_desert");
    Type(dialog, 1142, kClosedServer);
    Type(dialog, 1144, "cerrado");
    Click(dialog, kDialogOk);
  });
  frame()->command(1502)->trigger();

  // The request went to the server named in the dialog (the stored one was empty) and failed.
  EXPECT_FALSE(NoServerContacted());
  SettingsStore store;
  const Preferences stored = LoadPreferences(store).value();
  EXPECT_EQ(stored.user_name, "");
  EXPECT_EQ(stored.server_name, kClosedServer);
  EXPECT_EQ(stored.server_description, "cerrado");
  EXPECT_EQ(LoadSettings(store).value().received_counter, 0);
  EXPECT_EQ(view()->settings().user_name, "");
  EXPECT_EQ(view()->settings().server_name, kClosedServer);
  EXPECT_FALSE(Find<QPushButton>(1126)->isEnabled());
}

TEST_F(PreferencesCommandTest, WithANameSetOkRegistersNothingAndCancelChangesNothing) {
  StartWith({});
  script_.steps.push_back([](QDialog& dialog) {
    EXPECT_TRUE(Control<QLineEdit>(dialog, 1140)->isReadOnly());
    Type(dialog, 1142, "");
    QTest::keyClick(&dialog, Qt::Key_Escape);
  });
  script_.steps.push_back([](QDialog& dialog) {
    QTest::mouseClick(Control<QCheckBox>(dialog, 1147), Qt::LeftButton);
    Click(dialog, kDialogOk);
  });
  frame()->command(1502)->trigger();
  EXPECT_EQ(view()->settings().server_name, kClosedServer);
  EXPECT_FALSE(view()->settings().receive_every_30_minutes);
  frame()->command(1502)->trigger();
  EXPECT_TRUE(view()->settings().receive_every_30_minutes);
  EXPECT_EQ(view()->settings().user_name, "Hannah_desert");
  EXPECT_TRUE(NoServerContacted());
}

}  // namespace
}  // namespace velkorant::testing
