// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the place of its controls, what each kind of message allows, the list's
// filters, every command with its keys, and a start whose settings cannot be read.

#include <QClipboard>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/window_geometry.h"
#include "ui/event_sound_player.h"
#include "window.h"

namespace velkorant::testing {
namespace {

TEST_F(WindowTest, TheFormFollowsTheWindowAndTheWindowItsLastPlace) {
  StartWith();
  // 1455 by 823 outside, at its place where the screen's free area holds it; otherwise moved,
  // and cut to the free area where it is larger.
  const std::tuple<QRect, int, QRect> fits[] = {
      // the free area, the virtual screen's width, the window
      {{0, 0, 1920, 1040}, 1920, {100, 100, 1455, 823}},
      {{0, 0, 1600, 900}, 1600, {100, 77, 1455, 823}},
      {{0, 0, 1366, 728}, 1366, {0, 0, 1366, 728}},
      {{64, 0, 1216, 720}, 1280, {64, 0, 1216, 720}}};
  for (const auto& [available, width, window] : fits)
    EXPECT_EQ(CMainFrame::OuterGeometry(available, width), window) << available.width();
  const QScreen& screen = *QGuiApplication::primaryScreen();
  EXPECT_EQ(frame()->frameGeometry(), CMainFrame::OuterGeometry(screen.availableGeometry(),
                                                                screen.virtualGeometry().width()));
  EXPECT_TRUE(frame()->statusBar()->isSizeGripEnabled());
  // Under the form's minimum size the form scrolls: onto a control that takes the focus.
  ASSERT_TRUE(Activate(*frame()));
  Get(kIdClearTerminal)->setFocus();
  const auto* scroll = frame()->findChild<QScrollArea*>();
  const auto in_sight = [port = scroll->viewport()](const QWidget* control) {
    return port->rect().contains(QRect(control->mapTo(port, QPoint()), control->size()));
  };
  EXPECT_TRUE(in_sight(Get(kIdClearTerminal)));
  // A horizontal unit is a quarter of the average character, a vertical one an eighth of the
  // font's height; each edge is rounded on its own.
  EXPECT_EQ(DialogUnits(9, 18).Rect(11, 3, 79, 14), QRect(25, 7, 178, 31));
  EXPECT_LE(DialogUnits(view()->font()).base_x(), 9) << "a dialog font wider than the template's";

  // The template's size, maximised on 1920 by 1080, the free areas of 1366 by 768 and of 1920 by
  // 1080 at 150 %: the list, the reading pane and the terminal take the change (the list's column
  // never narrows); other controls keep their place beside theirs. The whole form is in sight.
  frame()->resize(1920, 1040);
  QApplication::processEvents();
  const QSize chrome = frame()->size() - scroll->viewport()->size();  // menus, status bar
  const QSize sizes[] = {DialogUnits(view()->font()).Rect(0, 0, 633, 307).size() + chrome,
                         {1920, 1040},
                         {1366, 728},
                         {1216, 688}};
  const std::tuple<int, int, bool, bool> beside[] = {
      // a control, its part, corner right, bottom
      {kIdReceive, kIdListGroup, false, false},      {kIdReply, kIdMessageList, false, true},
      {kIdEnvelopeIdle, kIdMessageList, true, true}, {kIdShowSent, kIdMessageList, false, true},
      {kIdBanner, kIdReadingPane, false, false},     {kIdClearTerminal, kIdTerminal, true, true}};
  const auto offset = [this](int id, int part, bool right, bool bottom) {
    const QRect p = Get(part)->geometry();
    return Get(id)->pos() - QPoint(right ? p.right() : p.left(), bottom ? p.bottom() : p.top());
  };
  const auto sign = [](int change) { return (change > 0) - (change < 0); };
  std::map<int, QPoint> offsets;  // at the first size
  std::map<int, QSize> stretched;
  for (const QSize& size : sizes) {
    SCOPED_TRACE(size.width());
    frame()->resize(size);
    QApplication::processEvents();
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible() ||
                 scroll->verticalScrollBar()->isVisible());
    const QList<QWidget*> controls = view()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* a : controls) {
      EXPECT_TRUE(!a->isVisible() || in_sight(a)) << a->objectName().toStdString();
      // No button, field or list covers another. (The envelope's pictures share one place, the
      // banner lies behind the reading pane's frame, and the frames hold the rest.)
      for (const QWidget* b : controls)
        EXPECT_FALSE(a < b && !a->inherits("QLabel") && !a->inherits("QGroupBox") &&
                     !b->inherits("QLabel") && !b->inherits("QGroupBox") &&
                     a->geometry().intersects(b->geometry()))
            << a->objectName().toStdString() << " " << b->objectName().toStdString();
    }
    for (const auto& [id, part, right, bottom] : beside) {
      const QPoint now = offset(id, part, right, bottom);
      EXPECT_EQ(now, offsets.try_emplace(id, now).first->second) << id;
    }
    const QSize change = size - sizes[0];
    const std::pair<int, int> grows[] = {{kIdMessageList, std::max(change.width(), 0)},
                                         {kIdReadingPane, change.width()},
                                         {kIdTerminal, change.width()}};
    for (const auto& [id, width] : grows) {
      const QSize first = stretched.try_emplace(id, Get(id)->size()).first->second;
      EXPECT_EQ(sign(Get(id)->width() - first.width()), sign(width)) << id;
      EXPECT_EQ(sign(Get(id)->height() - first.height()), sign(change.height())) << id;
    }
  }
  ExpectFramesThroughCaptions(*view());

