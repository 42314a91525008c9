// The main window and the dialogs for keyboard and screen-reader users: what a screen reader
// reads for each control, the order Tab walks, the shortcuts, and Esc in the dialogs.

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>

#include "app/about_dialogs.h"
#include "dialog_controls.h"
#include "main_window_fixture.h"
#include "dialogs/compose_dialog.h"
#include "settings/password_profiles.h"
#include "dialogs/preferences_dialog.h"
#include "dialogs/profiles_dialog.h"

namespace velkorant::testing {
namespace {

// What a screen reader announces for the widget.
QString SpokenName(QWidget* widget) {
  QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(widget);
  return accessible == nullptr ? QString() : accessible->text(QAccessible::Name).trimmed();
}

// Every control a user can reach or needs to read: focusable ones, and pictures that carry state.
std::vector<QWidget*> ControlsToName(QWidget& window) {
  std::vector<QWidget*> controls;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    const bool focusable =
        widget->focusPolicy() != Qt::NoFocus &&
        (qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
         qobject_cast<QComboBox*>(widget) || qobject_cast<QAbstractItemView*>(widget) ||
         qobject_cast<QTextEdit*>(widget) || qobject_cast<QPlainTextEdit*>(widget));
    // A combo box's own line edit is read as the combo box; its drop-down list is a popup.
    if (focusable && widget->window() == &window &&
        qobject_cast<QComboBox*>(widget->parentWidget()) == nullptr)
      controls.push_back(widget);
  }
  return controls;
}

// The objectNames of the widgets Tab reaches from `start`, until it comes back (at most 40).
QStringList TabWalk(QWidget* start, Qt::Key key = Qt::Key_Tab) {
  start->setFocus(Qt::TabFocusReason);
  QStringList walk;
  for (int i = 0; i < 40; ++i) {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr)
      break;
    // The line edit inside a combo box stands for the box.
    if (qobject_cast<QComboBox*>(focus->parentWidget()) != nullptr)
      focus = focus->parentWidget();
    if (i > 0 && focus == start)
      break;
    walk << focus->objectName();
    QTest::keyClick(QApplication::focusWidget(), key);
  }
  return walk;
}

using KeyboardTest = MainWindowTest;

TEST_F(KeyboardTest, EveryControlHasANameAScreenReaderCanRead) {
  WriteSettings();
  Start();
  for (QWidget* control : ControlsToName(*frame()))
    EXPECT_FALSE(SpokenName(control).isEmpty())
        << control->metaObject()->className() << " " << control->objectName().toStdString();
  // The picture-only controls say what they are, not their "." or "..." caption.
  EXPECT_EQ(Find<QAbstractButton>(1166)->accessibleName(), QStringLiteral("Vaciar el terminal"));
  EXPECT_EQ(Find<QAbstractButton>(1024)->accessibleName(), QStringLiteral("Borrar la búsqueda"));
  QStringList envelope;
  for (int id : {1168, 1169, 1170, 1171}) {
    QLabel* picture = Find<QLabel>(id);
    envelope << SpokenName(picture);
    EXPECT_TRUE(envelope.back().startsWith(QStringLiteral("Estado del buzón: "))) << id;
  }
  envelope.removeDuplicates();
  EXPECT_EQ(envelope.size(), 4) << "each envelope state has its own name";
  // Without a system tray (offscreen) there is no tray icon, and nothing else changes.
  EXPECT_EQ(app_->tray_icon(), nullptr);
}

TEST_F(KeyboardTest, TabWalksTheFormInItsOrderAndLeavesTheListAfterOneStop) {
  WriteSettings();
  StoreMessages({Sent("Luis_Marin_1", "uno", "2024-01-02 10:00:00", true),
                 Received("Luis_Marin_1", "dos", "2024-01-03 10:00:00", false)});
  Start();
  ClickRow(QStringLiteral("e1"));
  // With a sent message accepted by the server: forward and delete are on, the others off.
  const QStringList forward = {"1126", "1164", "1001", "1011", "1013", "1162", "1165", "1125",
                               "1021", "1020", "1015", "1016", "1022", "1023", "1024", "1166"};
  EXPECT_EQ(TabWalk(Find<QWidget>(1126)), forward);
  QStringList backward = forward;
  std::reverse(backward.begin() + 1, backward.end());
  EXPECT_EQ(TabWalk(Find<QWidget>(1126), Qt::Key_Backtab), backward);
}

TEST_F(KeyboardTest, ShortcutsDoWhatTheirButtonsDoAndOnlyWhenTheyCould) {
  SampleSettings no_name;
  no_name.user_name.clear();
  WriteSettings(no_name);
  Start();
  frame()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame()));
  const QStringList lines = TerminalLines();

  // No user name: F5 receives nothing, as the disabled button would not.
  QTest::keyClick(frame(), Qt::Key_F5);
  EXPECT_EQ(TerminalLines(), lines);
  EXPECT_TRUE(runner_.events.empty());
  // Ctrl+N composes: without a user name that is the precondition's box.
  QTest::keyClick(frame(), Qt::Key_N, Qt::ControlModifier);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].dialog_id, QString());
  // Ctrl+F goes to the search field.
  QTest::keyClick(frame(), Qt::Key_F, Qt::ControlModifier);
  EXPECT_EQ(QApplication::focusWidget(), Find<QWidget>(1022));
  // Ctrl+Q is "Salir".
  EXPECT_EQ(frame()->command(kCommandExit)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
  QTest::keyClick(frame(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !frame()->isVisible(); }, 2000));
}

