// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_geometry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>
#include <array>

namespace velkorant {
namespace {

// One line per screen configuration: "configuration=left,top,width,height,maximised".
constexpr char kSeparator = '=';

QList<QByteArray> Lines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return {};
  return file.readAll().split('\n');
}

}  // namespace

QString ScreenConfiguration(const QList<QRect>& screens) {
  QList<QRect> sorted = screens;
  std::sort(sorted.begin(), sorted.end(), [](const QRect& a, const QRect& b) {
    return std::pair(a.left(), a.top()) < std::pair(b.left(), b.top());
  });
  QStringList parts;
  for (const QRect& screen : sorted) {
    parts << QStringLiteral("%1x%2+%3+%4")
                 .arg(screen.width())
                 .arg(screen.height())
                 .arg(screen.left())
                 .arg(screen.top());
  }
  return parts.join(u';');
}

WindowGeometryFile::WindowGeometryFile()
    : path_(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/velkorant/window")) {}

std::optional<WindowPlace> WindowGeometryFile::Read(const QString& configuration) const {
  const QByteArray key = configuration.toUtf8() + kSeparator;
  for (const QByteArray& line : Lines(path_)) {
    if (!line.startsWith(key))
      continue;
    const QList<QByteArray> fields = line.mid(key.size()).split(',');
    std::array<int, 5> numbers{};
    bool valid = fields.size() == static_cast<qsizetype>(numbers.size());
    for (std::size_t i = 0; valid && i < numbers.size(); ++i)
      numbers[i] = fields[static_cast<qsizetype>(i)].toInt(&valid);
    const QRect normal(numbers[0], numbers[1], numbers[2], numbers[3]);
    if (valid && normal.isValid())
      return WindowPlace{normal, numbers[4] != 0};
  }
  return std::nullopt;
}

bool WindowGeometryFile::Write(const QString& configuration, const WindowPlace& place) const {
  const QByteArray key = configuration.toUtf8() + kSeparator;
  QByteArray text;
  for (const QByteArray& line : Lines(path_)) {
    if (!line.isEmpty() && !line.startsWith(key))
      text += line + '\n';
  }
  const QRect& r = place.normal;
  text += key + QStringLiteral("%1,%2,%3,%4,%5\n")
                    .arg(r.left())
                    .arg(r.top())
                    .arg(r.width())
                    .arg(r.height())
                    .arg(place.maximized ? 1 : 0)
                    .toUtf8();
  if (!QDir().mkpath(QFileInfo(path_).absolutePath()))
    return false;
  QSaveFile file(path_);
  return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

QRect BroughtInto(const QRect& outer, const QRect& available) {
  QRect inside(outer.topLeft(), outer.size().boundedTo(available.size()));
  inside.moveRight(std::min(inside.right(), available.right()));
  inside.moveBottom(std::min(inside.bottom(), available.bottom()));
  inside.moveLeft(std::max(inside.left(), available.left()));
  inside.moveTop(std::max(inside.top(), available.top()));
  return inside;
}

}  // namespace velkorant
