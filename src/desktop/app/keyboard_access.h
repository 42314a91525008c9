// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window for keyboard and screen-reader users: names for the controls that show only a
// picture or have no caption of their own, a tab order that follows the form from top left to
// bottom right, and the usual shortcuts where they do not clash with the program's own keys
// (the Delete key in the message list).

namespace velkorant {

class CMainFrame;

// Ctrl+Q closes the window ("Salir"), Ctrl+N composes, F5 receives (each shown in the menu and
// the button's tooltip) and Ctrl+F goes to the search field; a shortcut of a disabled button
// does nothing, as a click would.
void PrepareKeyboardAndAccessibility(CMainFrame& frame);

}  // namespace velkorant
