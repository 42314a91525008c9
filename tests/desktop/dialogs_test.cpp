// The profiles, preferences and compose dialogs, driven through their controls offscreen; every
// message box is answered by the scripted runner and checked word for word.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "dialog_controls.h"
#include "gui_support.h"
#include "platform/ansi_text.h"
#include "dialogs/compose_dialog.h"
#include "settings/password_profiles.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/profiles_dialog.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

using testing::Click;
using testing::Control;
using testing::Installation;
using testing::RunnerEvent;
using testing::ScriptedRunner;
using testing::Text;
using testing::Type;
using testing::U;

void Show(QDialog& dialog) {
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
}

std::vector<QString> Captions(const ScriptedRunner& runner) {
  std::vector<QString> captions;
  for (const RunnerEvent& event : runner.events)
    captions.push_back(event.caption);
  return captions;
}

class DialogTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // No dialog outlives its test.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      EXPECT_FALSE(widget->isVisible()) << widget->objectName().toStdString();
    }
  }

  Installation installation_;
  SettingsStore store_;
  ScriptedRunner runner_;
};

// --- Password profiles -------------------------------------------------------------------

using ProfilesDialogTest = DialogTest;

TEST_F(ProfilesDialogTest, FreshStoreOpensEmptyWithFocusOnTheName) {
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  EXPECT_EQ(Control<QComboBox>(dialog, 1007)->count(), 0);
  for (int id : {1007, 1005, 1009, 1003, 1017, 1011})
    EXPECT_TRUE(Text(dialog, id).isEmpty()) << id;
  EXPECT_EQ(QApplication::focusWidget(), Control<QComboBox>(dialog, 1007));
  EXPECT_EQ(Control<QLineEdit>(dialog, 1005)->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(Control<QCheckBox>(dialog, 1130)->isChecked());
  dialog.reject();
}

TEST_F(ProfilesDialogTest, OkChecksTheNameFirstThenAPasswordOfEightCharacters) {
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  Type(dialog, 1005, "1234567");
  Click(dialog, 1);
  Type(dialog, 1007, U("Amigos"));
  Click(dialog, 1);
  ASSERT_EQ(runner_.events.size(), 2u);
  EXPECT_EQ(runner_.events[0].caption, U("Falta el nombre del perfil"));
  EXPECT_EQ(runner_.events[0].text, U("Introduce un nombre de perfil"));
  EXPECT_EQ(runner_.events[0].type, kBoxOkQuestion);
  EXPECT_EQ(runner_.events[1].caption, U("Contraseña muy corta"));
  EXPECT_EQ(runner_.events[1].text, U("Introduce una contraseña de al menos 8 caracteres"));
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_TRUE(EnumerateProfiles(store_).value().empty());

  Type(dialog, 1005, "12345678");
  Click(dialog, 1);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), kDialogOk);
  EXPECT_EQ(EnumerateProfiles(store_).value(), std::vector<std::string>{"Amigos"});
  EXPECT_EQ(ReadProfile(store_, "Amigos").value().password, "12345678");
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value().name, "Amigos");
}

