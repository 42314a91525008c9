// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/program_start.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTextStream>
#include <chrono>
#include <cstdio>
#include <memory>

#include "app/data_folder.h"
#include "app/main_frame.h"
#include "app/msjprv_app.h"
#include "app/single_instance.h"
#include "app/smoke_test.h"
#include "platform/ansi_text.h"
#include "view/flow_runner.h"
#include "view/main_view.h"

namespace velkorant {
namespace {

using namespace std::chrono_literals;

// A start that found the folder taken waits this long for the running program to answer.
constexpr auto kActivateWait = 10s;
// A receive run of up to a thousand messages, each tried with every password profile.
constexpr auto kReceiveWait = 10min;

constexpr char kUsage[] =
    "Usage: velkorant [OPTION]...\n"
    "\n"
    "The Velkorant desktop program. Its message stores are the files mensajes_enviados.ini and\n"
    "mensajes_recibidos.ini in the working directory; its settings and password profiles are in\n"
    "$XDG_CONFIG_HOME/KRWTN_Software/VLKRNTS/settings.sqlite3 (~/.config/... by default).\n"
    "One program runs per folder: a second start in the same folder brings the open window to\n"
    "the front and exits.\n"
    "\n"
    "Options:\n"
    "  --data-folder  work in the per-user data folder $XDG_DATA_HOME/velkorant\n"
    "                 (~/.local/share/velkorant), made readable by you only when it is created;\n"
    "                 the desktop launcher starts the program so\n"
    "  --receive      ask the window open in this folder to receive messages now, wait for the\n"
    "                 run to end and exit (1 when no window is open here)\n"
    "  --smoke-test   start offscreen in a temporary folder, build and check the main window,\n"
    "                 and exit (0 when every check passed)\n"
    "  --version      print the version\n"
    "  -h, --help     print this help\n"
    "\n"
    "Qt's own options (for example -platform NAME) are accepted as well.\n";

struct LaunchOptions {
  bool data_folder = false;
  bool receive = false;
  bool smoke_test = false;
  bool help = false;
  bool version = false;
};

class OptionParser {
 public:
  OptionParser() { parser_.addOptions({data_folder_, receive_, smoke_test_, version_, help_}); }

