// SPDX-License-Identifier: GPL-3.0-or-later
// The profiles, preferences and compose dialogs, worked through their controls: their group
// frames, the checks made when they are confirmed, the limits of their fields, what they store,
// and saves that fail.

#include <QAccessible>
#include <QClipboard>
#include <QLabel>
#include <QMessageBox>
#include <map>
#include <tuple>

#include "dialogs/compose_dialog.h"
#include "dialogs/passphrase_dialog.h"
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
    dialog_.reset();  // first: a new dialog reads what the old one stored
    using Made = TemplateDialog*;
    // The program reads and writes the profiles on a worker; here they are read and written
    // at once, on the same store.
    const auto change = [this](ProfileChange confirmed, auto finished) {
      finished(ApplyProfileChange(store_, confirmed));
    };
    passwords_.LoadPasswordList(store_);
    dialog_.reset(id == kProfilesDialogId
                      ? Made(new CFtpConnect(StoredProfiles::Read(store_).value(), change, runner_))
                  : id == kPreferencesDialogId
                      ? Made(new CDialog_preferencias(store_, runner_, nullptr))
                  : id == kPassphraseDialogId
                      ? Made(new PassphraseDialog(PassphraseDialog::Purpose::kBackup, runner_))
                      : Made(new CDialog_redactar_msj(EnumerateProfiles(store_).value(), passwords_,
                                                      runner_, presets_)));
    dialog_->show();
    return *dialog_;
  }

  SettingsStore store_;
  PasswordList passwords_;
  ComposePresets presets_{.own_user_name = "Hannah_desert"};
  std::unique_ptr<TemplateDialog> dialog_;
};

TEST_F(DialogTest, ConfirmChecksTheFieldsInTheirOrder) {
  // Profiles, settings (preferences), compose, a backup's passphrase.
  const int P = kProfilesDialogId, S = kPreferencesDialogId, C = kComposeDialogId,
            F = kPassphraseDialogId;
  // The dialog; the field typed into (a profile list's first entry that begins with the text is
  // chosen) and the text; the button clicked, which takes the focus; the caption of the box it
  // shows (none: the dialog ends); the field the box names, which has the focus once answered.
  const std::tuple<int, int, const char*, int, const char*, int> cases[] = {
      {P, kIdProfilePassword, "1234567", kDialogOk, "Falta el nombre del perfil", kIdProfileName},
      {P, kIdProfileName, "seleccion", kDialogOk, "Contraseña muy corta", kIdProfilePassword},
      // Names the stores cannot hold as a profile; characters that would change the password.
      {P, kIdProfilePassword, "пароль12", kDialogOk, "Nombre de perfil no válido", kIdProfileName},
      {P, kIdProfileName, "Club\\Sub", kDialogOk, "Nombre de perfil no válido", kIdProfileName},
      {P, kIdProfileName, "Amigos", kDialogOk, "Contraseña no válida", kIdProfilePassword},
      {P, kIdProfilePassword, "12345678", kDialogOk, nullptr, 0},
      {S, kIdServerName, "", kDialogOk, "Falta tu nombre de usuario", kIdUserName},
      {S, kIdUserName, "Hannah d", kDialogOk, "Falta el nombre del servidor", kIdServerName},
      {S, kIdServerName, "x", kDialogOk, nullptr, 0},
      {C, kIdSubject, "", kDialogOk, "Falta el nombre de usuario", kIdReceiver},
      {C, kIdReceiver, "Hannah_desert", kDialogOk, "Auto-mensaje", kIdReceiver},
      {C, kIdReceiver, "hannah_desert", kComposeSaveOnly, "Falta el asunto del mensaje",
       kIdSubject},
      {C, kIdSubject, " ", kDialogOk, "Falta el texto del mensaje", kIdBody},
      {C, kIdBody, "Hola\nadios", kComposeSaveOnly, "Selecciona un perfil de contraseña",
       kIdComposeProfile},
      {C, kIdComposeProfile, "A", kComposeSaveOnly, nullptr, 0},
      {F, kIdPassphrase, "1234567", kDialogOk, "Frase de paso muy corta", kIdPassphrase},
      {F, kIdPassphrase, "пароль12", kDialogOk, "Frase de paso no válida", kIdPassphrase},
      {F, kIdPassphrase, "12345678", kDialogOk, "Las frases de paso no coinciden",
       kIdPassphraseRepeat},
      {F, kIdPassphraseRepeat, "12345678", kDialogOk, nullptr, 0}};
  for (const auto& [dialog, field, text, button, box, focus] : cases) {
    if (dialog_ == nullptr || dialog_->objectName().toInt() != dialog)
      ExpectFramesThroughCaptions(Open(dialog));
    runner_.events.clear();
    Type(*dialog_, field, U(text));
    Click(*dialog_, button);
    EXPECT_EQ(runner_.Captions().join(""), U(box ? box : "")) << "typed: " << text;
    EXPECT_EQ(dialog_->result(), box ? 0 : button);
    EXPECT_TRUE(!box || dialog_->focusWidget() == Find(*dialog_, focus)) << box;
  }
  // The profile changed is stored. (A first name's count starting over is the preferences
  // command's test to check; the name and server kept are used by the window exchange.)
  EXPECT_EQ(ReadProfile(store_, "Amigos").profile->password, "12345678");
}

