// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The application identifier the build gives the desktop file, the icons and the AppStream
// metadata; the program names its windows' desktop file with it.

#ifndef VELKORANT_APP_ID
#error "VELKORANT_APP_ID comes from the build (the top CMakeLists.txt)"
#endif

namespace velkorant {

inline constexpr char kAppId[] = VELKORANT_APP_ID;

}  // namespace velkorant
