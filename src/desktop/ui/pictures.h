// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's pictures, drawn as SVG into the resources (":/pictures/<id>.svg") and rendered
// at the size each use asks for. A missing picture gives a null pixmap: nothing is drawn.

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QStringView>

namespace velkorant {

QPixmap LoadPicture(QStringView id, QSize size);
QIcon LoadIcon(QStringView id, QSize size);

}  // namespace velkorant
