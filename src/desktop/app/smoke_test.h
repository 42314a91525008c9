// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// `velkorant --smoke-test`: shows that an installation can start (platform plugin, pictures,
// sounds, settings database, the main window with its menu, view and status bar) without
// touching the user's folders. Runs offscreen (the caller chooses the platform before the
// application object exists), in a temporary working folder with a settings folder of its own,
// and ends before the start-up timer could show or fetch anything.

#include <QTextStream>

namespace velkorant {

// 0 when every check passed; each failed check is reported on `out`.
int RunSmokeTest(QTextStream& out);

}  // namespace velkorant