  // Opened again on the same screens where it was closed, onto their free area where it would
  // lie outside it. The place is a preference of the user's, kept per screen configuration.
  EXPECT_EQ(ScreenConfiguration({{1920, 0, 1366, 768}, {0, 0, 1920, 1080}}),
            "1920x1080+0+0;1366x768+1920+0");
  const WindowGeometryFile places;
  const WindowPlace elsewhere{{1300, 20, 700, 500}, true};
  ASSERT_TRUE(places.Write("1366x768+0+0;1920x1080+1366+0", elsewhere));
  const QRect available = screen.availableGeometry();
  for (const QRect& closed : {QRect(10, 20, 780, 560), QRect(5000, 4000, 1455, 823)}) {
    frame()->setGeometry(closed);
    frame()->close();
    Start();
    EXPECT_TRUE(available.contains(closed) ? frame()->geometry() == closed
                                           : available.contains(frame()->frameGeometry()))
        << closed.x();
  }
  EXPECT_EQ(places.Read("1366x768+0+0;1920x1080+1366+0"), elsewhere);
  EXPECT_TRUE(places.path().startsWith(QString::fromStdString(home_.config().string())));
  // Where it cannot be kept, the window still closes.
  const std::filesystem::path folder = places.path().toStdString();
  std::filesystem::remove_all(folder.parent_path());
  std::ofstream(folder.parent_path()) << "no es una carpeta";
  EXPECT_FALSE(places.Write("1366x768+0+0", elsewhere));
  EXPECT_TRUE(frame()->close());
}

TEST_F(WindowTest, EachKindOfMessageHasItsButtonsAndRowColour) {
  StartWith({Msg('a', "Ana", "aceptado", "2024-03-01"), Msg('n', "Ana", "sin enviar", "2024-03-02"),
             Msg('u', "Ana", "sin leer", "2024-03-03"), Msg('x', "?", "cifrado", "2024-03-04")});
  // The message chosen (none first), the buttons on, its row's text before it is read, and the
  // colour of its fields in the reading pane.
  const std::tuple<QString, std::vector<int>, QColor, QColor> cases[] = {
      {"", {kIdReceive}, {}, {}},
      {"e1", {kIdForward, kIdDelete, kIdReceive}, Qt::black, Qt::white},
      {"e2", {kIdEdit, kIdDelete, kIdReceive}, Qt::black, Qt::white},
      {"r1", {kIdReply, kIdNewToSender, kIdDelete, kIdReceive}, Qt::white, QColor(0x65B9C1)},
      {"r2", {kIdDelete, kIdReceive}, Qt::red, QColor(0xCB4545)},
  };
  for (const auto& [code, buttons_on, row_text, fields] : cases) {
    SCOPED_TRACE(code.toStdString());
    const QModelIndex cell = list().model().index(static_cast<int>(Column().indexOf(code)), 2);
    EXPECT_EQ(cell.data(Qt::ForegroundRole).value<QColor>(), row_text);
    if (cell.isValid())
      ClickRow(code);
    view()->ReloadMessages();  // any reload keeps the message chosen, selected and shown
    EXPECT_EQ(Selected().join(""), code);
    EXPECT_EQ(Pane().isEmpty(), code.isEmpty());
    QTextCursor end(Get<QTextEdit>(kIdReadingPane)->document());
    end.movePosition(QTextCursor::End);
    EXPECT_EQ(end.charFormat().foreground().color(), code.isEmpty() ? Qt::black : fields);
    EXPECT_TRUE(code != "e2" || Pane() == U("Este mensaje aún no se ha enviado.\n\nFecha: "
                                            "2024-03-02\nDe: Hannah_desert --> A: Ana\n \n"
                                            "Asunto: sin enviar\n \nMensaje:\nHola,\nun saludo.\n"))
        << Pane().toStdString();
    std::vector<int> on;
    for (int id : {kIdReply, kIdNewToSender, kIdForward, kIdEdit, kIdDelete, kIdReceive})
      if (Get(id)->isEnabled())
        on.push_back(id);
    EXPECT_EQ(on, buttons_on);
  }
}

