// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/pictures.h"

#include <QPainter>
#include <QSvgRenderer>

namespace velkorant {

QPixmap LoadPicture(QStringView id, QSize size) {
  QSvgRenderer renderer(QStringLiteral(":/pictures/%1.svg").arg(id));
  if (!renderer.isValid() || size.isEmpty())
    return {};
  QPixmap pixmap(size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
  return pixmap;
}

QIcon LoadIcon(QStringView id, QSize size) {
  const QPixmap pixmap = LoadPicture(id, size);
  return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

}  // namespace velkorant
