// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// One program per working folder and user, so that two never race on the message stores or the
// received counter. The first start claims the folder's instance channel and answers the later
// starts, which ask it to come to the front (or to receive now) and then exit.

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace velkorant {

class InstanceChannel : public QObject {
  Q_OBJECT

 public:
  enum class Request { kActivate, kReceive };
  enum class Reply { kDone, kRefused, kNoProgram, kNoAnswer };
  // Carries a request out in the running program; false refuses it.
  using Handler = std::function<bool(Request)>;

  explicit InstanceChannel(const QString& folder, QObject* parent = nullptr);
  ~InstanceChannel() override;
  InstanceChannel(const InstanceChannel&) = delete;
  InstanceChannel& operator=(const InstanceChannel&) = delete;

  // The channel's socket path: in the user's runtime folder, named by a digest of the user id
  // and the folder's canonical path (so a symbolic link to the folder finds the same channel).
  static QString NameFor(const QString& folder);
  const QString& name() const { return name_; }

  // True when no other program of this user runs in the folder. This one then holds the folder
  // until it is destroyed (or its process ends, however it ends) and answers later starts
  // through `handler`.
  bool Claim(Handler handler);

  // A later start's request. kActivate is meant for a start that found the folder claimed: it
  // waits for the running program to listen. Any request waits at most `timeout` in all.
  static Reply Send(const QString& folder, Request request, std::chrono::milliseconds timeout);

 private:
  void OnConnection();
  void OnReadable(QLocalSocket& socket, QTimer& patience);

  QString name_;
  int lock_fd_ = -1;
  QLocalServer* server_ = nullptr;
  Handler handler_;
};

}  // namespace velkorant
