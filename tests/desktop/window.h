// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The desktop program as its tests drive it: a private installation, the windows worked through
// their controls (found by identifier), and a runner that records every box and runs each dialog
// in a real modal loop, handing it to the next scripted step. A dialog that does not close is
// closed as a failure by gui_test_main.cpp within seconds, so no step can hang a test.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <ranges>

#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "common/ui_services.h"
#include "dialogs/dialog_fields.h"
#include "platform/ini_file.h"
#include "settings/password_profiles.h"
#include "store/message_store.h"
#include "support/installation.h"
#include "ui/dialog_runner.h"
#include "ui/qt_text.h"
#include "view/flow_runner.h"
#include "view/main_view.h"
#include "view/message_list_panel.h"

// Failures print texts, not bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
  *out << text.toStdString();
}

namespace velkorant::testing {

// Records every box and answers it from `answers` (OK, or No to a question, once they run out)
// after `on_box` ran; runs each dialog modally, handing it to the next of `steps`.
class Runner final : public DialogRunner {
 public:
  int ShowMessageBox(QWidget*, const QString& text, const QString& caption,
                     unsigned type) override {
    events.push_back({caption, text});
    types.push_back(type);
    if (on_box)
      on_box();
    const bool yes_no = (type & ~kBoxDefaultSecond) == kBoxYesNoQuestion;
    const int answer = answers.empty() ? (yes_no ? kAnswerNo : kAnswerOk) : answers.front();
    answers.erase(answers.begin(), answers.begin() + (answers.empty() ? 0 : 1));
    return answer;
  }
  int RunModal(QDialog& dialog) override {
    dialogs << dialog.windowTitle();
    EXPECT_FALSE(steps.empty()) << "no step for the dialog " << dialog.objectName().toStdString();
    if (steps.empty())
      return kDialogCancel;
    QTimer::singleShot(0, &dialog, [&dialog, step = std::move(steps.front())] { step(dialog); });
    steps.pop_front();
    return dialog.exec();
  }
  // The boxes' captions.
  QStringList Captions() const {
    const auto captions = std::views::keys(events);
    return {captions.begin(), captions.end()};
  }

  std::vector<std::pair<QString, QString>> events;  // caption and text
  std::vector<unsigned> types;                      // of every box, never cleared
  QStringList dialogs;                              // their titles
  std::deque<int> answers;
  std::function<void()> on_box;
  std::deque<std::function<void(QDialog&)>> steps;
};

// Nobody listens there: a request fails at once and leaves its lines in the terminal.
inline constexpr const char* kClosedServer = "127.0.0.1:1/velkorant/";
inline constexpr const char* kPassword = "clave compartida";

// The settings of a user who has run the program before, with password profiles.
struct Account {
  std::string user = "Hannah_desert", server = kClosedServer;
  std::int32_t at_start = 0, every_30 = 0;
  std::vector<std::string> profiles = {"Amigos"};  // each with kPassword
};

// A private installation, a runner, and the ways a user works the controls.
class GuiTest : public ::testing::Test {
 public:
  static QString U(const char* utf8) { return QString::fromUtf8(utf8); }
  template <typename Widget = QWidget>
  static Widget* Find(const QWidget& parent, int id) {
    auto* widget = parent.findChild<Widget*>(QString::number(id));
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
  }
  static void Click(const QWidget& parent, int id) {
    QTest::mouseClick(Find<QAbstractButton>(parent, id), Qt::LeftButton);
  }
  // A field's own line edit, or the field.
  static QWidget* Field(const QWidget& parent, int id) {
    auto* combo = qobject_cast<QComboBox*>(Find(parent, id));
    return combo != nullptr && combo->isEditable() ? combo->lineEdit() : Find(parent, id);
  }
  // Empties the field and types the text key by key, a line break as Enter. In a list that
  // cannot be edited, typing chooses the first entry that begins with the text.
  static void Type(const QWidget& parent, int id, const QString& text) {
    QWidget* field = Field(parent, id);
    if (!field->inherits("QComboBox")) {  // emptied as a user does it
      QTest::keySequence(field, QKeySequence::SelectAll);
      QTest::keyClick(field, Qt::Key_Delete);
    }
    for (const QChar c : text) {
      QKeyEvent key(QEvent::KeyPress, c == u'\n' ? Qt::Key_Return : Qt::Key_unknown, {},
                    c == u'\n' ? "" : QString(c));
      QApplication::sendEvent(field, &key);
    }
  }
  static QString Text(const QWidget& parent, int id) {
    for (const char* property : {"currentText", "plainText", "text"})
      if (const QVariant text = Find(parent, id)->property(property); text.isValid())
        return text.toString();
    return {};
  }
  // Makes the window the active one, as a click on it would.
  static bool Activate(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == &window; }, 5000);
  }
  // Every group's frame line runs through the middle of its caption, which sits on the top edge
  // of the group's rectangle: looked for just inside its right end, past the caption.
  static void ExpectFramesThroughCaptions(QWidget& form) {
    const QImage image = form.grab().toImage();
    for (const QGroupBox* group : form.findChildren<QGroupBox*>()) {
      const int x = group->geometry().right() - 8, top = group->geometry().top();
      int line = top;
      while (line < top + 40 && image.pixel(x, line) == image.pixel(x, top - 1))
        ++line;
      EXPECT_NEAR(line - top, form.fontMetrics().height() / 2, 1) << group->title().toStdString();
    }
  }
  // Esc from the control that has the focus, as a user leaves a dialog.
  static void Escape(QDialog& dialog) {
    QTest::keyClick(dialog.focusWidget() ? dialog.focusWidget() : &dialog, Qt::Key_Escape);
  }

  // A message of the kind 'a' sent and accepted by the server, 'n' sent and not accepted,
  // 'u' received unread, 'r' received and read, 'x' received and not decrypted.
  static Message Msg(char kind, const std::string& other, const std::string& subject,
                     const std::string& date) {
    const bool sent = kind == 'a' || kind == 'n', accepted = kind == 'a', read = kind != 'u';
    const std::string me = "Hannah_desert", from = sent ? me : other, to = sent ? other : me;
    return {0,         date, from,     to,   subject,    "Hola,\r\nun saludo.",
            kPassword, sent, accepted, read, kind != 'x'};
  }
  static void Store(const std::vector<Message>& messages) {
    MessageStore store(".");
    for (const Message& message : messages)
      EXPECT_NE(store.SaveMessage(message).numero, 0u);
  }
  // A key of a stored message as its file in the working folder holds it ("-" when absent).
  static std::string Key(bool sent, int numero, std::string_view key) {
    const std::string section =
        (sent ? "mensaje_enviado_" : "mensaje_recibido_") + std::to_string(numero);
    return IniDocument::Parse(Installation::Bytes(sent ? kSentMessagesFile : kReceivedMessagesFile))
        .GetString(section, key, "-");
  }
  static void WriteSettings(const Account& account = {}) {
    SettingsStore store;
    EXPECT_TRUE(SavePreferences(
        store, {account.user, "", account.server, "", account.at_start, account.every_30, 1}));
    EXPECT_TRUE(store.WriteInt(kOptionsSection, kFirstRunEntry, 0));
    for (const std::string& name : account.profiles)  // the last one also as the one used last
      EXPECT_TRUE(WriteProfile(store, name, {name, kPassword, "", "", "", ""}) &&
                  WriteProfile(store, kReservedProfileName, {name, kPassword, "", "", "", ""}));
  }

  Installation home_;
  Runner runner_;
};

