// The message list: filters, the user drop-down list, sorting, marking read, the reading pane,
// and finding the current message again after a reload.

#include <gmock/gmock.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextEdit>

#include "main_window_fixture.h"

namespace velkorant::testing {
namespace {

using ::testing::ElementsAre;

class MessageListTest : public MainWindowTest {
 protected:
  void SetUp() override { WriteSettings(); }

  void Click(int id) { QTest::mouseClick(Find<QAbstractButton>(id), Qt::LeftButton); }
  void ClickHeader(int column) {
    QHeaderView* header = table()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 10, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
  }
  QStringList UserFilterEntries() const {
    QStringList entries;
    auto* box = Find<QComboBox>(1015);
    for (int i = 0; i < box->count(); ++i)
      entries << box->itemText(i);
    return entries;
  }
  // Chooses an entry of the drop-down list with the keyboard, as a user does.
  void ChooseUser(const QString& name) {
    auto* box = Find<QComboBox>(1015);
    const int target = box->findText(name);
    ASSERT_GE(target, 0);
    box->setFocus();
    if (box->currentIndex() < 0)
      QTest::keyClick(box, Qt::Key_Home);
    for (int guard = 0; box->currentIndex() < target && guard < 100; ++guard)
      QTest::keyClick(box, Qt::Key_Down);
    ASSERT_EQ(box->currentText(), name);
  }
};

TEST_F(MessageListTest, KindFiltersAndUserCheckBox) {
  StoreMessages({
      Sent("Ana_garcia", "a", "2024-03-01 10:00:00", true),
      Received("Ana_garcia", "b", "2024-03-02 10:00:00", true),
      Received("Carlos_ruiz", "c", "2024-03-03 10:00:00", true),
  });
  Start();
  EXPECT_EQ(Codes(), QStringList({"r2", "r1", "e1"}));  // newest first

  Click(1021);  // "Enviados" off
  EXPECT_EQ(Codes(), QStringList({"r2", "r1"}));
  Click(1020);  // "Recibidos" off: nothing left
  EXPECT_TRUE(Codes().isEmpty());
  Click(1021);
  Click(1020);
  EXPECT_EQ(Codes().size(), 3);

  // "Usuario" without a chosen name changes nothing, not even with the next kind click.
  Click(1016);
  EXPECT_EQ(Codes().size(), 3);
  Click(1020);
  EXPECT_EQ(Codes().size(), 3);

  // A chosen name with "Usuario": only that party's messages, of the kinds checked.
  ChooseUser(QStringLiteral("Ana_garcia"));
  EXPECT_EQ(Codes(), QStringList({"e1"}));
  Click(1020);
  EXPECT_EQ(Codes(), QStringList({"r1", "e1"}));
  EXPECT_EQ(list().current_index(), -1);
}

TEST_F(MessageListTest, SearchIsCaseSensitiveAndTheDotsClearIt) {
  Message body_match = Received("Ana_garcia", "otro asunto", "2024-03-02 10:00:00", true);
  body_match.cuerpo_msj = "el informe va adjunto";
  StoreMessages({
      Sent("Ana_garcia", "Borrador del informe", "2024-03-01 10:00:00", true),
      body_match,
      Received("Ana_garcia", "EL INFORME FINAL", "2024-03-03 10:00:00", true),
      Received("Ana_garcia", "nada que ver", "2024-03-04 10:00:00", true),
  });
  Start();
  auto* search = Find<QLineEdit>(1022);
  EXPECT_EQ(search->maxLength(), 100);
  QTest::keyClicks(search, QStringLiteral("informe"));
  Click(1023);
  EXPECT_EQ(Codes(), QStringList({"r1", "e1"}));

  Click(1024);
  EXPECT_TRUE(search->text().isEmpty());
  EXPECT_EQ(Codes().size(), 4);
}

TEST_F(MessageListTest, UserListMergesNamesDifferingInCaseButFiltersExactly) {
  StoreMessages({
      Received("Ana_garcia", "1", "2024-03-01 10:00:00", true),
      Received("ANA_GARCIA", "2", "2024-03-02 10:00:00", true),
      Sent("carlos_ruiz", "3", "2024-03-03 10:00:00", true),
      Received("?", "4", "2024-03-04 10:00:00", false, false),
      Sent("", "5", "2024-03-05 10:00:00", false),
      Received("Hannah_desert", "6", "2024-03-06 10:00:00", true),  // own name: no other party
  });
  Start();
  EXPECT_EQ(UserFilterEntries(), QStringList({"Ana_garcia", "carlos_ruiz"}));
  EXPECT_EQ(Find<QComboBox>(1015)->currentIndex(), -1);

  Click(1016);
  ChooseUser(QStringLiteral("Ana_garcia"));
  EXPECT_EQ(Codes(), QStringList({"r1"}));
}

TEST_F(MessageListTest, EmptyStoreGivesEmptyListsAndNoCurrentMessage) {
  Start();
  EXPECT_EQ(list().model().rowCount(), 0);
  EXPECT_TRUE(UserFilterEntries().isEmpty());
  EXPECT_EQ(list().current_index(), -1);
  EXPECT_EQ(list().FindMessageIndex(false, 1), -1);
}

TEST_F(MessageListTest, ClickingAnUnreadMessageMarksItReadOnce) {
  StoreMessages({
      Received("Ana_garcia", "sin leer", "2024-03-01 10:00:00", false),
      Received("Ana_garcia", "otro", "2024-03-02 10:00:00", false),
  });
  Start();
  const MessageListModel& model = list().model();
  const auto colours = [&](const QString& code) {
    const QModelIndex cell = model.index(static_cast<int>(Codes().indexOf(code)), kColumnSubject);
    return std::pair(model.data(cell, Qt::ForegroundRole).value<QColor>(),
                     model.data(cell, Qt::BackgroundRole).value<QColor>());
  };
  EXPECT_EQ(colours("r1"), std::pair(QColor(255, 255, 255), QColor(0x4B, 0x9A, 0x43)));

  ClickRow(QStringLiteral("r1"));
  EXPECT_EQ(colours("r1"), std::pair(QColor(0x04, 0x0E, 0xD7), QColor(0xF0, 0xF0, 0xF0)));
  EXPECT_EQ(colours("r2").second, QColor(0x4B, 0x9A, 0x43));
  EXPECT_TRUE(Find<QTextEdit>(1125)->toPlainText().contains(QStringLiteral("sin leer")));

  QFile file(QStringLiteral("mensajes_recibidos.ini"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray written = file.readAll();
  file.close();
  const qsizetype first = written.indexOf("[mensaje_recibido_1]");
  const qsizetype second = written.indexOf("[mensaje_recibido_2]");
  ASSERT_GE(first, 0);
  ASSERT_GT(second, first);
  const QByteArray section = written.mid(first, second - first);
  EXPECT_EQ(section.count("flag_msj_leido=1"), 1) << section.toStdString();
  EXPECT_EQ(written.mid(second).count("flag_msj_leido=0"), 1);

  // Read now: a second click writes nothing.
  ClickRow(QStringLiteral("r2"));
  ClickRow(QStringLiteral("r1"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray after = file.readAll();
  EXPECT_EQ(after.mid(first, second - first), section);
}

struct Run {
  QString text;
  QColor text_colour;
  QColor background;
  bool bold;
  bool operator==(const Run&) const = default;
};
void PrintTo(const Run& run, std::ostream* out) {
  *out << '"' << run.text.toStdString() << "\" " << run.text_colour.name().toStdString() << " on "
       << run.background.name().toStdString() << (run.bold ? " bold" : "");
}

// The pane's non-empty runs; adjacent runs of one format read as one.
std::vector<Run> Runs(const QTextEdit& pane) {
  std::vector<Run> runs;
  for (QTextBlock block = pane.document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const QTextCharFormat format = fragment.charFormat();
      runs.push_back({fragment.text(), format.foreground().color(), format.background().color(),
                      format.fontWeight() == QFont::Bold});
    }
  }
  return runs;
}

const QColor kLabel(0xD9, 0xA7, 0x51);
const QColor kDark(0x25, 0x25, 0x26);
const QColor kWhite(0xFF, 0xFF, 0xFF);

Run R(const char16_t* text, QColor colour, QColor background = kDark) {
  return {QString::fromUtf16(text), colour, background, true};
}

TEST_F(MessageListTest, ReadingPaneRunsForEachKindOfMessage) {
  Message sent = Sent("Ana_garcia", "Borrador", "2024-03-01 10:00:00", false);
  sent.cuerpo_msj = "l\xEDnea 1\r\nl\xEDnea 2";
  StoreMessages({
      sent,
      Received("Ana_garcia", "Hola", "2024-03-02 10:00:00", true),
      Received("?", "", "2024-03-03 10:00:00", false, false),
  });
  Start();
  const QTextEdit& pane = *Find<QTextEdit>(1125);
  EXPECT_EQ(pane.palette().color(QPalette::Base), kDark);

  ClickRow(QStringLiteral("e1"));
  EXPECT_THAT(
      Runs(pane),
      ElementsAre(R(u"Este mensaje aún no se ha enviado.", kWhite, QColor(0, 0, 0xC3)),
                  R(u"Fecha: ", kLabel), R(u"2024-03-01 10:00:00", kWhite), R(u"De: ", kLabel),
                  R(u"Hannah_desert", kWhite), R(u" --> A: ", kLabel), R(u"Ana_garcia", kWhite),
                  R(u" ", kWhite), R(u"Asunto: ", kLabel), R(u"Borrador", kWhite), R(u" ", kWhite),
                  R(u"Mensaje:", kLabel), R(u"línea 1", kWhite), R(u"línea 2", kWhite)));

  const QColor teal(0x65, 0xB9, 0xC1);
  ClickRow(QStringLiteral("r1"));
  EXPECT_THAT(
      Runs(pane),
      ElementsAre(R(u"Fecha: ", kLabel), R(u"2024-03-02 10:00:00", teal), R(u"De: ", kLabel),
                  R(u"Ana_garcia", teal), R(u" --> A: ", kLabel), R(u"Hannah_desert", teal),
                  R(u" ", kWhite), R(u"Asunto: ", kLabel), R(u"Hola", teal), R(u" ", kWhite),
                  R(u"Mensaje:", kLabel), R(u"Buenos días.", teal), R(u"Nos vemos mañana.", teal)));

  const QColor red(0xCB, 0x45, 0x45);
  ClickRow(QStringLiteral("r2"));
  EXPECT_THAT(
      Runs(pane),
      ElementsAre(
          R(u"Este mensaje no se ha podido desencriptar porque no dispones de la contraseña "
            u"correcta.",
            kWhite, red),
          R(u"Usa la sección 'Perfiles de contraseñas' para añadir la contraseña correcta.", kWhite,
            red),
          R(u"Fecha: ", kLabel), R(u"2024-03-03 10:00:00", red), R(u"De: ", kLabel), R(u"?", red),
          R(u" --> A: ", kLabel), R(u"Hannah_desert", red), R(u" ", kWhite), R(u"Asunto: ", kLabel),
          R(u" ", kWhite), R(u"Mensaje:", kLabel), R(u"9F3A0C77E1D2B4A5", red)));

  // Its row: red text and the cross icon.
  const QModelIndex cell = list().model().index(static_cast<int>(Codes().indexOf("r2")), 0);
  EXPECT_EQ(list().model().data(cell, Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
  EXPECT_EQ(list().model().row(cell.row()).icon, 6);
}

TEST_F(MessageListTest, HeaderClicksAlternateDirectionWhicheverColumn) {
  StoreMessages({
      Received("Bea", "beta", "2024-03-01 10:00:00", true),
      Received("alba", "Alfa", "2024-03-02 10:00:00", true),
      Received("Carmen", "gamma", "2024-03-03 10:00:00", true),
  });
  Start();
  ClickHeader(kColumnSubject);  // first click: ascending, without regard to case
  EXPECT_EQ(Column(kColumnSubject), QStringList({"Alfa", "beta", "gamma"}));
  ClickHeader(kColumnSender);  // second click, another column: descending
  EXPECT_EQ(Column(kColumnSender), QStringList({"Carmen", "Bea", "alba"}));
  ClickHeader(kColumnSender);
  EXPECT_EQ(Column(kColumnSender), QStringList({"alba", "Bea", "Carmen"}));
  // The hidden colour column sorts nothing but still turns the direction.
  list().OnColumnClick(kColumnColour);
  EXPECT_EQ(Column(kColumnSender), QStringList({"alba", "Bea", "Carmen"}));
  ClickHeader(kColumnSubject);
  EXPECT_EQ(Column(kColumnSubject), QStringList({"Alfa", "beta", "gamma"}));
}

TEST_F(MessageListTest, CodesSortAsText) {
  std::vector<Message> messages;
  for (int i = 1; i <= 10; ++i)
    messages.push_back(Sent("Ana_garcia", "s", "2024-03-01 10:00:00", true));
  StoreMessages(messages);
  Start();
  ClickHeader(kColumnCode);
  EXPECT_EQ(Codes().mid(0, 3), QStringList({"e1", "e10", "e2"}));
}

TEST_F(MessageListTest, ReloadFindsTheCurrentMessageAgainByItsCode) {
  StoreMessages({Received("Ana_garcia", "hola", "2024-03-02 10:00:00", true)});
  Start();
  ClickRow(QStringLiteral("r1"));
  ASSERT_EQ(list().current_index(), 0);

  // A sent message stored meanwhile comes before every received one in the message list.
  StoreMessages({Sent("Ana_garcia", "nuevo", "2024-03-05 10:00:00", false)});
  view()->ReloadMessages();
  ASSERT_EQ(list().current_index(), 1);
  EXPECT_EQ(MessageCode(*list().current_message()), QStringLiteral("r1"));
  EXPECT_TRUE(Find<QPushButton>(1160)->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(1163)->isEnabled());
  EXPECT_TRUE(Find<QTextEdit>(1125)->toPlainText().isEmpty());

  // Gone from the store: no current message any more.
  MessageStore(".").DeleteMessage(false, 1);
  view()->ReloadMessages();
  EXPECT_EQ(list().current_index(), -1);
  EXPECT_FALSE(Find<QPushButton>(1165)->isEnabled());
}

TEST_F(MessageListTest, SelectByCodeShowsThatMessage) {
  StoreMessages({
      Sent("Ana_garcia", "uno", "2024-03-01 10:00:00", true),
      Received("Ana_garcia", "dos", "2024-03-02 10:00:00", true),
  });
  Start();
  list().SelectMessageByCode(QStringLiteral("e1"));
  EXPECT_EQ(list().current_code(), QStringLiteral("e1"));
  EXPECT_EQ(list().current_index(), 0);
  EXPECT_TRUE(Find<QTextEdit>(1125)->toPlainText().contains(QStringLiteral("uno")));
  list().SelectMessageByCode(QStringLiteral("e9"));
  EXPECT_EQ(list().current_code(), QStringLiteral("e1"));
}

}  // namespace
}  // namespace velkorant::testing