  // An argument spelled as the help spells one of our options: "--receive", "-h". Nothing else
  // is ours, not even what the parser would also take ("--h", "--", "-hh"): an argument the help
  // does not show is refused, never read as something else.
  bool Spells(const QString& argument) const {
    for (const QCommandLineOption& option :
         {data_folder_, receive_, smoke_test_, version_, help_}) {
      for (const QString& name : option.names()) {
        if (argument == (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name)
          return true;
      }
    }
    return false;
  }

  // Our options among `arguments` (the program's name first); anything else is left out.
  LaunchOptions Read(const QStringList& arguments) {
    QStringList ours = arguments.mid(0, 1);
    for (const QString& argument : arguments.mid(1)) {
      if (Spells(argument))
        ours << argument;
    }
    parser_.parse(ours);
    return {parser_.isSet(data_folder_), parser_.isSet(receive_), parser_.isSet(smoke_test_),
            parser_.isSet(help_), parser_.isSet(version_)};
  }

 private:
  // The texts are kUsage's; the parser only reads the options.
  QCommandLineOption data_folder_{QStringLiteral("data-folder")};
  QCommandLineOption receive_{QStringLiteral("receive")};
  QCommandLineOption smoke_test_{QStringLiteral("smoke-test")};
  QCommandLineOption version_{QStringLiteral("version")};
  QCommandLineOption help_{{QStringLiteral("h"), QStringLiteral("help")}};
  QCommandLineParser parser_;
};

// What --receive prints and returns for the window's answer.
int ReportReceive(InstanceChannel::Reply reply, const QString& folder, QTextStream& err) {
  switch (reply) {
    case InstanceChannel::Reply::kDone:
      return 0;
    case InstanceChannel::Reply::kRefused:
      err << "velkorant: the window open in " << folder
          << " cannot receive: it has no user name yet" << Qt::endl;
      return 1;
    case InstanceChannel::Reply::kNoProgram:
      err << "velkorant: no Velkorant window is open in " << folder << Qt::endl;
      return 1;
    case InstanceChannel::Reply::kNoAnswer:
      err << "velkorant: the Velkorant window open in " << folder << " did not answer" << Qt::endl;
      return 1;
  }
  return 1;
}

// The window, when this start claims the folder; otherwise the open window is asked to come to
// the front.
int RunWindowOrHandOver(const QString& folder, QTextStream& err) {
  MSJPRVApp* running = nullptr;
  InstanceChannel channel(folder);
  if (!channel.Claim([&running](InstanceChannel::Request request) {
        return AnswerInstanceRequest(running, request);
      })) {
    if (InstanceChannel::Send(folder, InstanceChannel::Request::kActivate, kActivateWait) ==
        InstanceChannel::Reply::kDone) {
      err << "velkorant: Velkorant is already open in " << folder
          << "; its window was brought to the front" << Qt::endl;
      return 0;
    }
    err << "velkorant: another Velkorant runs in " << folder << " but does not answer" << Qt::endl;
    return 1;
  }
  MSJPRVApp program;
  if (!program.InitInstance())
    return 1;
  running = &program;
  const int result = QCoreApplication::exec();
  running = nullptr;
  return result;
}

}  // namespace

bool AnswerInstanceRequest(MSJPRVApp* program, InstanceChannel::Request request) {
  if (program == nullptr || program->main_frame() == nullptr)
    return false;
  if (request == InstanceChannel::Request::kActivate) {
    program->main_frame()->BringToFront();
    return true;
  }
  CMainView& view = *program->main_frame()->view();
  if (view.flows().busy()) {
    view.LogTerminal(
        Utf8ToAnsi("Ya hay una operación con el servidor en curso; esta recepción no "
                   "se hace."));
    return true;
  }
  if (!view.controls().receive->isEnabled())
    return false;
  view.OnReceiveMessages();
  // The later start ends when the run has, so a script can go on to read what it stored. The
  // window goes on meanwhile; quitting ends the run, and this wait with it.
  QEventLoop run;
  QObject::connect(&view.flows(), &FlowRunner::busyChanged, &run, [&run](bool busy) {
    if (!busy)
      run.quit();
  });
  if (view.flows().busy())
    run.exec();
  return true;
}

int RunDesktopProgram(int argc, char* argv[]) {
  QTextStream out(stdout);
  QTextStream err(stderr);
  OptionParser parser;
  QStringList raw;
  for (int i = 0; i < argc; ++i)
    raw << QString::fromLocal8Bit(argv[i]);
  // Read before the application object exists: the smoke test picks the platform, and help and
  // version need no display.
  const LaunchOptions options = parser.Read(raw);
  if (options.help) {
    out << kUsage;
    return 0;
  }
  if (options.version) {
    out << "velkorant " << VELKORANT_VERSION << " (Velkorant v1.1a)\n";
    return 0;
  }
  if (options.smoke_test)
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (options.data_folder) {
    QString error;
    if (!EnterUserDataFolder(error)) {
      err << "velkorant: " << error << Qt::endl;
      return 1;
    }
  }

  // A request to the window of this folder needs no display of its own.
  const std::unique_ptr<QCoreApplication> application =
      options.receive ? std::make_unique<QCoreApplication>(argc, argv)
                      : std::make_unique<QApplication>(argc, argv);
  // Qt has taken its own options out; whatever is left must be ours.
  for (const QString& argument : QCoreApplication::arguments().mid(1)) {
    if (!parser.Spells(argument)) {
      err << "velkorant: unknown argument " << argument << "\n"
          << "Try 'velkorant --help'." << Qt::endl;
      return 2;
    }
  }
  if (options.smoke_test)
    return RunSmokeTest(out);

  const QString folder = QDir::currentPath();
  if (options.receive) {
    return ReportReceive(
        InstanceChannel::Send(folder, InstanceChannel::Request::kReceive, kReceiveWait), folder,
        err);
  }
  return RunWindowOrHandOver(folder, err);
}

}  // namespace velkorant