TEST_F(ProfilesDialogTest, CommentLinesAreStoredAndShownInTheirOddScreenOrder) {
  {
    CFtpConnect dialog(store_, runner_);
    Show(dialog);
    Type(dialog, 1007, U("Clave de Andrés"));
    Type(dialog, 1005, U("contraseña segura"));
    Type(dialog, 1009, "uno");
    Type(dialog, 1003, "dos");
    Type(dialog, 1017, "tres");
    Type(dialog, 1011, "cuatro");
    Click(dialog, 1);
    ASSERT_EQ(dialog.result(), kDialogOk);
  }
  const PasswordProfile saved = ReadProfile(store_, ToAnsi(U("Clave de Andrés"))).value();
  EXPECT_EQ(saved, (PasswordProfile{ToAnsi(U("Clave de Andrés")), ToAnsi(U("contraseña segura")),
                                    "uno", "dos", "tres", "cuatro"}));

  // It reopens on the profile saved last, comments included, lines 1, 3, 4, 2 from the top.
  CFtpConnect reopened(store_, runner_);
  Show(reopened);
  EXPECT_EQ(Text(reopened, 1007), U("Clave de Andrés"));
  EXPECT_EQ(Text(reopened, 1005), U("contraseña segura"));
  std::vector<std::pair<int, QString>> on_screen;
  for (int id : {1009, 1003, 1017, 1011})
    on_screen.emplace_back(Control<QLineEdit>(reopened, id)->y(), Text(reopened, id));
  std::sort(on_screen.begin(), on_screen.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  EXPECT_EQ(on_screen[0].second, "uno");
  EXPECT_EQ(on_screen[1].second, "tres");
  EXPECT_EQ(on_screen[2].second, "cuatro");
  EXPECT_EQ(on_screen[3].second, "dos");
  reopened.reject();
}

TEST_F(ProfilesDialogTest, ProfileNamedSeleccionLandsInTheReservedCopyOnly) {
  for (const char* name : {"Seleccion", "SELECCION"}) {
    CFtpConnect dialog(store_, runner_);
    Show(dialog);
    Type(dialog, 1007, name);
    Type(dialog, 1005, "clave reservada");
    Click(dialog, 1);
    EXPECT_EQ(dialog.result(), kDialogOk);
  }
  EXPECT_TRUE(EnumerateProfiles(store_).value().empty());
  PasswordList passwords;
  passwords.LoadPasswordList(store_);
  EXPECT_TRUE(passwords.empty());
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value().password, "clave reservada");
}

TEST_F(ProfilesDialogTest, ChoosingAndRenamingKeepsTheOldProfile) {
  WriteProfile(store_, "beta", {"beta", "clave beta 2", "b1", "b2", "b3", "b4"});
  WriteProfile(store_, "Alfa", {"Alfa", "clave alfa 1", "a1", "a2", "a3", "a4"});
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  QComboBox* names = Control<QComboBox>(dialog, 1007);
  ASSERT_EQ(names->count(), 2);
  EXPECT_EQ(names->itemText(0), "Alfa");
  EXPECT_EQ(names->itemText(1), "beta");

  QTest::keyClick(names, Qt::Key_Down);
  EXPECT_EQ(Text(dialog, 1007), "Alfa");
  EXPECT_EQ(Text(dialog, 1005), "clave alfa 1");
  EXPECT_EQ(Text(dialog, 1003), "a2");
  QTest::keyClick(names, Qt::Key_Down);
  EXPECT_EQ(Text(dialog, 1005), "clave beta 2");
  EXPECT_EQ(Text(dialog, 1011), "b4");

  Type(dialog, 1007, "gamma");
  Type(dialog, 1009, "nuevo");
  Click(dialog, 1);
  ASSERT_EQ(dialog.result(), kDialogOk);
  EXPECT_EQ(EnumerateProfiles(store_).value(), (std::vector<std::string>{"Alfa", "beta", "gamma"}));
  EXPECT_EQ(ReadProfile(store_, "beta").value().comment1, "b1");
  EXPECT_EQ(ReadProfile(store_, "gamma").value(),
            (PasswordProfile{"gamma", "clave beta 2", "nuevo", "b2", "b3", "b4"}));
}

TEST_F(ProfilesDialogTest, EnterOnAListedNameSavesWhatWasTypedNotTheStoredValues) {
  WriteProfile(store_, "Alfa", {"Alfa", "clave vieja", "", "", "", ""});
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  Type(dialog, 1007, "Alfa");
  Type(dialog, 1005, "clave nueva");
  QTest::keyClick(Control<QComboBox>(dialog, 1007), Qt::Key_Return);
  EXPECT_EQ(dialog.result(), kDialogOk);
  EXPECT_EQ(ReadProfile(store_, "Alfa").value().password, "clave nueva");
}

TEST_F(ProfilesDialogTest, VerShowsThePasswordInClearWithoutChangingIt) {
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  Type(dialog, 1005, "secreto1");
  QLineEdit* password = Control<QLineEdit>(dialog, 1005);
  QCheckBox* ver = Control<QCheckBox>(dialog, 1130);
  QTest::mouseClick(ver, Qt::LeftButton);
  EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
  EXPECT_EQ(password->displayText(), "secreto1");
  QTest::mouseClick(ver, Qt::LeftButton);
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->text(), "secreto1");
  EXPECT_TRUE(runner_.events.empty());
  dialog.reject();
}

