// The profiles, preferences and compose dialogs, worked through their controls: the checks made
// when they are confirmed, the limits of their fields, what they store, and saves that fail.

#include <QClipboard>
#include <map>
#include <tuple>

#include "dialogs/compose_dialog.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/profiles_dialog.h"
#include "support/scratch_mount.h"
#include "window.h"

namespace velkorant::testing {
namespace {

class DialogTest : public GuiTest {
 protected:
  // A dialog of the template `id`, shown.
  TemplateDialog& Open(int id) {
    dialog_.reset();
    if (id == kProfilesDialogId) {
      dialog_ = std::make_unique<CFtpConnect>(store_, runner_);
    } else if (id == kPreferencesDialogId) {
      dialog_ = std::make_unique<CDialog_preferencias>(store_, runner_, nullptr);
    } else {
      dialog_ = std::make_unique<CDialog_redactar_msj>(store_, runner_, presets_);
    }
    dialog_->show();
    return *dialog_;
  }

  SettingsStore store_;
  ComposePresets presets_{.own_user_name = "Hannah_desert"};
  std::unique_ptr<TemplateDialog> dialog_;
};

TEST_F(DialogTest, ConfirmChecksTheFieldsInTheirOrder) {
  ASSERT_TRUE(store_.WriteInt(kOptionsSection, kReceivedCounterEntry, 7));
  const std::tuple<int, int, const char*, int, const char*> cases[] = {
      // Dialog, field typed into (1404: its first profile chosen), button, box (none: it ends).
      {130, 1005, "1234567", 1, "Falta el nombre del perfil"},
      {130, 1007, "Amigos", 1, "Contraseña muy corta"},
      {130, 1005, "12345678", 1, nullptr},
      {131, 1142, "", 1, "Falta tu nombre de usuario"},
      {131, 1140, "Hannah d", 1, "Falta el nombre del servidor"},
      {131, 1142, "x", 1, nullptr},
      {132, 1402, "", 1, "Falta el nombre de usuario"},
      {132, 1401, "Hannah_desert", 1, "Auto-mensaje"},
      {132, 1401, "hannah_desert", 1408, "Falta el asunto del mensaje"},
      {132, 1402, " ", 1, "Falta el texto del mensaje"},
      {132, 1403, "Hola\nadios", 1408, "Selecciona un perfil de contraseña"},
      {132, 1404, "A", 1408, nullptr}};
  for (const auto& [dialog, field, text, button, box] : cases) {
    if (dialog_ == nullptr || dialog_->objectName().toInt() != dialog)
      Open(dialog);
    runner_.events.clear();
    Type(*dialog_, field, U(text));
    Click(*dialog_, button);
    EXPECT_EQ(runner_.Captions().join(""), U(box ? box : "")) << field << text;
    EXPECT_EQ(dialog_->result(), box ? 0 : button);
  }
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(),
            ReadProfile(store_, "Amigos").value());
  EXPECT_EQ(ReadProfile(store_, "Amigos").value().password, "12345678");
  const Settings stored = LoadSettings(store_).value();
  EXPECT_EQ(std::tie(stored.user_name, stored.server_name), std::tuple("Hannah d", "x"));
  EXPECT_EQ(stored.received_counter, 0) << "a first user name's count starts over with it";
  const auto& compose = dynamic_cast<CDialog_redactar_msj&>(*dialog_);
  EXPECT_EQ(
      std::tie(compose.receiver(), compose.body(), compose.password()),
      std::tuple("hannah_desert", "Hola\r\nadios", "12345678"));  // another case, another user
}

// Typing and pasting stop at each field's limit; a single-line field takes only the first line
// of a pasted text. A longer text the program put in stays whole until confirming refuses it.
TEST_F(DialogTest, FieldsKeepToTheirLimits) {
  const std::tuple<int, int, int, int, const char*> cases[] = {
      // Dialog, field, limit, length of a longer text put in (or 0), its name in the box.
      {130, 1007, 40, 0, ""},
      {130, 1005, 40, 0, ""},
      {130, 1009, 100, 104, "'Comentarios'"},
      {131, 1140, 40, 0, ""},
      {131, 1141, 100, 0, ""},
      {131, 1142, 100, 101, "'Nombre del servidor'"},
      {132, 1401, 100, 0, ""},
      {132, 1402, 100, 104, "'Asunto'"},
      {132, 1403, 800, 801, "'Mensaje'"}};
  for (const auto& [dialog, field, limit, length, label] : cases) {
    const std::string longer(static_cast<std::size_t>(length), 'p');
    presets_ = {"Ana_garcia",
                field == 1402 ? longer : "Hola",
                field == 1403 ? longer : "Hola",
                "Largo",
                false,
                "Hannah_desert"};
    ASSERT_TRUE(WriteProfile(store_, "Largo", {"Largo", "clave larga", longer, "", "", ""}));
    ASSERT_TRUE(
        WriteProfile(store_, kReservedProfileName, {"Largo", "clave larga", longer, "", "", ""}));
    ASSERT_TRUE(SavePreferences(store_, {"", "", field == 1142 ? longer : "x", "", 0, 0, 1}));
    QWidget* typed = Field(Open(dialog), field);
    if (auto* line = qobject_cast<QLineEdit*>(typed)) {
      line->clear();
      QApplication::clipboard()->setText("Hola\nEMI:Falso_remitente");
      QTest::keySequence(line, QKeySequence::Paste);
      EXPECT_EQ(line->text(), "Hola") << field;
    }
    Type(*dialog_, field, QString(limit + 3, u'x'));
    EXPECT_EQ(LimitedTextEdit::Length(Text(*dialog_, field)), limit) << field;
    if (length == 0)
      continue;
    typed = Field(Open(dialog), field);
    QTest::keyClick(typed, Qt::Key_End);
    QTest::keyClick(typed, Qt::Key_X);
    EXPECT_EQ(Text(*dialog_, field).size(), length);
    runner_.events.clear();
    Click(*dialog_, 1);
    EXPECT_EQ(runner_.Captions(), QStringList{"Texto demasiado largo"});
    EXPECT_TRUE(runner_.events.back().text.contains(label))
        << runner_.events.back().text.toStdString();
    EXPECT_EQ(dialog_->isVisible() && dialog_->focusWidget() == typed, true);
  }
  presets_.body.clear();  // a line break counts two characters
  Type(Open(kComposeDialogId), 1403, QString(797, u'a') + "\n\nbc");
  EXPECT_EQ(Text(*dialog_, 1403), QString(797, u'a') + "\nb");
}

TEST_F(DialogTest, ProfilesAreChosenRenamedAndDeletedByName) {
  ASSERT_TRUE(WriteProfile(store_, "beta", {"beta", "clave beta", "b1", "b2", "b3", "b4"}));
  Open(kProfilesDialogId);
  QTest::keyClick(Find(*dialog_, 1007), Qt::Key_Down);
  std::map<int, QString> from_the_top;  // the comment lines show in the order 1, 3, 4, 2
  for (int id : {1009, 1003, 1017, 1011})
    from_the_top[Find(*dialog_, id)->y()] = Text(*dialog_, id);
  EXPECT_EQ(QStringList({from_the_top.begin()->second, std::next(from_the_top.begin())->second,
                         std::prev(from_the_top.end(), 2)->second, from_the_top.rbegin()->second,
                         Text(*dialog_, 1005)}),
            QStringList({"b1", "b3", "b4", "b2", "clave beta"}));
  Type(*dialog_, 1007, "gamma");  // a new name keeps the chosen profile
  Click(*dialog_, kDialogOk);
  EXPECT_EQ(ReadProfile(store_, "gamma").value(),
            PasswordProfile({"gamma", "clave beta", "b1", "b2", "b3", "b4"}));
  EXPECT_EQ(EnumerateProfiles(store_).value(), (std::vector<std::string>{"beta", "gamma"}));
  Open(kProfilesDialogId);  // on the copy saved last; Enter saves what was typed, not the list's
  EXPECT_EQ(Text(*dialog_, 1007), "gamma");
  Type(*dialog_, 1007, "beta");
  Type(*dialog_, 1005, "clave nueva");
  QTest::keyClick(Field(*dialog_, 1007), Qt::Key_Return);
  EXPECT_EQ(ReadProfile(store_, "beta").value().password, "clave nueva");
  Open(kProfilesDialogId);
  Click(*dialog_, 1131);  // answered No
  runner_.answers = {kAnswerYes};
  Click(*dialog_, 1131);
  EXPECT_EQ(runner_.Captions(), QStringList(2, U("Eliminar perfil de contraseña")));
  EXPECT_TRUE(dynamic_cast<CFtpConnect&>(*dialog_).profile_deleted() && !dialog_->isVisible());
  EXPECT_EQ(EnumerateProfiles(store_).value(), std::vector<std::string>{"gamma"});
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(), PasswordProfile{});
}

