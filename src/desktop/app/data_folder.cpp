// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/data_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

namespace velkorant {
namespace {

QString SystemError() {
  return QString::fromLocal8Bit(std::strerror(errno));
}

}  // namespace

QString UserDataFolder() {
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
    const QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home))
      return {};
    base = home + QStringLiteral("/.local/share");
  }
  return QDir::cleanPath(base + QStringLiteral("/velkorant"));
}

bool EnterUserDataFolder(QString& error) {
  const QString folder = UserDataFolder();
  if (folder.isEmpty()) {
    error = QStringLiteral("neither XDG_DATA_HOME nor HOME names a folder");
    return false;
  }
  const QString parent = QFileInfo(folder).path();
  if (!QDir().mkpath(parent)) {
    error = QStringLiteral("cannot create %1").arg(parent);
    return false;
  }
  const QByteArray path = QFile::encodeName(folder);
  // The stores hold every message in plain text: the folder is the user's alone from the start.
  if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
    error = QStringLiteral("cannot create %1: %2").arg(folder, SystemError());
    return false;
  }
  if (::chdir(path.constData()) != 0) {
    error = QStringLiteral("cannot enter %1: %2").arg(folder, SystemError());
    return false;
  }
  return true;
}

}  // namespace velkorant