TEST_F(ProfilesDialogTest, DeleteAsksAndNoChangesNothing) {
  const PasswordProfile alfa{"Alfa", "clave alfa 1", "c1", "", "", ""};
  WriteProfile(store_, "Alfa", alfa);
  WriteProfile(store_, kReservedProfileName, alfa);
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  runner_.box_answers = {kAnswerNo};
  Click(dialog, 1131);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, U("Eliminar perfil de contraseña"));
  EXPECT_EQ(runner_.events[0].text, U("¿ Quieres eliminar este perfil de contraseña ?"));
  EXPECT_EQ(runner_.events[0].type, kBoxYesNoQuestion);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(Text(dialog, 1005), "clave alfa 1");
  EXPECT_EQ(ReadProfile(store_, "Alfa").value(), alfa);
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(), alfa);
  EXPECT_FALSE(dialog.profile_deleted());

  runner_.box_answers = {kAnswerYes};
  Click(dialog, 1131);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), kDialogCancel);
  EXPECT_TRUE(dialog.profile_deleted());
  EXPECT_TRUE(EnumerateProfiles(store_).value().empty());
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(), PasswordProfile{});
}

TEST_F(ProfilesDialogTest, DeleteWithoutANameAsksNothingAndDeletingAnUnknownNameEmptiesTheCopy) {
  const PasswordProfile alfa{"Alfa", "clave alfa 1", "", "", "", ""};
  WriteProfile(store_, "Alfa", alfa);
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  Click(dialog, 1131);
  EXPECT_TRUE(runner_.events.empty());
  EXPECT_TRUE(dialog.isVisible());

  Type(dialog, 1007, "Nadie");
  runner_.box_answers = {kAnswerYes};
  Click(dialog, 1131);
  EXPECT_EQ(dialog.result(), kDialogCancel);
  EXPECT_EQ(EnumerateProfiles(store_).value(), std::vector<std::string>{"Alfa"});
  EXPECT_EQ(ReadProfile(store_, "Alfa").value(), alfa);
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(), PasswordProfile{});
}

TEST_F(ProfilesDialogTest, TypingStopsAtTheLimitsAndALongerStoredTextIsRefusedOnOk) {
  PasswordProfile stored{"Largo", "clave larga 1", std::string(104, 'c'), "NULL", "", ""};
  WriteProfile(store_, kReservedProfileName, stored);
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  // Shown whole, "NULL" as empty; nothing more can be typed into the long line.
  EXPECT_EQ(Text(dialog, 1009).size(), 104);
  EXPECT_TRUE(Text(dialog, 1003).isEmpty());
  QLineEdit* comment = Control<QLineEdit>(dialog, 1009);
  comment->setFocus();
  comment->end(false);
  QTest::keyClicks(comment, "xyz");
  EXPECT_EQ(comment->text().size(), 104);

  Click(dialog, 1);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, U("Texto demasiado largo"));
  EXPECT_TRUE(runner_.events[0].text.contains(U("'Comentarios'")))
      << runner_.events[0].text.toStdString();
  EXPECT_TRUE(runner_.events[0].text.contains(U("100"))) << runner_.events[0].text.toStdString();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(QApplication::focusWidget(), comment);
  EXPECT_TRUE(EnumerateProfiles(store_).value().empty());

  // Shortened, the line can grow back only to the limit.
  comment->setText(QString(99, u'c'));
  comment->end(false);
  QTest::keyClicks(comment, "xyz");
  EXPECT_EQ(comment->text().size(), 100);
  Type(dialog, 1007, QString(45, u'n'));
  EXPECT_EQ(Text(dialog, 1007).size(), 40);
  Type(dialog, 1005, QString(45, u'p'));
  EXPECT_EQ(Text(dialog, 1005).size(), 40);
  Click(dialog, 1);
  EXPECT_EQ(dialog.result(), kDialogOk);
  EXPECT_EQ(ReadProfile(store_, std::string(40, 'n')).value().comment1.size(), 100u);
}