// The disk under the settings fills after the window started: a dialog whose save fails says so
// and stays open, its fields as they were.
TEST_F(WindowTest, ASaveThatFailsKeepsItsDialogOpen) {
  const ScratchMount disk;
  if (!disk.ok())
    GTEST_SKIP() << disk.SkipReason();
  ::setenv("XDG_CONFIG_HOME", disk.path().c_str(), 1);
  WriteSettings();
  SettingsStore store;  // the profiles dialog opens on "Amigos"
  ASSERT_TRUE(WriteProfile(store, kReservedProfileName, {"Amigos", kPassword, "", "", "", ""}));
  Start();
  disk.Fill();
  for (const auto& [command, field, button] : {std::tuple(kCommandPreferences, 1141, kDialogOk),
                                               {kCommandPreferences, 1141, 1145},
                                               {kCommandProfiles, 1005, kDialogOk},
                                               {kCommandProfiles, 1005, 1131}}) {
    runner_.answers = {kAnswerYes};  // to a deletion's question
    runner_.steps.push_back([&](QDialog& dialog) {
      Type(dialog, field, "una clave larga");
      Click(dialog, button);
      EXPECT_EQ(runner_.events.back().caption, U("No se ha podido guardar la configuración"));
      EXPECT_EQ(dialog.isVisible() ? Text(dialog, field) : "", "una clave larga");
      Escape(dialog);
    });
    Press(command);
  }
}

}  // namespace
}  // namespace velkorant::testing