// Typing and pasting stop at each field's limit; a single-line field takes only the first line
// of a pasted text. A longer text the program put in stays whole until confirming refuses it.
TEST_F(DialogTest, FieldsKeepToTheirLimits) {
  // The dialog, the field, its limit, and the length of a longer text the program put in, or 0.
  const std::tuple<int, int, int, int> cases[] = {{kProfilesDialogId, kIdProfileName, 40, 0},
                                                  {kProfilesDialogId, kIdProfilePassword, 40, 0},
                                                  {kProfilesDialogId, kIdProfileComment1, 100, 104},
                                                  {kPreferencesDialogId, kIdUserName, 40, 0},
                                                  {kPreferencesDialogId, kIdUserComment, 100, 0},
                                                  {kPreferencesDialogId, kIdServerName, 100, 101},
                                                  {kComposeDialogId, kIdReceiver, 100, 0},
                                                  {kComposeDialogId, kIdSubject, 100, 104},
                                                  {kComposeDialogId, kIdBody, 800, 801}};
  for (const auto& [dialog, field, limit, length] : cases) {
    const std::string longer(static_cast<std::size_t>(length), 'p'), hola = "Hola";
    presets_ = {
        "Ana", field == kIdSubject ? longer : hola, field == kIdBody ? longer : hola, "L", false,
        "Yo"};
    for (const std::string_view name : {std::string_view("L"), kReservedProfileName})
      ASSERT_TRUE(WriteProfile(store_, name, {"L", "clave larga", longer, "", "", ""}));
    ASSERT_TRUE(
        SavePreferences(store_, {"", "", field == kIdServerName ? longer : "x", "", 0, 0, 1}));
    if (auto* line = qobject_cast<QLineEdit*>(Field(Open(dialog), field))) {
      QApplication::clipboard()->setText("Hola\nEMI:Falso_remitente");
      Type(*dialog_, field, "");
      QTest::keySequence(line, QKeySequence::Paste);
      EXPECT_EQ(line->text(), "Hola") << field;
    }
    Type(*dialog_, field,  // a break is two: the second no longer fits in the last one left
         (field == kIdBody ? "\n" + QString(limit - 3, u'x') + "\n" : QString()) +
             QString(limit + 3, u'x'));
    EXPECT_EQ(LimitedTextEdit::Length(Text(*dialog_, field)), limit) << field;
    EXPECT_FALSE(Text(*dialog_, field).contains(u'p')) << field;  // emptied first, even when full
    // The body's count beside it.
    EXPECT_EQ(field == kIdBody ? Text(*dialog_, kIdBodyLength) : "800 / 800", "800 / 800");
    if (length == 0)
      continue;
    QWidget* typed = Field(Open(dialog), field);
    QTest::keyClick(typed, Qt::Key_End);
    QTest::keyClick(typed, Qt::Key_X);
    runner_.events.clear();
    Click(*dialog_, 1);
    EXPECT_EQ(runner_.Captions(), QStringList{"Texto demasiado largo"}) << field;
    EXPECT_TRUE(dialog_->isVisible() && dialog_->focusWidget() == typed &&
                Text(*dialog_, field).size() == length);
  }
}