TEST_F(ProfilesDialogTest, EscapeAndCancelCloseWithoutStoring) {
  CFtpConnect dialog(store_, runner_);
  Show(dialog);
  Type(dialog, 1007, "Alfa");
  Type(dialog, 1005, "clave alfa 1");
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), kDialogCancel);

  CFtpConnect again(store_, runner_);
  Show(again);
  Type(again, 1007, "Alfa");
  Type(again, 1005, "clave alfa 1");
  Click(again, 2);
  EXPECT_EQ(again.result(), kDialogCancel);
  EXPECT_TRUE(EnumerateProfiles(store_).value().empty());
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(), PasswordProfile{});
}

// --- Preferences ---------------------------------------------------------------------------

class PreferencesDialogTest : public DialogTest {
 protected:
  std::unique_ptr<CDialog_preferencias> Open() {
    auto dialog = std::make_unique<CDialog_preferencias>(store_, runner_,
                                                         [this](int id) { sounds_.push_back(id); });
    Show(*dialog);
    return dialog;
  }
  void Store(const std::string& user_name, std::int32_t play_sounds = 1) {
    Preferences stored;
    stored.user_name = user_name;
    stored.user_comment = "comentario";
    stored.server_name = "servidor.example/mensajes/";
    stored.server_description = "descripcion";
    stored.receive_every_30_minutes = 1;
    stored.play_sounds = play_sounds;
    SavePreferences(store_, stored);
  }

  std::vector<int> sounds_;
};

TEST_F(PreferencesDialogTest, UserNameIsCheckedBeforeTheServerAndNeedsEightCharacters) {
  auto dialog = Open();
  EXPECT_EQ(QApplication::focusWidget(), Control<QLineEdit>(*dialog, 1140));
  EXPECT_FALSE(Control<QLineEdit>(*dialog, 1140)->isReadOnly());
  EXPECT_FALSE(Control<QPushButton>(*dialog, 1145)->isEnabled());
  Type(*dialog, 1140, "Hannah_");  // 7
  Type(*dialog, 1142, "");
  Click(*dialog, 1);
  Type(*dialog, 1140, "Hannah d");  // 8, a blank counts
  Click(*dialog, 1);
  ASSERT_EQ(runner_.events.size(), 2u);
  EXPECT_EQ(runner_.events[0].caption, U("Falta tu nombre de usuario"));
  EXPECT_EQ(runner_.events[0].text,
            U("Introduce el nombre de usuario que quieres tener.\nDebe ser un nombre de al menos "
              "8 caracteres.\n\nEjemplos:\nHannah_desert\nJohn Sala\nStar_Lord\nMandoLong"));
  EXPECT_EQ(runner_.events[1].caption, U("Falta el nombre del servidor"));
  const QString server_text = runner_.events[1].text;
  EXPECT_TRUE(server_text.startsWith(
      U("Introduce el nombre del servidor que almacena los mensajes.\n\nEjemplo:\n")));
  EXPECT_TRUE(server_text.endsWith(U("/mensajes/ \n\nPor defecto debes usar:\n\n") +
                                   ToQString(kDefaultServerAddress)))
      << server_text.toStdString();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(LoadPreferences(store_).value().user_name.empty());

  Type(*dialog, 1142, "x");
  Type(*dialog, 1141, U("Mi cuenta"));
  QTest::mouseClick(Control<QCheckBox>(*dialog, 1146), Qt::LeftButton);
  Click(*dialog, 1);
  EXPECT_EQ(dialog->result(), kDialogOk);
  const Preferences saved = LoadPreferences(store_).value();
  EXPECT_EQ(saved.user_name, "Hannah d");
  EXPECT_EQ(saved.user_comment, "Mi cuenta");
  EXPECT_EQ(saved.server_name, "x");
  EXPECT_EQ(saved.receive_at_startup, 1);
  EXPECT_EQ(saved.receive_every_30_minutes, 0);
}

TEST_F(PreferencesDialogTest, StoredNameIsReadOnlyAndAShortOneMakesOkImpossible) {
  Store("Corto12");
  auto dialog = Open();
  EXPECT_TRUE(Control<QLineEdit>(*dialog, 1140)->isReadOnly());
  EXPECT_TRUE(Control<QPushButton>(*dialog, 1145)->isEnabled());
  EXPECT_EQ(Text(*dialog, 1142), "servidor.example/mensajes/");
  EXPECT_TRUE(Control<QCheckBox>(*dialog, 1147)->isChecked());
  QTest::keyClicks(Control<QLineEdit>(*dialog, 1140), "XYZ");
  EXPECT_EQ(Text(*dialog, 1140), "Corto12");
  Click(*dialog, 1);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, U("Falta tu nombre de usuario"));
  EXPECT_TRUE(dialog->isVisible());
  Click(*dialog, 2);
  EXPECT_EQ(dialog->result(), kDialogCancel);
}

