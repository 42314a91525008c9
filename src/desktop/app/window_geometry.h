// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Where the main window was, per screen configuration: a desktop preference kept in the user's
// configuration folder ($XDG_CONFIG_HOME/velkorant/window), never in the working folder's
// settings. Losing it costs only the window's place, so failures are not reported.

#include <QList>
#include <QRect>
#include <QString>
#include <optional>

class QWidget;

namespace velkorant {

// The screens as "1920x1080+0+0;1366x768+1920+0", left to right.
QString ScreenConfiguration(const QList<QRect>& screens);

// The window's inside when it is neither maximised nor full screen, and whether it is maximised.
struct WindowPlace {
  QRect normal;
  bool maximized = false;
  bool operator==(const WindowPlace&) const = default;
};

class WindowGeometryFile {
 public:
  WindowGeometryFile();  // in the user's configuration folder
  explicit WindowGeometryFile(QString path) : path_(std::move(path)) {}

  std::optional<WindowPlace> Read(const QString& configuration) const;
  // Replaces that configuration's entry and keeps the others'. False when it cannot be written.
  bool Write(const QString& configuration, const WindowPlace& place) const;

  const QString& path() const { return path_; }

 private:
  QString path_;
};

// The outer rectangle moved (and cut) into `available` where it reaches outside it.
QRect BroughtInto(const QRect& outer, const QRect& available);

}  // namespace velkorant
