// SPDX-License-Identifier: GPL-3.0-or-later
#include "resource_paths.h"

namespace velkorant::resources {

QString PicturePath(int id) {
  return QStringLiteral(":/pictures/%1.svg").arg(id);
}

QString ListIconPath(int index) {
  return QStringLiteral(":/pictures/140_%1.svg").arg(index);
}

QString SoundPath(int id) {
  return QStringLiteral(":/sounds/%1.wav").arg(id);
}

}  // namespace velkorant::resources