// The main window of the installation.
class WindowTest : public GuiTest {
 protected:
  void TearDown() override {
    app_.reset();
    for (QWidget* widget : QApplication::topLevelWidgets())
      EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
    EXPECT_TRUE(runner_.steps.empty()) << "a dialog the test waited for never came";
  }
  // Starts the program, past its start-up timer and the receive run it may start.
  void Start() {
    app_.reset();
    app_ = std::make_unique<MSJPRVApp>(&runner_);
    ASSERT_TRUE(app_->InitInstance());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
    auto* timer = view()->findChild<QTimer*>(QString::number(kStartupTimerId));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !timer->isActive(); }, 5000));
    WaitForFlows();
  }
  // Starts it for a user with these settings and messages.
  void StartWith(const std::vector<Message>& messages = {}, const Account& account = {}) {
    WriteSettings(account);
    Store(messages);
    Start();
  }
  CMainFrame* frame() const { return app_->main_frame(); }
  CMainView* view() const { return frame()->view(); }
  MessageListPanel& list() const { return view()->list(); }
  template <typename Widget = QWidget>
  Widget* Get(int id) const {
    return Find<Widget>(*frame(), id);
  }
  // A menu command or a button, and the flows it started run to their end.
  void Press(int id) const {
    QAction* command = frame()->command(id);
    command ? command->trigger() : Click(*frame(), id);
    WaitForFlows();
  }
  // The server flows, the local jobs (store changes, the profiles) and what they open.
  void WaitForFlows() const {
    EXPECT_TRUE(QTest::qWaitFor(
        [this] {
          return !view()->flows().busy() && !view()->local().busy() &&
                 !view()->commands().profiles_dialog_pending;
        },
        30'000));
  }
  // Runs a command whose dialog gets its fields typed in and is confirmed with `button`.
  void Fill(int command, const std::vector<std::pair<int, QString>>& fields,
            int button = kDialogOk) {
    runner_.steps.push_back([=](QDialog& dialog) {
      for (const auto& [id, text] : fields)
        Type(dialog, id, text);
      Click(dialog, button);
    });
    Press(command);
  }
  // The compose dialog's fields for a message.
  static std::vector<std::pair<int, QString>> Letter(const QString& to, const QString& subject,
                                                     const QString& body, const QString& profile) {
    return {
        {kIdReceiver, to}, {kIdSubject, subject}, {kIdBody, body}, {kIdComposeProfile, profile}};
  }
  // One column of the list, top to bottom.
  QStringList Column(int column = kColumnCode) const {
    QStringList texts;
    for (int row = 0; row < list().model().rowCount(); ++row)
      texts << list().model().row(row).texts[static_cast<std::size_t>(column)];
    return texts;
  }
  QString Cell(const QString& code, int column) const {
    return Column(column).value(Column().indexOf(code));
  }
  void ClickRow(const QString& code) const {
    const QModelIndex cell = list().model().index(static_cast<int>(Column().indexOf(code)), 2);
    ASSERT_TRUE(cell.isValid()) << code.toStdString();
    auto* table = Get<QTableView>(kIdMessageList);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(cell).center());
  }
  // The codes of the rows selected in the list.
  QStringList Selected() const {
    QStringList codes;
    for (const QModelIndex& row : Get<QTableView>(kIdMessageList)->selectionModel()->selectedRows())
      codes << Column().value(row.row());
    return codes;
  }
  QString Pane() const { return Get<QTextEdit>(kIdReadingPane)->toPlainText(); }
  QString Terminal() const {
    QStringList lines;
    for (int i = 0; i < Get<QListWidget>(kIdTerminal)->count(); ++i)
      lines << Get<QListWidget>(kIdTerminal)->item(i)->text();
    return lines.join('\n');
  }

  std::unique_ptr<MSJPRVApp> app_;
};

}  // namespace velkorant::testing
