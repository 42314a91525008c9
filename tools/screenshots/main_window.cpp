// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the main window, offscreen, with a sample store (sent, received unread, received read,
// undecrypted) and one message selected, into the PNG named on the command line, and the three
// information boxes into information_box_<template>.png beside it.

#include <QApplication>
#include <QFileInfo>
#include <QTableView>
#include <QTest>
#include <cstdio>

#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "dialogs/about_dialogs.h"
#include "sample_data.h"
#include "view/main_view.h"
#include "view/message_list_panel.h"

int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: gui_screenshot OUTPUT.png\n");
    return 2;
  }
  const QString output = QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[1]));

  using namespace velkorant;
  using namespace velkorant::sample;
  Installation installation;
  WriteSettings();
  StoreMessages({
      Sent("Jos\xE9_Mar\xEDn", "Cena del viernes", "2024-03-01 19:02:11", true),
      Sent("Ana_garcia", "Borrador del informe", "2024-03-04 08:15:40", false),
      Received("Jos\xE9_Mar\xEDn", "Re: Cena del viernes", "2024-03-02 10:31:05", true),
      Received("Ana_garcia", "Reuni\xF3n del lunes", "2024-03-05 12:00:00", false),
      [] {
        // As a receive run stores a message no password fits.
        Message undecrypted = Received("?", "<sin desencriptar>", "?", true, false);
        undecrypted.usuario_receptor_msj = "?";
        return undecrypted;
      }(),
      Received("Carlos_ruiz", "Fotos del viaje", "2024-02-27 21:10:33", true),
  });

  QuietRunner runner;
  MSJPRVApp program(&runner);
  if (!program.InitInstance())
    return 1;
  CMainFrame& frame = *program.main_frame();
  if (!QTest::qWaitForWindowExposed(&frame))
    return 1;
  CMainView& view = *frame.view();
  // Past the start-up timer: the envelope is shown.
  QTest::qWait(kStartupTimerPeriodMs + 100);
  view.LogTerminal("Comprobando mensajes para Hannah_desert");
  view.LogTerminal("No hay nuevos mensajes");
  emit view.flows().flowEnded("No hay nuevos mensajes", false);
  // A message already read, so the unread one keeps its colours.
  view.list().SelectMessage({false, 1});
  QApplication::processEvents();
  if (!frame.grab().save(output)) {
    std::fprintf(stderr, "gui_screenshot: cannot write %s\n", qPrintable(output));
    return 1;
  }
  std::printf("%s\n", qPrintable(output));

  // The three information boxes beside it.
  const QString folder = QFileInfo(output).absolutePath();
  CAboutDlg about(&frame);
  CAboutAES256Dlg encryption(&frame);
  CAboutDescargoRespoDlg notice(&frame);
  for (QDialog* box : std::initializer_list<QDialog*>{&about, &encryption, &notice}) {
    box->show();
    QApplication::processEvents();
    const QString path =
        QDir(folder).filePath(QStringLiteral("information_box_%1.png").arg(box->objectName()));
    if (!box->grab().save(path))
      return 1;
    box->hide();
    std::printf("%s\n", qPrintable(path));
  }
  return 0;
}