TEST_F(PreferencesDialogTest, CancelLeavesTheStoreAsItWas) {
  Store("Hannah_desert");
  const Preferences before = LoadPreferences(store_).value();
  auto dialog = Open();
  Type(*dialog, 1141, "otro");
  Type(*dialog, 1142, "");
  QTest::mouseClick(Control<QCheckBox>(*dialog, 1148), Qt::LeftButton);
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_EQ(dialog->result(), kDialogCancel);
  const Preferences after = LoadPreferences(store_).value();
  EXPECT_EQ(after.user_comment, before.user_comment);
  EXPECT_EQ(after.server_name, before.server_name);
  EXPECT_EQ(after.play_sounds, before.play_sounds);
}

TEST_F(PreferencesDialogTest, DeletingTheUserAsksWithTheSoundOfTheStoredOption) {
  Store("Hannah_desert", 1);
  auto dialog = Open();
  // The sound follows the option as stored, not the box as it stands now.
  QTest::mouseClick(Control<QCheckBox>(*dialog, 1148), Qt::LeftButton);
  runner_.box_answers = {kAnswerNo};
  Click(*dialog, 1145);
  EXPECT_EQ(sounds_, std::vector<int>{205});
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, U("Eliminar usuario"));
  EXPECT_EQ(runner_.events[0].type, kBoxYesNoQuestion);
  EXPECT_EQ(runner_.events[0].text,
            U("Eliminar el usuario Hannah_desert\nSi eliminas este nombre de usuario:\n\n· No "
              "perderás los mensajes ya recibidos para este nombre de usuario.\n· No recibirás "
              "más mensajes dirigidos a este nombre de usuario.\n· Por seguridad, nunca más "
              "podrás usar este nombre de usuario (ni tú ni nadie).\n· Podrás elegir otro nombre "
              "diferente de usuario.\n\n¿ Quieres eliminar definitivamente este nombre de "
              "usuario ?"));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(LoadPreferences(store_).value().user_name, "Hannah_desert");

  // Yes stores the controls as they stand, even an empty server name, without OK's checks.
  Type(*dialog, 1142, "");
  runner_.box_answers = {kAnswerYes};
  Click(*dialog, 1145);
  EXPECT_EQ(dialog->result(), kDialogOk);
  const Preferences after = LoadPreferences(store_).value();
  EXPECT_EQ(after.user_name, "");
  EXPECT_EQ(after.server_name, "");
  EXPECT_EQ(after.user_comment, "comentario");
  EXPECT_EQ(after.play_sounds, 0);
}

TEST_F(PreferencesDialogTest, NoSoundAtDeletionWhenSoundsWereStoredOff) {
  Store("Hannah_desert", 0);
  auto dialog = Open();
  QTest::mouseClick(Control<QCheckBox>(*dialog, 1148), Qt::LeftButton);
  runner_.box_answers = {kAnswerNo};
  Click(*dialog, 1145);
  EXPECT_TRUE(sounds_.empty());
  EXPECT_EQ(Captions(runner_), std::vector<QString>{U("Eliminar usuario")});
  dialog->reject();
}

TEST_F(PreferencesDialogTest, HelpAndDefaultAddressAreShown) {
  auto dialog = Open();
  bool found = false;
  for (QLabel* label : dialog->findChildren<QLabel*>())
    found = found || label->text() == U("Por defecto: ") + ToQString(kDefaultServerAddress);
  EXPECT_TRUE(found);
  Click(*dialog, 1143);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, U("Usar tu propio servidor"));
  EXPECT_TRUE(runner_.events[0].text.startsWith(
      U("Velkorant te permite usar tu propio servidor, aunque necesitarás instalar")));
  EXPECT_TRUE(runner_.events[0].text.contains(U("único pago de 19 euros vía PayPal.\n\n")));
  EXPECT_TRUE(dialog->isVisible());
  dialog->reject();
}