// Leaving a compose dialog whose subject or body was changed asks first, and so does confirming
// characters the stored message cannot hold; No keeps it open as it was.
TEST_F(DialogTest, ComposeAsksBeforeLosingOrChangingWhatWasTyped) {
  ASSERT_TRUE(WriteProfile(store_, "A", {"A", kPassword, "", "", "", ""}));
  presets_ = {"Ana", "Asunto", "Cuerpo", "A", false, "Yo"};
  const std::tuple<int, const char*, int, const char*, const char*> cases[] = {
      // Field typed into (0: none), its text, button (0: Esc, -1: the close box), and the box's
      // caption and a part of its text (none: the dialog ends). Each box's default is No.
      {0, "", 0, "", ""},
      {kIdBody, "Cuerpo", 0, "", ""},  // typed as it was
      {kIdSubject, "Otro", 0, "Descartar mensaje", "¿ Descartar el mensaje que has escrito ?"},
      {kIdBody, "Otro", kDialogCancel, "Descartar mensaje", ""},
      {kIdSubject, "Otro", -1, "Descartar mensaje", ""},
      {kIdReceiver, "ő日Ana日", kDialogOk, "Caracteres que cambiarán",
       "\n\nő → o\n日 → ?\n\n¿ Guardar y"},
      {kIdBody, "€ ő", kComposeSaveOnly, "Caracteres que cambiarán", "\n\nő → o\n\n¿ Guardar el"}};
  for (const auto& [field, text, button, caption, shown] : cases) {
    Open(kComposeDialogId);
    runner_.events.clear();
    if (field != 0)
      Type(*dialog_, field, U(text));
    button == 0 ? Escape(*dialog_) : button < 0 ? (void)dialog_->close() : Click(*dialog_, button);
    EXPECT_EQ(runner_.Captions().join(""), U(caption)) << text;
    EXPECT_TRUE(!*caption || runner_.types.back() == (kBoxYesNoQuestion | kBoxDefaultSecond));
    EXPECT_TRUE(runner_.events.empty() || runner_.events[0].second.contains(U(shown)));
    EXPECT_EQ(dialog_->isVisible() ? Text(*dialog_, field) : "", *caption ? U(text) : "");
  }
}

// Each dialog fits the screen's free area, and every control the focus can reach has a name
// screen readers say (a sign is none), each field and check box an Alt key of its own; with the
// focus, a control comes into view. On the default offscreen screen and, from ctest, on 1366 by
// 768, on 1920 by 1080 at 150 % and on a small one at 125 %, where the dialogs scroll.
TEST_F(DialogTest, EveryControlIsNamedAndInReach) {
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  // The screen ctest asked for, if any.
  const QString size = QString("%1x%2").arg(screen.width()).arg(screen.height());
  ASSERT_EQ(qEnvironmentVariable("VELKORANT_TEST_SCREEN", size), size);
  for (const int id :
       {kProfilesDialogId, kPreferencesDialogId, kComposeDialogId, kPassphraseDialogId}) {
    TemplateDialog& dialog = Open(id);
    ASSERT_TRUE(Activate(dialog) && screen.contains(dialog.frameGeometry())) << id;
    std::map<int, QWidget*> keys;  // Alt + key: what it reaches, a label's buddy or a button
    for (QWidget* control : dialog.findChildren<QWidget*>()) {
      const auto* label = qobject_cast<QLabel*>(control);
      const int key = QKeySequence::mnemonic(control->property("text").toString())[0].toCombined();
      EXPECT_TRUE(key == 0 || keys.emplace(key, label ? label->buddy() : control).second) << id;
    }
    for (QWidget* control : dialog.findChildren<QWidget*>()) {
      if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisibleTo(&dialog) ||
          !control->isEnabled())
        continue;
      const QString name = QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
      const auto key = std::ranges::find(keys, control, &decltype(keys)::value_type::second);
      key != keys.end() ? QTest::keySequence(dialog.focusWidget(), QKeySequence(key->first))
                        : control->setFocus();
      // A field without a key: the line of a combo box, or "Comentarios, línea 2" under line 1.
      const bool button = control->inherits("QPushButton"),
                 unkeyed =
                     control->focusProxy() || name.contains(QRegularExpression(", línea [2-4]"));
      EXPECT_TRUE(name.contains(QRegularExpression("\\w\\w")) &&
                  (!button || control->property("text").toString().size() > 1 ||
                   control->toolTip() == name) &&
                  (key != keys.end() || button || unkeyed) &&
                  dialog.focusWidget() ==
                      (control->focusProxy() ? control->focusProxy() : control) &&
                  dialog.rect().contains(QRect(control->mapTo(&dialog, QPoint()), control->size())))
          << id << ": " << name.toStdString();
    }
  }
}

