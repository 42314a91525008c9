// The frame, the start-up, the terminal, the envelope, the timers and the action buttons.

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QTextEdit>
#include <QTimer>
#include <ctime>

#include "main_window_fixture.h"
#include "ui/dialog_units.h"
#include "ui/event_sound_player.h"

namespace velkorant::testing {
namespace {

bool Shown(QWidget* widget) {
  return widget->isVisibleTo(widget->parentWidget());
}

std::int32_t StoredFirstRun() {
  SettingsStore store;
  return store.ReadInt("Opciones", "EjecPrimVez", -1).value_or(-2);
}

TEST_F(MainWindowTest, FreshStartShowsTheLegalNoticeOnceAndRemembersIt) {
  const std::time_t before = std::time(nullptr);
  Start();
  EXPECT_EQ(frame()->windowTitle(), QStringLiteral("Velkorant"));
  EXPECT_EQ(frame()->size(), QSize(1455, 823));
  EXPECT_EQ(frame()->minimumSize(), frame()->maximumSize());
  const int screen_width = QGuiApplication::primaryScreen()->virtualGeometry().width();
  EXPECT_EQ(frame()->pos(), QPoint(CMainFrame::InitialLeft(screen_width), 100));

  const QStringList lines = TerminalLines();
  ASSERT_EQ(lines.size(), 1);
  const QRegularExpression first_line(
      QStringLiteral("^(\\d\\d):(\\d\\d):(\\d\\d) - Inicio del terminal OK$"));
  const auto match = first_line.match(lines.front());
  ASSERT_TRUE(match.hasMatch()) << lines.front().toStdString();
  std::tm local{};
  localtime_r(&before, &local);
  const int logged =
      match.captured(1).toInt() * 3600 + match.captured(2).toInt() * 60 + match.captured(3).toInt();
  const int started = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  EXPECT_LE((logged - started + 86400) % 86400, 5);

  EXPECT_EQ(frame()->pane(0)->text(), QStringLiteral("Velkorant v1.1a"));
  EXPECT_EQ(frame()->pane(2)->text(), QString());
  EXPECT_EQ(Find<QTextEdit>(1125)->toPlainText().trimmed(), QStringLiteral("Velkorant v1.1a"));
  EXPECT_TRUE(Shown(Find<QLabel>(1168)));
  for (int id : {1169, 1170, 1171})
    EXPECT_FALSE(Shown(Find<QLabel>(id))) << id;

  // Half a second later: the notice, then the flag is cleared and stored.
  EXPECT_EQ(runner_.CountDialogs(QStringLiteral("134")), 0);
  EXPECT_EQ(StoredFirstRun(), -1);
  ASSERT_TRUE(WaitForStartupTimer());
  ASSERT_EQ(runner_.CountDialogs(QStringLiteral("134")), 1);
  EXPECT_EQ(runner_.events.back().caption,
            QStringLiteral("Velkorant (Descargo de responsabilidad)"));
  EXPECT_EQ(StoredFirstRun(), 0);
  EXPECT_TRUE(Shown(Find<QLabel>(1168)));
  // No receive at start-up unless asked for.
  EXPECT_EQ(TerminalLines().size(), 1);

  app_.reset();
  Start();
  ASSERT_TRUE(WaitForStartupTimer());
  EXPECT_EQ(runner_.CountDialogs(QStringLiteral("134")), 1);
}

TEST_F(MainWindowTest, WindowStartsAtTheLeftEdgeOnNarrowScreens) {
  EXPECT_EQ(CMainFrame::InitialLeft(1299), 1);
  EXPECT_EQ(CMainFrame::InitialLeft(1300), 100);
  EXPECT_EQ(CMainFrame::InitialLeft(3840), 100);
}

TEST_F(MainWindowTest, MenuCommandsCarryTheirIdentifiersAndCaptions) {
  WriteSettings();
  Start();
  const std::pair<int, const char16_t*> commands[] = {
      {1501, u"Comprobar conexión con servidor"},
      {1500, u"&Salir"},
      {1502, u"Preferencias"},
      {1503, u"Perfiles de contraseñas"},
      {57664, u"&Acerca de ..."},
      {1504, u"Encriptación Punto a Punto"},
      {1505, u"Descargo de responsabilidad"},
  };
  for (const auto& [id, caption] : commands) {
    QAction* action = frame()->command(id);
    ASSERT_NE(action, nullptr) << id;
    EXPECT_EQ(action->text(), QString::fromUtf16(caption)) << id;
  }
  QStringList menus;
  for (QAction* action : frame()->menuBar()->actions())
    menus << action->text();
  EXPECT_EQ(menus, QStringList({QStringLiteral("Archivo"), QStringLiteral("Configuración")}));
  EXPECT_EQ(frame()->menuBar()->cornerWidget()->actions().front()->text(), QStringLiteral("Ayuda"));

  frame()->command(1504)->trigger();
  frame()->command(57664)->trigger();
  ASSERT_EQ(runner_.events.size(), 2u);
  EXPECT_EQ(runner_.events[0].caption, QStringLiteral("Encriptación Punto a Punto"));
  EXPECT_EQ(runner_.events[1].caption, QStringLiteral("Acerca de ..."));
}

// The real runner: the box is modal and a queued click closes it, so nothing hangs.
TEST_F(MainWindowTest, InformationBoxesRunModallyAndCloseWithTheirButton) {
  WriteSettings();
  Start(nullptr);
  QString seen;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    seen = box->windowTitle();
    EXPECT_NE(box->findChild<QLabel*>(), nullptr);
    bool heading = false;
    for (QLabel* label : box->findChildren<QLabel*>())
      heading = heading || label->text() == QStringLiteral("AVISO LEGAL");
    EXPECT_TRUE(heading);
    auto* accept = box->findChild<QPushButton*>(QStringLiteral("1"));
    ASSERT_NE(accept, nullptr);
    EXPECT_EQ(accept->text(), QStringLiteral("Aceptar"));
    accept->click();
  });
  frame()->command(1505)->trigger();
  EXPECT_EQ(seen, QStringLiteral("Velkorant (Descargo de responsabilidad)"));