TEST_F(PreferencesDialogTest, StoredServerOverItsLimitIsRefusedUntilShortened) {
  Preferences stored;
  stored.server_name = std::string(101, 's');
  SavePreferences(store_, stored);
  auto dialog = Open();
  EXPECT_EQ(Text(*dialog, 1142).size(), 101);
  Type(*dialog, 1140, "Hannah_desert");
  Click(*dialog, 1);
  EXPECT_EQ(Captions(runner_), std::vector<QString>{U("Texto demasiado largo")});
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(LoadPreferences(store_).value().user_name.empty());
  QLineEdit* server = Control<QLineEdit>(*dialog, 1142);
  server->end(false);
  QTest::keyClick(server, Qt::Key_Backspace);
  Click(*dialog, 1);
  EXPECT_EQ(dialog->result(), kDialogOk);
  EXPECT_EQ(LoadPreferences(store_).value().server_name, std::string(100, 's'));
}

// --- Compose -------------------------------------------------------------------------------

class ComposeDialogTest : public DialogTest {
 protected:
  void SetUp() override {
    // "Grupo" holds only the nested "Grupo\\Sub": listed without a password of its own, so the
    // password list and the dialog's list differ in positions after it.
    WriteProfile(store_, "Grupo\\Sub", {"Grupo\\Sub", "clave del grupo", "", "", "", ""});
    WriteProfile(store_, ToAnsi(U("Amigos del club")),
                 {ToAnsi(U("Amigos del club")), "clave compartida", "", "", "", ""});
    WriteProfile(store_, ToAnsi(U("Zoé, la señora")),
                 {ToAnsi(U("Zoé, la señora")), ToAnsi(U("contraseña ñ")), "", "", "", ""});
  }

  std::unique_ptr<CDialog_redactar_msj> Open(ComposePresets presets) {
    if (presets.own_user_name.empty())
      presets.own_user_name = "Hannah_desert";
    auto dialog = std::make_unique<CDialog_redactar_msj>(store_, runner_, std::move(presets));
    Show(*dialog);
    return dialog;
  }
};

TEST_F(ComposeDialogTest, NewMessageOpensEmptyAndChecksEachFieldInOrder) {
  auto dialog = Open({});
  EXPECT_EQ(QApplication::focusWidget(), Control<QLineEdit>(*dialog, 1401));
  EXPECT_EQ(Control<QComboBox>(*dialog, 1404)->currentIndex(), -1);
  EXPECT_TRUE(Text(*dialog, 1405).isEmpty());
  EXPECT_FALSE(Control<QLabel>(*dialog, 1400)->isVisible());
  EXPECT_TRUE(Control<QLineEdit>(*dialog, 1405)->isReadOnly());

  Click(*dialog, 1);
  Type(*dialog, 1401, "Hannah_desert");
  Click(*dialog, 1);
  Type(*dialog, 1401, "hannah_desert");  // another letter case is another user
  Click(*dialog, 1408);
  Type(*dialog, 1402, " ");
  Click(*dialog, 1);
  Type(*dialog, 1403, "Hola");
  Click(*dialog, 1408);
  const std::vector<QString> expected = {
      U("Falta el nombre de usuario"), U("Auto-mensaje"), U("Falta el asunto del mensaje"),
      U("Falta el texto del mensaje"), U("Selecciona un perfil de contraseña")};
  EXPECT_EQ(Captions(runner_), expected);
  ASSERT_EQ(runner_.events.size(), 5u);
  EXPECT_EQ(runner_.events[0].text,
            U("Campo 'Usuario receptor' vacío.\nDebes introducir el nombre de usuario al que "
              "deseas enviar el mensaje."));
  EXPECT_EQ(runner_.events[1].text,
            U("No puedes enviarte mensajes a ti mismo.\nEn el campo 'Usuario receptor' debes "
              "introducir el nombre de usuario al que deseas enviar el mensaje."));
  EXPECT_EQ(runner_.events[2].text,
            U("Campo 'Asunto' vacío.\nDebes introducir un texto breve a modo de título del "
              "mensaje."));
  EXPECT_EQ(runner_.events[3].text,
            U("Campo 'Mensaje' vacío.\nIntroduce el texto del mensaje que deseas enviar."));
  EXPECT_EQ(runner_.events[4].text,
            U("Campo 'Contraseña' vacío.\nDebes seleccionar el perfil de contraseña que se usará "
              "para encriptar el mensaje."));
  for (const RunnerEvent& event : runner_.events)
    EXPECT_EQ(event.type, kBoxOkQuestion);
  EXPECT_TRUE(dialog->isVisible());
  dialog->reject();
}

