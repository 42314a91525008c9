// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/event_sound_player.h"

#include <QSoundEffect>
#include <QUrl>

namespace velkorant {

EventSoundPlayer::EventSoundPlayer(QObject* parent) : QObject(parent) {}

QSoundEffect* EventSoundPlayer::Effect(int id) {
  auto found = effects_.find(id);
  if (found != effects_.end())
    return found->second;
  auto* effect = new QSoundEffect(this);
  effect->setSource(QUrl(QStringLiteral("qrc:/sounds/%1.wav").arg(id)));
  effects_.emplace(id, effect);
  return effect;
}

void EventSoundPlayer::Play(int id) {
  last_played_ = id;
  ++played_count_;
  if (playing_ != nullptr)
    playing_->stop();
  playing_ = Effect(id);
  // A sound still loading starts once it is loaded; a missing one stays silent.
  playing_->play();
}

}  // namespace velkorant
