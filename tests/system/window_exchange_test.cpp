// Two installations of the program, each with its own working folder and settings database, talk
// through the local mailbox server over TLS. Every step is done through the main window and its
// dialogs, as two people would: register in the preferences, agree on a profile, write, receive,
// read, answer; and a message whose profile the receiver lacks is opened once it is added.

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <cstdlib>

#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "dialog_controls.h"
#include "dialog_script.h"
#include "dialogs/compose_dialog.h"
#include "support/mailbox_server.h"
#include "view/main_view.h"
#include "view/message_commands.h"
#include "view/message_list_model.h"
#include "view/message_list_panel.h"

namespace velkorant::testing {
namespace {

// One person's installation: a working folder and a settings database of their own.
class Side {
 public:
  explicit Side(std::string user_name) : user_name_(std::move(user_name)) {
    QDir(root_.path()).mkpath(QStringLiteral("work"));
  }
  void Enter() const {
    ::setenv("XDG_CONFIG_HOME", QDir(root_.path()).filePath("config").toLocal8Bit().constData(), 1);
    QDir::setCurrent(QDir(root_.path()).filePath(QStringLiteral("work")));
  }
  const std::string& user_name() const { return user_name_; }
  QString name() const { return QString::fromStdString(user_name_); }

 private:
  QTemporaryDir root_;
  std::string user_name_;
};

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = LocalMailboxServer();
    ASSERT_FALSE(server_.server.empty()) << "the mailbox_server fixture did not run";
    ca_ = std::make_unique<ScopedCaBundle>(server_.ca);
    if (const char* config = std::getenv("XDG_CONFIG_HOME"))
      previous_config_ = config;
    previous_dir_ = QDir::currentPath();
  }
  void TearDown() override {
    app_.reset();
    QDir::setCurrent(previous_dir_);
    ::setenv("XDG_CONFIG_HOME", previous_config_.c_str(), 1);
    for (QWidget* widget : QApplication::topLevelWidgets())
      EXPECT_FALSE(widget->isVisible()) << widget->metaObject()->className();
  }

  // Starts the side's program; the first start of an installation shows the legal notice.
  void Open(const Side& side, bool first_start = false) {
    app_.reset();
    side.Enter();
    if (first_start)
      script_.steps.push_back([](QDialog& notice) { Click(notice, 1); });
    app_ = std::make_unique<MSJPRVApp>(&script_);
    ASSERT_TRUE(app_->InitInstance());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame()));
    auto* timer = view()->findChild<QTimer*>(QStringLiteral("100"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !timer->isActive(); }, 5000));
    EXPECT_TRUE(script_.steps.empty());
  }

  void Register(const Side& side) {
    script_.steps.push_back([&](QDialog& preferences) {
      Type(preferences, 1140, side.name());
      Type(preferences, 1142, QString::fromStdString(server_.server));
      Click(preferences, kDialogOk);
    });
    frame()->command(kCommandPreferences)->trigger();
  }

  void AddProfile(const QString& name, const QString& password) {
    script_.steps.push_back([=](QDialog& profiles) {
      Type(profiles, 1007, name);
      Type(profiles, 1005, password);
      Click(profiles, kDialogOk);
    });
    QTest::mouseClick(Find<QPushButton>(1001), Qt::LeftButton);
  }

  // Writes a new message to `receiver` with the listed profile `profile` and sends it.
  void Compose(const Side& receiver, const QString& subject, const QString& body,
               const QString& profile) {
    script_.steps.push_back([=, &receiver](QDialog& compose) {
      Type(compose, 1401, receiver.name());
      Type(compose, 1402, subject);
      Type(compose, 1403, body);
      auto* profiles = Control<QComboBox>(compose, 1404);
      const int index = profiles->findText(profile);
      ASSERT_GE(index, 0);
      while (profiles->currentIndex() < index)
        QTest::keyClick(profiles, Qt::Key_Down);
      Click(compose, kDialogOk);
    });
    QTest::mouseClick(Find<QPushButton>(kCommandCompose), Qt::LeftButton);
  }

  void Receive() { QTest::mouseClick(Find<QPushButton>(1126), Qt::LeftButton); }

  CMainFrame* frame() const { return app_->main_frame(); }
  CMainView* view() const { return frame()->view(); }
  template <typename Widget>
  Widget* Find(int id) const {
    auto* widget = frame()->findChild<Widget*>(QString::number(id));
    EXPECT_NE(widget, nullptr) << id;
    return widget;
  }
  // The row of that code, and one of its texts.
  int Row(const QString& code) const {
    const MessageListModel& model = view()->list().model();
    for (int row = 0; row < model.rowCount(); ++row) {
      if (model.row(row).texts[kColumnCode] == code)
        return row;
    }
    return -1;
  }
  QString Cell(const QString& code, int column) const {
    const int row = Row(code);
    return row < 0 ? QString()
                   : view()->list().model().row(row).texts[static_cast<std::size_t>(column)];
  }
  void ClickRow(const QString& code) {
    auto* table = Find<QTableView>(1013);
    const int row = Row(code);
    ASSERT_GE(row, 0) << code.toStdString();
    const QRect cell = table->visualRect(view()->list().model().index(row, kColumnSubject));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
  }
  QString ReadingText() const { return Find<QTextEdit>(1125)->toPlainText(); }
  // A box other than the ones the flow expects means something failed.
  void ExpectNoBoxes() {
    for (const RunnerEvent& event : script_.events)
      EXPECT_FALSE(event.dialog_id.isEmpty() && !event.text.isEmpty())
          << event.caption.toStdString() << ": " << event.text.toStdString();
    script_.events.clear();
  }

  ServerAddress server_;
  std::unique_ptr<ScopedCaBundle> ca_;
  std::string previous_config_;
  QString previous_dir_;
  DialogScript script_;
  std::unique_ptr<MSJPRVApp> app_;
};