TEST_F(ComposeDialogTest, GuardarAndGuardarYEnviarEndWithTheirCodes) {
  for (int button : {kComposeSaveOnly, kDialogOk}) {
    auto dialog = Open({});
    Type(*dialog, 1401, U("José_Marín"));
    Type(*dialog, 1402, U("Cena"));
    QTest::keyClicks(Control<QWidget>(*dialog, 1403), "Hola");
    QTest::keyClick(Control<QWidget>(*dialog, 1403), Qt::Key_Return);
    QTest::keyClicks(Control<QWidget>(*dialog, 1403), "adios");
    QTest::keyClick(Control<QComboBox>(*dialog, 1404), Qt::Key_Down);
    Click(*dialog, button);
    EXPECT_TRUE(runner_.events.empty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), button);
    EXPECT_EQ(dialog->receiver(), ToAnsi(U("José_Marín")));
    EXPECT_EQ(dialog->subject(), "Cena");
    EXPECT_EQ(dialog->body(), "Hola\r\nadios");
    EXPECT_EQ(dialog->password(), "clave compartida");
  }
  // Choosing a profile here leaves the profiles dialog's copy alone.
  EXPECT_EQ(ReadProfile(store_, kReservedProfileName).value(), PasswordProfile{});
}

TEST_F(ComposeDialogTest, ProfileListFollowsEnumerationAndPresetPicksTheMatchingPassword) {
  PasswordList passwords;
  passwords.LoadPasswordList(store_);
  ComposePresets presets;
  presets.receiver = "Ana_garcia";
  presets.subject = "Re: Hola";
  presets.reply = true;
  const int index = passwords.FindProfileByFingerprint(
      passwords.entries()[1].fingerprint);  // the accented one, second in the password list
  presets.profile_name = passwords.entries()[static_cast<std::size_t>(index)].profile_name;
  auto dialog = Open(presets);

  QComboBox* profiles = Control<QComboBox>(*dialog, 1404);
  std::vector<std::string> listed;
  for (int i = 0; i < profiles->count(); ++i)
    listed.push_back(ToAnsi(profiles->itemText(i)));
  EXPECT_EQ(listed, EnumerateProfiles(store_).value());
  ASSERT_EQ(listed.size(), 3u);  // Amigos del club, Grupo, Zoé, la señora
  EXPECT_EQ(profiles->currentText(), U("Zoé, la señora"));
  EXPECT_EQ(Text(*dialog, 1405), U("contraseña ñ"));
  EXPECT_TRUE(Control<QLabel>(*dialog, 1400)->isVisible());
  EXPECT_EQ(Text(*dialog, 1401), "Ana_garcia");
  EXPECT_EQ(Text(*dialog, 1402), "Re: Hola");

  // Choosing another profile replaces only the password.
  QTest::keyClick(profiles, Qt::Key_Up);
  EXPECT_EQ(profiles->currentText(), "Grupo");
  EXPECT_TRUE(Text(*dialog, 1405).isEmpty());
  QTest::keyClick(profiles, Qt::Key_Up);
  EXPECT_EQ(Text(*dialog, 1405), "clave compartida");
  EXPECT_EQ(Text(*dialog, 1401), "Ana_garcia");
  EXPECT_EQ(Text(*dialog, 1402), "Re: Hola");
  dialog->reject();
}

TEST_F(ComposeDialogTest, UnknownProfileAndNullPresetsOpenEmpty) {
  ComposePresets presets;
  presets.receiver = "NULL";
  presets.subject = "NULL";
  presets.body = "NULL";
  presets.profile_name = "Nadie";
  auto dialog = Open(presets);
  for (int id : {1401, 1402, 1403, 1405})
    EXPECT_TRUE(Text(*dialog, id).isEmpty()) << id;
  EXPECT_EQ(Control<QComboBox>(*dialog, 1404)->currentIndex(), -1);
  Click(*dialog, 2);
  EXPECT_EQ(dialog->result(), kDialogCancel);
}