TEST_F(WindowTest, FiltersChooseTheRows) {
  Message body_match = Msg('r', "Ana_garcia", "otro asunto", "2024-03-02");
  body_match.cuerpo_msj = "el informe va adjunto";
  StartWith({Msg('a', "Ana_garcia", "Borrador del informe", "2024-03-01"), body_match,
             Msg('r', "ANA_GARCIA", "EL INFORME FINAL", "2024-03-03"),
             Msg('r', "carlos_ruiz", "beta", "2024-03-04"), Msg('x', "?", "Alfa", "2024-03-05"),
             Msg('r', "Hannah_desert", "gamma", "2024-03-06"),
             Msg('n', "", "delta", "2024-02-01")});
  const QString all = "r5 r4 r3 r2 r1 e1 e2";  // newest first
  // What is done; the control clicked, or typed into (0: the filters reset, as a receive run
  // does); the rows shown.
  const std::tuple<const char*, int, QString> cases[] = {
      {"sent off", kIdShowSent, "r5 r4 r3 r2 r1"},
      {"both off", kIdShowReceived, ""},
      {"sent on", kIdShowSent, "e1 e2"},
      {"both on", kIdShowReceived, all},
      {"user filter, no user chosen", kIdUserFilterOn, all},
      {"first user chosen", kIdUserFilter, "r1 e1"},
      {"reset", 0, all},
      {"search button", kIdSearchButton, "r2 r1 e1"},
      {"search cleared", kIdClearSearch, all},
      {"Enter in the search box", kIdSearch, "r2 r1 e1"},
      {"reset again", 0, all}};
  for (const auto& [name, act, codes] : cases) {
    QTest::keyClicks(Get(kIdSearch), act == kIdSearchButton || act == kIdSearch ? "informe" : "");
    if (act == kIdUserFilter || act == kIdSearch)
      QTest::keyClick(Get(act), act == kIdUserFilter ? Qt::Key_Home : Qt::Key_Return);
    else
      act == 0 ? view()->ResetFilters() : Press(act);
    EXPECT_EQ(Column().join(' '), codes) << name;
  }
}

