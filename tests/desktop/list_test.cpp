// SPDX-License-Identifier: GPL-3.0-or-later
// The message list for everyone: what a new user does first; what the rows' colours say, told
// to a screen reader; search without case or accents; the unread count and who wrote, named
// plainly; several messages deleted at once.

#include <QAccessible>
#include <QSignalSpy>

#include "app/tray_icon.h"
#include "window.h"

namespace velkorant::testing {
namespace {

TEST_F(WindowTest, RowsSayTheirStatesAndSearchIgnoresCaseAndAccents) {
  runner_.steps.push_back([](QDialog& legal_notice) { legal_notice.accept(); });
  Start();  // a new user's
  EXPECT_TRUE(Terminal().contains("Para empezar: registra") && Pane().contains("Para empezar:"));
  Message replied = Msg('r', "Luisa", "Cena", "3");
  replied.flag_msj_respondido = true;
  StartWith({Msg('a', "Ana", "Jos\xE9", "1"), Msg('n', "Ana", "x", "2"), replied,
             Msg('u', "Ana", "\361and\372", "4"), Msg('x', "?", "cifrado", "5")});
  EXPECT_FALSE(Terminal().contains("Para empezar"));  // a user with a profile
  const QString names[] = {"r3, sin desencriptar", U("r2, no leído"), "r1, respondido",
                           "e2, no enviado", "e1"};  // newest first
  auto* table = QAccessible::queryAccessibleInterface(Get(kIdMessageList))->tableInterface();
  for (int row = 0; row < 5; ++row) {
    EXPECT_EQ(table->cellAt(row, 0)->text(QAccessible::Name), names[row]);
    EXPECT_EQ(table->cellAt(row, 4)->text(QAccessible::Description), names[row].section(", ", 1));
    EXPECT_EQ(list().model().index(row, 3).data(Qt::FontRole).value<QFont>().bold(), row == 1);
  }
  auto* view = Get<QTableView>(kIdMessageList);  // a full date in bold still fits its column
  const QFont bold = list().model().index(1, 5).data(Qt::FontRole).value<QFont>();
  EXPECT_LE(QFontMetrics(bold.resolve(view->font())).horizontalAdvance("2024-12-31 23:59:59"),
            view->columnWidth(5) - 10);
  const std::pair<const char*, QString> searches[] = {
      {"jose", "e1"}, {"ÑANDÚ", "r2"}, {"Cifrádo", "r3"}, {"zz", ""}};
  for (const auto& [query, codes] : searches) {
    Get<QLineEdit>(kIdSearch)->setText(U(query));
    QTest::keyClick(Get(kIdSearch), Qt::Key_Return);
    EXPECT_EQ(Column().join(' '), codes) << query;
  }
  EXPECT_TRUE(Pane() == "Sin resultados" && Get(kIdSearch)->accessibleDescription() == Pane());
}

TEST_F(WindowTest, UnreadAreCountedTheirSendersNamedPlainlyAndSeveralGoAtOnce) {
  EXPECT_EQ(TrayIcon::PlainName(QString("a%1b%2c").arg(QChar(7)).arg(QChar(0x202E))), "abc");
  StartWith();
  QWidget elsewhere;  // the program in the background
  ASSERT_TRUE(Activate(elsewhere));
  Store({Msg('u', "Bea", "1", "1"), Msg('u', "a\007b", "2", "2"), Msg('x', "?", "3", "3"),
         Msg('u', std::string(50, '\xF1'), "4", "4"), Msg('u', "<b>Ana</b>", "5", "5")});
  view()->ReloadMessages();
  QSignalSpy notified(app_->tray_icon(), &TrayIcon::notified);
  view()->SetStatusIcon(static_cast<int>(StatusIcon::kNewMessages));
  ASSERT_TRUE(notified.wait(5000));
  EXPECT_EQ(notified[0][1].toString(), "Tienes 4 mensajes sin leer.\nDe: &lt;b&gt;Ana&lt;/b&gt;, " +
                                           QString(40, u'\u00F1') + U(", ab y 1 más."));
  ClickRow("r5");  // read now
  QTest::keyClick(Get(kIdMessageList), Qt::Key_Down, Qt::ShiftModifier);
  // One of them gone meanwhile: the other still goes, and nothing is said of it.
  runner_.on_box = [] { EXPECT_TRUE(MessageStore(".").DeleteMessage(false, 4)); };
  runner_.answers = {kAnswerYes};
  QTest::keyClick(Get(kIdMessageList), Qt::Key_Delete);
  WaitForFlows();
  ASSERT_EQ(runner_.Captions(), QStringList{"Eliminar mensajes"});  // and no failure
  EXPECT_EQ(runner_.events[0].second, U("¿ Eliminar estos 2 mensajes ?"));
  EXPECT_TRUE(Column().join(' ') == "r3 r2 r1" && Key(false, 5, "asunto_msj") == "-");
  EXPECT_EQ(frame()->windowTitle(), "Velkorant (2 sin leer)");
}

}  // namespace
}  // namespace velkorant::testing