TEST_F(ComposeDialogTest, VerTogglesThePasswordBetweenClearAndStars) {
  ComposePresets presets;
  presets.profile_name = ToAnsi(U("Amigos del club"));
  auto dialog = Open(presets);
  QLineEdit* password = Control<QLineEdit>(*dialog, 1405);
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  QTest::mouseClick(Control<QCheckBox>(*dialog, 1406), Qt::LeftButton);
  EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
  QTest::mouseClick(Control<QCheckBox>(*dialog, 1406), Qt::LeftButton);
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(password->text(), "clave compartida");
  QTest::keyClick(dialog.get(), Qt::Key_Escape);
  EXPECT_EQ(dialog->result(), kDialogCancel);
}

TEST_F(ComposeDialogTest, BodyStopsAtEightHundredWithLineBreaksCountingTwo) {
  auto dialog = Open({});
  auto* body = Control<QPlainTextEdit>(*dialog, 1403);
  body->setFocus();
  QTest::keyClicks(body, QString(797, u'a'));
  QTest::keyClick(body, Qt::Key_Return);  // 799
  QTest::keyClick(body, Qt::Key_Return);  // would be 801
  QTest::keyClicks(body, "bc");           // only "b" fits
  EXPECT_EQ(body->toPlainText(), QString(797, u'a') + "\nb");
  EXPECT_EQ(LimitedTextEdit::Length(body->toPlainText()), 800);
  dialog->reject();
}

TEST_F(ComposeDialogTest, PresetsOverTheirLimitsAreRefusedOnConfirmAndTheDialogStays) {
  ComposePresets presets;
  presets.receiver = "Ana_garcia";
  presets.subject = "Re: " + std::string(100, 's');  // a reply to a subject already full
  presets.body = std::string(399, 'b') + "\r\n" + std::string(399, 'b');  // 800: fits
  presets.profile_name = ToAnsi(U("Amigos del club"));
  auto dialog = Open(presets);
  EXPECT_EQ(Text(*dialog, 1402).size(), 104);
  Click(*dialog, 1);
  ASSERT_EQ(Captions(runner_), std::vector<QString>{U("Texto demasiado largo")});
  EXPECT_TRUE(runner_.events[0].text.contains(U("'Asunto'")));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), Control<QLineEdit>(*dialog, 1402));

  Control<QLineEdit>(*dialog, 1402)->setText("Re: corto");
  Click(*dialog, 1);
  EXPECT_EQ(dialog->result(), kDialogOk);
  EXPECT_EQ(dialog->body().size(), 800u);
}

TEST_F(ComposeDialogTest, BodyPresetOverItsLimitIsRefused) {
  ComposePresets presets;
  presets.receiver = "Ana_garcia";
  presets.subject = "Hola";
  presets.body = std::string(400, 'b') + "\r\n" + std::string(399, 'b');  // 801
  presets.profile_name = ToAnsi(U("Amigos del club"));
  auto dialog = Open(presets);
  auto* body = Control<QPlainTextEdit>(*dialog, 1403);
  body->moveCursor(QTextCursor::End);
  QTest::keyClicks(body, "x");
  EXPECT_EQ(LimitedTextEdit::Length(body->toPlainText()), 801);
  Click(*dialog, 1408);
  EXPECT_EQ(Captions(runner_), std::vector<QString>{U("Texto demasiado largo")});
  EXPECT_TRUE(dialog->isVisible());
  dialog->reject();
}

TEST_F(ComposeDialogTest, HelpButtonExplainsTheSharedPassword) {
  auto dialog = Open({});
  Click(*dialog, 1407);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, U("Contraseña de encriptación y desencriptación"));
  EXPECT_EQ(runner_.events[0].text,
            U("Esta contraseña también la debe conocer el usuario receptor de este mensaje para "
              "que pueda descifrarlo.\n\nTanto emisor como receptor debéis establecer qué "
              "contraseña usaréis para vuestros mensajes encriptados.\n\nEvidentemente no podéis "
              "usar Velkoran para intercambiar contraseñas. Deberéis usar otro medio para tal "
              "fin, normalmente por eMail o en persona."));
  EXPECT_TRUE(dialog->isVisible());
  dialog->reject();
}

}  // namespace
}  // namespace velkorant
