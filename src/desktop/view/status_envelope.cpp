// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/status_envelope.h"

#include <QLabel>

namespace velkorant {

StatusEnvelope::StatusEnvelope(const std::array<QLabel*, 4>& pictures) : pictures_(pictures) {}

void StatusEnvelope::Set(int state) {
  // The picture of each state, in the order of the constructor's array.
  constexpr std::array<int, 4> kStateOfPicture = {1, 4, 2, 3};
  for (std::size_t i = 0; i < pictures_.size(); ++i)
    pictures_[i]->setVisible(kStateOfPicture[i] == state);
  if (state == 1)
    pictures_[0]->repaint();
}

}  // namespace velkorant