  QString tooltip;
  QTimer::singleShot(0, [&] {
    QWidget* box = QApplication::activeModalWidget();
    ASSERT_NE(box, nullptr);
    tooltip = box->findChild<QPushButton*>(QStringLiteral("1507"))->toolTip();
    box->findChild<QPushButton*>(QStringLiteral("1"))->click();
  });
  frame()->command(57664)->trigger();
  EXPECT_EQ(tooltip, QStringLiteral("Visita el sitio web oficial de la aplicación"));
}

TEST_F(MainWindowTest, ActionButtonsFollowTheCurrentMessage) {
  WriteSettings();
  StoreMessages({
      Sent("Ana_garcia", "aceptado", "2024-03-01 10:00:00", true),
      Sent("Ana_garcia", "sin enviar", "2024-03-02 10:00:00", false),
      Received("Ana_garcia", "descifrado", "2024-03-03 10:00:00", true),
      Received("Ana_garcia", "sin descifrar", "2024-03-04 10:00:00", false, false),
  });
  Start();
  const int ids[] = {1160, 1161, 1162, 1163, 1165, 1126};
  const auto enabled = [&] {
    std::vector<int> on;
    for (int id : ids) {
      if (Find<QPushButton>(id)->isEnabled())
        on.push_back(id);
    }
    return on;
  };
  using V = std::vector<int>;
  EXPECT_EQ(enabled(), V({1126}));
  ClickRow(QStringLiteral("e1"));
  EXPECT_EQ(enabled(), V({1162, 1165, 1126}));
  ClickRow(QStringLiteral("e2"));
  EXPECT_EQ(enabled(), V({1163, 1165, 1126}));
  ClickRow(QStringLiteral("r1"));
  EXPECT_EQ(enabled(), V({1160, 1161, 1165, 1126}));
  ClickRow(QStringLiteral("r2"));
  EXPECT_EQ(enabled(), V({1165, 1126}));
  for (int id : {1164, 1001, 1011, 1023, 1024, 1166})
    EXPECT_TRUE(Find<QPushButton>(id)->isEnabled()) << id;

  // Without a user name nothing can be received by hand.
  SampleSettings nameless;
  nameless.user_name.clear();
  WriteSettings(nameless);
  view()->ReloadSettings();
  EXPECT_EQ(enabled(), V({1165}));
}

TEST_F(MainWindowTest, EnvelopeShowsOnePictureForEachState) {
  WriteSettings();
  Start();
  const std::pair<int, int> picture_of_state[] = {{1, 1168}, {2, 1170}, {3, 1171}, {4, 1169}};
  for (const auto& [state, picture] : picture_of_state) {
    view()->SetStatusIcon(state);
    for (int id : {1168, 1169, 1170, 1171})
      EXPECT_EQ(Shown(Find<QLabel>(id)), id == picture) << state << " " << id;
  }
  view()->SetStatusIcon(0);
  for (int id : {1168, 1169, 1170, 1171})
    EXPECT_FALSE(Shown(Find<QLabel>(id))) << id;
}

TEST_F(MainWindowTest, TerminalClearsAndStartsAgain) {
  WriteSettings();
  Start();
  view()->LogTerminal("uno");
  EXPECT_EQ(TerminalLines().size(), 2);
  QTest::mouseClick(Find<QPushButton>(1166), Qt::LeftButton);
  EXPECT_TRUE(TerminalLines().isEmpty());
  view()->LogTerminal("dos ", "y tres");
  ASSERT_EQ(TerminalLines().size(), 1);
  EXPECT_TRUE(TerminalLines().front().endsWith(QStringLiteral(" - dos y tres")));
}

// A server that refuses the connection (a closed loopback port): the check fails at once.
SampleSettings Unreachable() {
  SampleSettings settings;
  settings.server = "127.0.0.1:9/velkorant/";
  return settings;
}

