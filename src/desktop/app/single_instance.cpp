// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace velkorant {
namespace {

constexpr qsizetype kMaxRequestLength = 32;
// A client that connects and says nothing is dropped after this long.
constexpr int kRequestWaitMs = 5000;

QByteArray RequestWord(InstanceChannel::Request request) {
  return request == InstanceChannel::Request::kReceive ? QByteArrayLiteral("receive")
                                                       : QByteArrayLiteral("activate");
}

}  // namespace

InstanceChannel::InstanceChannel(const QString& folder, QObject* parent)
    : QObject(parent), name_(NameFor(folder)) {}

InstanceChannel::~InstanceChannel() {
  if (server_ != nullptr) {
    server_->close();
    QLocalServer::removeServer(name_);
  }
  if (lock_fd_ >= 0)
    ::close(lock_fd_);  // lets the lock go
}

QString InstanceChannel::NameFor(const QString& folder) {
  const QFileInfo info(folder);
  QString path = info.canonicalFilePath();
  if (path.isEmpty())
    path = info.absoluteFilePath();
  QCryptographicHash digest(QCryptographicHash::Sha256);
  digest.addData(QByteArray::number(static_cast<qulonglong>(::getuid())));
  digest.addData(QByteArrayView("\0", 1));
  digest.addData(QFile::encodeName(path));
  // The runtime folder is the user's own (mode 0700); socket paths must stay under 108 bytes.
  QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (runtime.isEmpty())
    runtime = QDir::tempPath();
  return runtime + QStringLiteral("/velkorant-") +
         QString::fromLatin1(digest.result().toHex().left(16));
}

bool InstanceChannel::Claim(Handler handler) {
  if (lock_fd_ >= 0)
    return true;
  // A kernel lock (flock), which the kernel drops when the process ends, however it ends; kept so
  // on purpose: a lock file read for a process id would need stale-lock guessing.
  const QByteArray lock_path = QFile::encodeName(name_ + QStringLiteral(".lock"));
  const int fd = ::open(lock_path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return true;  // nothing to coordinate through: run rather than refuse to start
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  lock_fd_ = fd;
  handler_ = std::move(handler);
  // A socket file left by a program that died is in the way of listening.
  QLocalServer::removeServer(name_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(name_)) {
    qWarning("velkorant: later starts in this folder cannot reach this one: %s",
             qPrintable(server_->errorString()));
    return true;
  }
  connect(server_, &QLocalServer::newConnection, this, &InstanceChannel::OnConnection);
  return true;
}

void InstanceChannel::OnConnection() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    auto* patience = new QTimer(socket);
    patience->setSingleShot(true);
    connect(patience, &QTimer::timeout, socket, &QLocalSocket::abort);
    patience->start(kRequestWaitMs);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this,
            [this, socket, patience] { OnReadable(*socket, *patience); });
  }
}

void InstanceChannel::OnReadable(QLocalSocket& socket, QTimer& patience) {
  if (!socket.canReadLine()) {
    if (socket.bytesAvailable() > kMaxRequestLength)
      socket.abort();
    return;
  }
  const QByteArray word = socket.readLine(kMaxRequestLength + 1).trimmed();
  // One request per client; a receive run may take longer than a silent client is given.
  patience.stop();
  disconnect(&socket, &QLocalSocket::readyRead, this, nullptr);
  // The handler may run nested event loops (message boxes), in which the client can go away.
  const QPointer<QLocalSocket> client(&socket);
  bool done = false;
  if (word == RequestWord(Request::kActivate)) {
    done = handler_ && handler_(Request::kActivate);
  } else if (word == RequestWord(Request::kReceive)) {
    done = handler_ && handler_(Request::kReceive);
  }
  if (client.isNull())
    return;
  client->write(done ? "done\n" : "refused\n");
  client->flush();
  client->disconnectFromServer();
}

InstanceChannel::Reply InstanceChannel::Send(const QString& folder, Request request,
                                             std::chrono::milliseconds timeout) {
  const QString name = NameFor(folder);
  const QDeadlineTimer deadline(timeout);
  QLocalSocket socket;
  for (;;) {
    socket.connectToServer(name);
    if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0))))
      break;
    // The program holding the folder may be a moment away from listening.
    if (request != Request::kActivate || deadline.hasExpired())
      return request == Request::kActivate ? Reply::kNoAnswer : Reply::kNoProgram;
    socket.abort();
    QThread::msleep(50);
  }
  socket.write(RequestWord(request) + '\n');
  if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime())))
    return Reply::kNoAnswer;
  while (!socket.canReadLine()) {
    if (deadline.hasExpired() ||
        !socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      return Reply::kNoAnswer;
    }
  }
  return socket.readLine(kMaxRequestLength).trimmed() == "done" ? Reply::kDone : Reply::kRefused;
}

}  // namespace velkorant
