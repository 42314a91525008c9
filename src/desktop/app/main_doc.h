// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The program's one document. It holds nothing: every change is written to the stores when it
// is made, so there is nothing to load or save.

namespace velkorant {

class CMAINDoc {
 public:
  bool OnNewDocument() { return true; }
};

}  // namespace velkorant