TEST_F(MainWindowTest, ServerCheckReportsAndSoundsOnlyWhileSoundsAreOn) {
  WriteSettings(Unreachable());
  Start();
  frame()->command(1501)->trigger();
  const QStringList lines = TerminalLines();
  ASSERT_GE(lines.size(), 3);
  EXPECT_TRUE(
      lines[1].endsWith(QStringLiteral(" - Conectando con servidor 127.0.0.1:9/velkorant/")));
  EXPECT_TRUE(lines[2].contains(QStringLiteral("Error de conexión")));
  EXPECT_TRUE(Shown(Find<QLabel>(1169)));
  EXPECT_EQ(view()->sounds().last_played(), 204);
  EXPECT_TRUE(runner_.events.empty());

  view()->settings().play_sounds = false;
  frame()->command(1501)->trigger();
  EXPECT_EQ(view()->sounds().played_count(), 1);
}

TEST_F(MainWindowTest, TimersReceiveOnlyWhenTheirOptionIsOn) {
  SampleSettings settings = Unreachable();
  settings.user_name.clear();  // the button is off, the timers still receive
  WriteSettings(settings);
  Start();
  ASSERT_TRUE(WaitForStartupTimer());
  view()->OnTimer(101);
  EXPECT_EQ(TerminalLines().size(), 1);
  EXPECT_TRUE(runner_.events.empty());

  // Switched on in the preferences: the next tick receives (and meets the refused connection).
  view()->settings().receive_every_30_minutes = true;
  view()->OnTimer(101);
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, QStringLiteral("Error de conexión."));
  EXPECT_TRUE(Shown(Find<QLabel>(1169)));
  EXPECT_TRUE(view()->findChild<QTimer*>(QStringLiteral("101"))->isActive());
}

TEST_F(MainWindowTest, StartupTimerReceivesWhenAskedTo) {
  SampleSettings settings = Unreachable();
  settings.receive_at_startup = 1;
  WriteSettings(settings);
  Start();
  ASSERT_TRUE(WaitForStartupTimer());
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, QStringLiteral("Error de conexión."));
}

TEST_F(MainWindowTest, ExitButtonAndMenuCloseTheWindow) {
  WriteSettings();
  Start();
  QTest::mouseClick(Find<QPushButton>(1011), Qt::LeftButton);
  EXPECT_FALSE(frame()->isVisible());
  frame()->show();
  frame()->command(1500)->trigger();
  EXPECT_FALSE(frame()->isVisible());
}

TEST_F(MainWindowTest, DeleteKeyAsksOnlyWhileAMessageIsCurrent) {
  WriteSettings();
  StoreMessages({Received("Ana_garcia", "hola", "2024-03-03 10:00:00", true)});
  Start();
  QSignalSpy requests(&list(), &MessageListPanel::deleteRequested);
  QTest::keyClick(table(), Qt::Key_Delete);
  EXPECT_EQ(requests.count(), 0);
  ClickRow(QStringLiteral("r1"));
  QTest::keyClick(table(), Qt::Key_Delete);
  EXPECT_EQ(requests.count(), 1);
  // The runner answers the question with No: nothing is deleted.
  ASSERT_EQ(runner_.events.size(), 1u);
  EXPECT_EQ(runner_.events[0].caption, QStringLiteral("Eliminar mensaje"));
  view()->message_store().LoadMessageStore();
  EXPECT_EQ(view()->message_store().messages().size(), 1u);
}

TEST_F(MainWindowTest, DialogUnitsRoundEachEdgeLikeTheSystem) {
  const DialogUnits units(9, 18);
  // 11 * 9 / 4 = 24.75, 90 * 9 / 4 = 202.5 (halves round up), 3 * 18 / 8 = 6.75, 17 * 18 / 8
  // = 38.25
  EXPECT_EQ(units.Rect(11, 3, 79, 14), QRect(25, 7, 178, 31));
  EXPECT_EQ(units.X(633), 1424);
}

// Whatever font stands in for the dialog font, the form fits the window and no caption is cut.
TEST_F(MainWindowTest, FormFitsTheWindowAndCaptionsFitTheirControls) {
  WriteSettings();
  Start();
  EXPECT_LE(view()->x() + view()->width(), frame()->width());
  EXPECT_LE(view()->y() + view()->height(), frame()->statusBar()->y());
  for (QAbstractButton* button : view()->findChildren<QAbstractButton*>()) {
    if (button->text().isEmpty())
      continue;
    int needed = button->fontMetrics().horizontalAdvance(button->text()) + 8;
    if (!button->icon().isNull())
      needed += button->iconSize().width() + 4;
    if (qobject_cast<QCheckBox*>(button) != nullptr)
      needed += button->style()->pixelMetric(QStyle::PM_IndicatorWidth) + 4;
    EXPECT_LE(needed, button->width()) << button->objectName().toStdString();
  }
  for (QWidget* control : view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (!control->isVisibleTo(view()))
      continue;
    EXPECT_TRUE(view()->rect().contains(control->geometry()))
        << control->objectName().toStdString();
  }
}

}  // namespace
}  // namespace velkorant::testing
