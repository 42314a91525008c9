// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Paths of the pictures and event sounds compiled into the program (see README.md here).
#include <QString>

namespace velkorant::resources {

// ":/pictures/<id>.svg" for the pictures 128 and 141 to 158.
QString PicturePath(int id);

// ":/pictures/140_<index>.svg": image <index> of the message list's icon strip (0, 1 and 6 exist).
QString ListIconPath(int index);

// ":/sounds/<id>.wav" for the event sounds 200 to 206.
QString SoundPath(int id);

}  // namespace velkorant::resources