TEST_F(KeyboardTest, F5ReceivesWhenTheButtonIsOn) {
  SampleSettings sample;
  sample.server = "localhost:1/velkorant/";  // refused at once: nobody listens there
  WriteSettings(sample);
  Start();
  frame()->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame()));
  const qsizetype lines = TerminalLines().size();
  QTest::keyClick(frame(), Qt::Key_F5);
  EXPECT_GT(TerminalLines().size(), lines);
  ASSERT_FALSE(runner_.events.empty());
  EXPECT_EQ(runner_.events.back().caption, QStringLiteral("Error de conexión."));
}

// --- Dialogs -------------------------------------------------------------------------------

class DialogKeyboardTest : public ::testing::Test {
 protected:
  void Show(QDialog& dialog) {
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  }
  // Esc, with the focus where it is: the dialog ends as "Cancelar" does.
  void PressEscape(QDialog& dialog) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible()) << dialog.objectName().toStdString();
    EXPECT_EQ(dialog.result(), kDialogCancel) << dialog.objectName().toStdString();
  }
  // Tab reaches the controls in reading order: down the dialog, and left to right on a line.
  void ExpectReadingOrder(QDialog& dialog, QWidget* first) {
    const QStringList walk = TabWalk(first);
    ASSERT_GT(walk.size(), 3);
    for (qsizetype i = 1; i < walk.size(); ++i) {
      const QWidget* a = dialog.findChild<QWidget*>(walk[i - 1]);
      const QWidget* b = dialog.findChild<QWidget*>(walk[i]);
      ASSERT_TRUE(a && b);
      const QRect ra(a->mapTo(&dialog, QPoint(0, 0)), a->size());
      const QRect rb(b->mapTo(&dialog, QPoint(0, 0)), b->size());
      const int tolerance = std::max(ra.height(), rb.height()) / 2;
      const bool same_line = std::abs(ra.center().y() - rb.center().y()) <= tolerance;
      EXPECT_TRUE(same_line ? rb.left() > ra.left() : rb.center().y() > ra.center().y())
          << dialog.objectName().toStdString() << ": " << walk[i - 1].toStdString() << " then "
          << walk[i].toStdString();
    }
  }
  void ExpectNamedControls(QDialog& dialog) {
    for (QWidget* control : ControlsToName(dialog)) {
      if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        EXPECT_FALSE(SpokenName(button).isEmpty()) << control->objectName().toStdString();
        EXPECT_NE(SpokenName(button), QStringLiteral(".")) << control->objectName().toStdString();
      }
    }
  }

  Installation installation_;
  SettingsStore store_;
  ScriptedRunner runner_;
};

TEST_F(DialogKeyboardTest, PreferencesEscapeKeepsWhatWasStored) {
  {
    CDialog_preferencias dialog(store_, runner_, [](int) {});
    Show(dialog);
    ExpectNamedControls(dialog);
    EXPECT_EQ(Control<QWidget>(dialog, 1143)->accessibleName(),
              QStringLiteral("Ayuda sobre usar un servidor propio"));
    ExpectReadingOrder(dialog, Control<QWidget>(dialog, 1140));
    Type(dialog, 1140, QStringLiteral("Nombre_nuevo_1"));
    PressEscape(dialog);
  }
  EXPECT_TRUE(LoadSettings(store_).value().user_name.empty());
  EXPECT_TRUE(runner_.events.empty()) << "no registration was tried";
}

TEST_F(DialogKeyboardTest, ProfilesEscapeSavesNoProfile) {
  {
    CFtpConnect dialog(store_, runner_);
    Show(dialog);
    ExpectNamedControls(dialog);
    ExpectReadingOrder(dialog, Control<QWidget>(dialog, 1007));
    Type(dialog, 1007, QStringLiteral("Amigos"));
    Type(dialog, 1005, QStringLiteral("una clave larga"));
    PressEscape(dialog);
  }
  EXPECT_TRUE(EnumerateProfiles(store_).value().empty());
}

TEST_F(DialogKeyboardTest, ComposeEscapeFromTheBodyCancels) {
  PasswordProfile profile;
  profile.name = "Amigos";
  profile.password = "una clave larga";
  WriteProfile(store_, profile.name, profile);
  ComposePresets presets;
  presets.own_user_name = "Hannah_desert";
  CDialog_redactar_msj dialog(store_, runner_, presets);
  Show(dialog);
  ExpectNamedControls(dialog);
  EXPECT_EQ(Control<QWidget>(dialog, 1407)->accessibleName(),
            QStringLiteral("Ayuda sobre la contraseña del mensaje"));
  ExpectReadingOrder(dialog, Control<QWidget>(dialog, 1401));
  Type(dialog, 1401, QStringLiteral("Luis_Marin_1"));
  // Esc from the multi-line body too (Enter there is a new line, Esc is not).
  dialog.findChild<QPlainTextEdit*>()->setFocus();
  PressEscape(dialog);
  EXPECT_TRUE(dialog.receiver().empty());
}

TEST_F(DialogKeyboardTest, InformationBoxesCloseWithEscapeAndNameTheirLinks) {
  CAboutDlg about;
  Show(about);
  for (int id : {1507, 1508, 1509}) {
    const QString name = SpokenName(Control<QWidget>(about, id));
    EXPECT_TRUE(name.startsWith(QStringLiteral("IR: ")) && name.size() > 4) << id;
  }
  QTest::keyClick(&about, Qt::Key_Escape);
  EXPECT_FALSE(about.isVisible());
  for (auto* box :
       std::initializer_list<QDialog*>{new CAboutAES256Dlg, new CAboutDescargoRespoDlg}) {
    std::unique_ptr<QDialog> owned(box);
    Show(*box);
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : box,
                    Qt::Key_Escape);
    EXPECT_FALSE(box->isVisible()) << box->objectName().toStdString();
  }
}

}  // namespace
}  // namespace velkorant::testing