// A box is as wide as its longest line needs, up to the screen's width, and its default button
// is the one its type asks for.
TEST_F(DialogTest, BoxesFitTheirLongestLine) {
  const std::tuple<const char*, unsigned, const char*> cases[] = {
      {"Si eliminas este nombre de usuario:\n\n· Por seguridad, nunca más podrás usar este "
       "nombre de usuario (ni tú ni nadie).",
       kBoxYesNoQuestion | kBoxDefaultSecond, "No"},
      {"Sí, a las <b>nueve</b>", kBoxYesNoQuestion, "Sí"},  // a subject's markup is text, as typed
      {"Un renglón sin fin", kBoxOkQuestion, "Aceptar"}};   // repeated past the screen's width
  for (const auto& [text, type, default_button] : cases) {
    const QString shown = type == kBoxOkQuestion ? U(text).repeated(60) : U(text);
    const auto box = MakeMessageBox(nullptr, shown, "Velkorant", type);
    box->show();
    auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    for (const QString& line : shown.split('\n'))
      EXPECT_TRUE(box->width() == box->screen()->availableGeometry().width() ||
                  label->width() >= label->fontMetrics().horizontalAdvance(line))
          << line.toStdString();
    EXPECT_TRUE(box->rect().contains(label->geometry()));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(label)->text(QAccessible::Name), shown);
    EXPECT_EQ(box->defaultButton()->text(), U(default_button));
  }
}

// The disk under the settings fills after the window started: a dialog whose save fails says so
// and stays open, its fields as they were.
TEST_F(WindowTest, ASaveThatFailsKeepsItsDialogOpen) {
  const ScratchMount disk;
  if (!disk.ok())
    GTEST_SKIP() << disk.SkipReason();
  ::setenv("XDG_CONFIG_HOME", disk.path().c_str(), 1);
  StartWith();  // the profiles dialog opens on "Amigos"
  disk.Fill();
  for (const auto& [command, field, button] :
       {std::tuple(kCommandPreferences, kIdUserComment, kDialogOk),
        {kCommandPreferences, kIdUserComment, kIdDeleteUser},
        {kCommandProfiles, kIdProfilePassword, kDialogOk},
        {kCommandProfiles, kIdProfilePassword, kIdProfileDelete}}) {
    runner_.events.clear();
    runner_.answers = {kAnswerYes};  // to a deletion's question
    runner_.steps.push_back([&](QDialog& dialog) {
      Type(dialog, field, "una clave larga");
      Click(dialog, button);
      // The profiles are written on a worker while the dialog waits.
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return !static_cast<TemplateDialog&>(dialog).waiting(); }, 9000));
      EXPECT_TRUE(
          runner_.Captions().join("|").endsWith(U("No se ha podido guardar la configuración")));
      EXPECT_EQ(dialog.isVisible() ? Text(dialog, field) : "", "una clave larga");
      Escape(dialog);
    });
    Press(command);
  }
  EXPECT_EQ(
      std::count(runner_.types.begin(), runner_.types.end(), kBoxYesNoQuestion | kBoxDefaultSecond),
      2);  // No first
}

}  // namespace
}  // namespace velkorant::testing