TEST_F(WindowTest, EveryCommandAndKeyReachesWhatItNames) {
  StartWith();
  // No keyring answers in these tests: the terminal says once where the passwords are kept.
  EXPECT_EQ(Terminal().count(U("se guardan en claro en")), 1) << Terminal().toStdString();
  EXPECT_TRUE(Terminal().section('\n', 0, 0).endsWith(" - Inicio del terminal OK"));
  for (const QMenu* menu : frame()->menuBar()->findChildren<QMenu*>()) {
    QStringList keys;  // the menu's Alt keys, none twice
    for (const QAction* action : menu->actions())
      keys << QKeySequence::mnemonic(action->text()).toString();
    keys.removeAll("");
    EXPECT_EQ(keys.removeDuplicates(), 0) << keys.join(' ').toStdString();
  }
  const std::tuple<int, QKeySequence, QString, QString> cases[] = {
      // A menu command or a button, or (0) keys; the dialog or box it opens; its terminal line.
      // (The other commands and buttons are worked by the tests of what they do.)
      {kCommandEncryptionInfo, {}, U("Encriptación Punto a Punto"), ""},
      {kCommandCheckServer, {}, "", "Conectando con servidor 127.0.0.1:1/velkorant/"},
      // Every menu by the keyboard: F10 or Alt opens the first, the arrows go round.
      {0, QKeySequence(Qt::Key_F10, Qt::Key_Left, Qt::Key_Up, Qt::Key_Return),
       "Velkorant (Descargo de responsabilidad)", ""},
      {0, QKeySequence(Qt::Key_Alt, Qt::Key_Left, Qt::Key_Down, Qt::Key_Return), "Acerca de ...",
       ""},
      {kCommandExportWindows, {}, "Exportar para Windows", ""},
      {kIdExit, {}, "", ""}};  // one of the ways out
  for (const auto& [act, keys, opens, line] : cases) {
    SCOPED_TRACE(act != 0 ? std::to_string(act) : keys.toString().toStdString());
    if (line.isEmpty() && !opens.isEmpty())
      runner_.steps.push_back(Escape);  // a dialog, which Esc closes
    runner_.events.clear();
    runner_.dialogs.clear();
    Press(kIdClearTerminal);
    ASSERT_EQ(Terminal(), "");
    ASSERT_TRUE(Activate(*frame()));  // for its shortcuts
    if (act > 0)
      Press(act);
    for (uint i = 0; i < static_cast<uint>(keys.count()); ++i) {  // to an open menu, or the focus
      QWidget* to = QApplication::activePopupWidget();
      to = to ? to : QApplication::focusWidget();
      QTest::keyClick(to ? to : frame(), keys[i].key(), keys[i].keyboardModifiers());
    }
    WaitForFlows();
    EXPECT_EQ(runner_.dialogs.join("") + runner_.Captions().join(""), opens);
    EXPECT_TRUE(Terminal().contains(line)) << Terminal().toStdString();
    EXPECT_EQ(frame()->isVisible(), !(opens + line).isEmpty());
    if (act != kCommandCheckServer)
      continue;
    // The terminal's lines are selected and copied as text.
    auto* terminal = Get<QListWidget>(kIdTerminal);
    QTest::mouseClick(terminal->viewport(), Qt::LeftButton, {},
                      terminal->visualItemRect(terminal->item(1)).center());
    for (const auto copy : {QKeySequence::SelectAll, QKeySequence::Copy})
      QTest::keySequence(terminal, copy);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), Terminal());
    // The failed requests showed the error envelope, and sounded, but not while sounds are off.
    EXPECT_TRUE(Get(kIdEnvelopeError)->isVisibleTo(view()));
    EXPECT_EQ(view()->sounds().last_played(), 204);
    const int played = view()->sounds().played_count();
    view()->settings().play_sounds = false;
    Press(kCommandCheckServer);
    EXPECT_EQ(view()->sounds().played_count(), played);
  }
}

// Receiving waits for the options that ask for it (at start, every 30 minutes); composing, for
// a user name, a server and a password profile.
TEST_F(WindowTest, ReceivingAndComposingWaitForWhatTheyNeed) {
  for (const std::int32_t on : {0, 1}) {
    WriteSettings({.at_start = on, .every_30 = on});
    runner_.events.clear();
    Start();
    view()->OnTimer(kReceiveTimerId);
    WaitForFlows();
    EXPECT_EQ(runner_.Captions(), QStringList(2 * on, U("Error de conexión.")));
    EXPECT_EQ(view()->findChild<QTimer*>(QString::number(kReceiveTimerId))->interval(), 1'800'000);
  }
  const std::pair<Account, const char*> needs[] = {
      {{.user = ""}, "Falta tu nombre de usuario"},
      {{.server = ""}, "Falta el nombre del servidor"}};
  for (const auto& [account, caption] : needs) {
    WriteSettings(account);
    Start();
    runner_.events.clear();
    Press(kIdCompose);
    EXPECT_EQ(runner_.Captions(), QStringList{U(caption)});
  }
}