TEST_F(ExchangeTest, TwoInstallationsTalkThroughTheirWindows) {
  const Side ana("ana_" + RandomFolder());
  const Side bruno("bruno_" + RandomFolder());
  const QString shared = QStringLiteral("Club de lectura");
  const QString shared_password = U("contraseña del club");

  // Both choose their names and agree on a profile.
  for (const Side* side : {&ana, &bruno}) {
    Open(*side, true);
    EXPECT_FALSE(Find<QPushButton>(1126)->isEnabled());
    Register(*side);
    EXPECT_EQ(view()->settings().user_name, side->user_name());
    EXPECT_EQ(view()->settings().server_name, server_.server);
    EXPECT_TRUE(Find<QPushButton>(1126)->isEnabled());
    AddProfile(shared, shared_password);
    ASSERT_EQ(view()->passwords().entries().size(), 1u);
    ExpectNoBoxes();
  }

  // Ana writes; the server accepts it.
  Open(ana);
  Compose(bruno, U("¿Cenamos?"), U("El viernes a las nueve.\nTraigo el libro."), shared);
  ExpectNoBoxes();
  EXPECT_EQ(view()->list().current_code(), "e1");
  EXPECT_EQ(Cell("e1", kColumnReplied), " ");  // accepted by the server
  EXPECT_TRUE(Find<QPushButton>(kCommandForward)->isEnabled());

  // Bruno receives by button, reads it (the row turns blue) and answers.
  Open(bruno);
  Receive();
  ASSERT_GE(Row("r1"), 0);
  EXPECT_EQ(Cell("r1", kColumnSubject), U("¿Cenamos?"));
  EXPECT_EQ(Cell("r1", kColumnSender), ana.name());
  EXPECT_EQ(Cell("r1", kColumnColour), "3");
  ClickRow("r1");
  EXPECT_EQ(Cell("r1", kColumnColour), "2");
  EXPECT_TRUE(ReadingText().contains(U("Traigo el libro.")));
  script_.steps.push_back([&](QDialog& compose) {
    EXPECT_EQ(Text(compose, 1401), ana.name());
    EXPECT_EQ(Text(compose, 1402), U("Re: ¿Cenamos?"));
    EXPECT_EQ(Text(compose, 1404), shared);
    Type(compose, 1403, U("Perfecto, allí estaré."));
    Click(compose, kDialogOk);
  });
  QTest::mouseClick(Find<QPushButton>(kCommandReply), Qt::LeftButton);
  ExpectNoBoxes();
  EXPECT_EQ(Cell("r1", kColumnReplied), "R");
  EXPECT_EQ(Cell("e1", kColumnReplied), " ");

  // Ana receives the answer.
  Open(ana);
  Receive();
  EXPECT_EQ(Cell("r1", kColumnSubject), U("Re: ¿Cenamos?"));
  EXPECT_EQ(Cell("r1", kColumnSender), bruno.name());
  ClickRow("r1");
  EXPECT_TRUE(ReadingText().contains(U("Perfecto, allí estaré.")));

  // A message under a profile Bruno does not have yet.
  const QString secret = QStringLiteral("Solo nosotros");
  AddProfile(secret, QStringLiteral("otra clave secreta"));
  Compose(bruno, QStringLiteral("Privado"), QStringLiteral("Nadie más lo lee."), secret);
  ExpectNoBoxes();
  EXPECT_EQ(view()->list().current_code(), "e2");
  EXPECT_EQ(Cell("e2", kColumnReplied), " ");

  Open(bruno);
  Receive();
  EXPECT_EQ(Cell("r2", kColumnSubject), "<sin desencriptar>");
  EXPECT_EQ(Cell("r2", kColumnColour), "1");
  AddProfile(secret, QStringLiteral("otra clave secreta"));
  EXPECT_EQ(Cell("r2", kColumnSubject), QStringLiteral("Privado"));
  EXPECT_EQ(Cell("r2", kColumnSender), ana.name());
  ClickRow("r2");
  EXPECT_TRUE(ReadingText().contains(QStringLiteral("Nadie más lo lee.")));
  ExpectNoBoxes();
}

}  // namespace
}  // namespace velkorant::testing
