// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The status envelope: four pictures at one place, one shown at a time.

#include <array>

class QLabel;

namespace velkorant {

class StatusEnvelope {
 public:
  // Pictures of the idle mailbox, an error, no new messages and new messages, in that order.
  explicit StatusEnvelope(const std::array<QLabel*, 4>& pictures);

  // 1 idle, 2 no new messages, 3 new messages, 4 a request failed; anything else hides all.
  void Set(int state);

 private:
  std::array<QLabel*, 4> pictures_;
};

}  // namespace velkorant