// Another process (velkorant-cli) stores and deletes messages: the list follows without a
// command, keeping the message chosen selected and in view while it is there, and the users'
// drop-down takes the new names in its order.
TEST_F(WindowTest, TheListFollowsAnotherWriter) {
  std::vector<Message> old;
  for (int day = 10; day < 30; ++day)
    old.push_back(Msg('a', "zoe", "viejo", "2024-01-" + std::to_string(day)));
  old.push_back(Msg('a', "Beto", "el mayor", "2024-01-30"));
  old.back().numero = 9999;
  StartWith(old);  // no received messages yet: their file is made by the other writer
  auto* table = Get<QTableView>(kIdMessageList);
  // Codes are what `velkorant-cli show` takes: shown whole.
  EXPECT_GE(table->columnWidth(kColumnCode),
            static_cast<QAbstractItemView*>(table)->sizeHintForColumn(kColumnCode));
  table->scrollToBottom();
  ClickRow("e1");
  Store({Msg('r', ToAnsi(U("Álvaro")), "nuevo", "2024-02-01"), Msg('r', "nora", "", "2024-02-02"),
         Msg('r', ToAnsi(U("Ñandú")), "", "2024-02-03"), Msg('r', "ZOE", "", "2024-02-04")});
  const auto rows = static_cast<qsizetype>(old.size()) + 4;  // the four new ones
  ASSERT_TRUE(QTest::qWaitFor([&] { return Column().size() == rows; }, 5000));
  const QModelIndex e1 = list().model().index(static_cast<int>(Column().indexOf("e1")), 0);
  EXPECT_TRUE(Selected() == QStringList{"e1"} && Pane().contains("viejo"));
  EXPECT_TRUE(table->viewport()->rect().contains(table->visualRect(e1)));
  QStringList users;  // sorted as a reader of Spanish expects
  for (int i = 0; i < Get<QComboBox>(kIdUserFilter)->count(); ++i)
    users << Get<QComboBox>(kIdUserFilter)->itemText(i);
  EXPECT_EQ(users.join(' '), U("Álvaro Beto nora Ñandú zoe"));
  EXPECT_TRUE(MessageStore(".").DeleteMessage(true, 1));
  ASSERT_TRUE(QTest::qWaitFor([&] { return Column().size() == rows - 1; }, 5000));
  EXPECT_TRUE(Selected().isEmpty() && Pane().isEmpty() && !Get(kIdDelete)->isEnabled());
}

// The settings database is damaged: one box says so at start, nothing is written to it, no
// request goes out, and every command that needs the settings says so again.
TEST_F(WindowTest, UnreadableSettingsStopEverythingThatNeedsThem) {
  WriteSettings();
  const std::string good = Installation::Bytes(home_.settings_file());
  const std::string damaged = "no es una base de datos" + std::string(3000, '\xEE');
  std::ofstream(home_.settings_file()) << damaged;
  Start();
  const QString failure = U("No se puede leer la configuración");
  ASSERT_EQ(runner_.Captions(), QStringList{failure});
  EXPECT_TRUE(runner_.events[0].second.contains(home_.settings_file().c_str()));
  EXPECT_TRUE(Get(kIdEnvelopeIdle)->isVisibleTo(view()) &&
              !Get(kIdReceive)->isEnabled());  // idle, no receiving
  ASSERT_TRUE(Activate(*frame()));             // so that F5 reaches its shortcut
  QTest::keyClick(frame(), Qt::Key_F5);
  for (int command :
       {kCommandPreferences, kCommandProfiles, kCommandCheckServer, kIdCompose, kIdProfiles})
    Press(command);
  EXPECT_EQ(runner_.Captions(), QStringList(6, failure));
  EXPECT_FALSE(Terminal().contains('\n'));  // only its first line: no request
  EXPECT_EQ(Installation::Bytes(home_.settings_file()), damaged);
  std::ofstream(home_.settings_file()) << good;  // mended while the window is open
  runner_.steps.push_back(Escape);
  Press(kCommandPreferences);
  EXPECT_EQ(runner_.dialogs, QStringList{"Preferencias"});
}

}  // namespace
}  // namespace velkorant::testing
