// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The event sounds (":/sounds/<id>.wav"), played without waiting; a new sound cuts the one still
// playing. Without an audio device nothing is heard and nothing fails.

#include <QObject>
#include <map>

class QSoundEffect;

namespace velkorant {

class EventSoundPlayer : public QObject {
  Q_OBJECT

 public:
  explicit EventSoundPlayer(QObject* parent = nullptr);

  void Play(int id);

  // The last sound asked for, 0 for none: what a test can see without a sound card.
  int last_played() const { return last_played_; }
  int played_count() const { return played_count_; }

 private:
  QSoundEffect* Effect(int id);

  // Made on first use: a start-up that plays nothing opens no audio device.
  std::map<int, QSoundEffect*> effects_;
  QSoundEffect* playing_ = nullptr;
  int last_played_ = 0;
  int played_count_ = 0;
};

}  // namespace velkorant
