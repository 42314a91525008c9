#pragma once

// The built desktop program run as a process of its own (offscreen), while the test's event loop
// keeps running, so a window of the test process can answer it.

#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTest>

namespace velkorant::testing {

struct ProgramRun {
  int exit_code = -1;
  bool finished = false;
  QString output;  // standard output and standard error
};

inline QProcess* StartProgram(QProcess& process, const QString& folder, const QStringList& args,
                              QProcessEnvironment env = QProcessEnvironment::systemEnvironment()) {
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  process.setProcessEnvironment(env);
  process.setWorkingDirectory(folder);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(QStringLiteral(VELKORANT_PROGRAM), args);
  return &process;
}

// Runs the program to its end (at most `timeout_ms`), serving this process's events meanwhile.
inline ProgramRun RunProgram(
    const QString& folder, const QStringList& args,
    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
    int timeout_ms = 30000) {
  QProcess process;
  StartProgram(process, folder, args, env);
  ProgramRun run;
  run.finished =
      QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, timeout_ms);
  if (!run.finished) {
    process.kill();
    process.waitForFinished(5000);
  }
  run.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.output = QString::fromLocal8Bit(process.readAll());
  return run;
}

}  // namespace velkorant::testing
