// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A loopback TCP relay that holds every chunk for a fixed one-way time in each direction, so a
// benchmark sees the round trips of a real network: a request and its answer cost 2 x one_way
// more than on plain loopback. TLS passes through untouched (the client still talks to the real
// server's certificate). Only for benchmarks: 127.0.0.1, a few connections, threads per stream.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace velkorant::bench {

class DelayProxy {
 public:
  DelayProxy(int target_port, std::chrono::milliseconds one_way)
      : target_port_(target_port), one_way_(one_way) {
    listener_ = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (!listener_.ok() ||
        ::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.get(), 16) != 0 ||
        ::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      throw std::runtime_error("the delaying proxy cannot listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~DelayProxy() {
    stop_ = true;
    acceptor_.join();  // no stream starts after this
    for (const auto& stream : streams_)
      stream->ready.notify_all();
    for (std::thread& thread : threads_)
      thread.join();
  }
  DelayProxy(const DelayProxy&) = delete;
  DelayProxy& operator=(const DelayProxy&) = delete;

  int port() const { return port_; }

 private:
  class Fd {
   public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
      if (fd_ >= 0)
        ::close(fd_);
    }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
      std::swap(fd_, other.fd_);
      return *this;
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }

   private:
    int fd_ = -1;
  };

  // One direction of a connection: chunks read from `from`, each written to `to` once due.
  struct Stream {
    int from = -1, to = -1;
    std::mutex mutex;
    std::condition_variable ready;
    // An empty chunk is the end of the stream.
    std::deque<std::pair<std::chrono::steady_clock::time_point, std::string>> chunks;
  };

  static sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }

  // Waits for `fd` to be readable, looking at stop_ every 50 ms.
  bool Readable(int fd) const {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 50) > 0)
        return true;
    }
    return false;
  }

  void Accept() {
    while (Readable(listener_.get())) {
      Fd client(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
      Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      const sockaddr_in target = Loopback(target_port_);
      if (!client.ok() || !server.ok() ||
          ::connect(server.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0)
        continue;
      for (const int fd : {client.get(), server.get()}) {
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      }
      const std::lock_guard lock(streams_mutex_);
      for (const auto& [from, to] :
           {std::pair(client.get(), server.get()), std::pair(server.get(), client.get())}) {
        auto& stream = *streams_.emplace_back(std::make_unique<Stream>());
        stream.from = from;
        stream.to = to;
        threads_.emplace_back([this, &stream] { Read(stream); });
        threads_.emplace_back([this, &stream] { Write(stream); });
      }
      sockets_.push_back(std::move(client));
      sockets_.push_back(std::move(server));
    }
  }

  void Read(Stream& stream) {
    char buffer[64 * 1024];
    ssize_t got = 0;
    while (Readable(stream.from) && (got = ::read(stream.from, buffer, sizeof buffer)) > 0) {
      const std::lock_guard lock(stream.mutex);
      stream.chunks.emplace_back(std::chrono::steady_clock::now() + one_way_,
                                 std::string(buffer, static_cast<std::size_t>(got)));
      stream.ready.notify_one();
    }
    const std::lock_guard lock(stream.mutex);
    stream.chunks.emplace_back(std::chrono::steady_clock::now() + one_way_, std::string());
    stream.ready.notify_one();
  }

  void Write(Stream& stream) {
    std::unique_lock lock(stream.mutex);
    while (!stop_) {
      if (stream.chunks.empty()) {
        stream.ready.wait_for(lock, std::chrono::milliseconds(50));
        continue;
      }
      const auto due = stream.chunks.front().first;
      if (std::chrono::steady_clock::now() < due) {
        stream.ready.wait_until(lock, due);
        continue;
      }
      const std::string chunk = std::move(stream.chunks.front().second);
      stream.chunks.pop_front();
      if (chunk.empty()) {
        ::shutdown(stream.to, SHUT_WR);
        return;
      }
      lock.unlock();
      for (std::size_t sent = 0; sent < chunk.size();) {
        const ssize_t put =
            ::send(stream.to, chunk.data() + sent, chunk.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) {
          ::shutdown(stream.from, SHUT_RD);  // the other side is gone: so is this stream
          return;
        }
        sent += static_cast<std::size_t>(put);
      }
      lock.lock();
    }
  }

  const int target_port_;
  const std::chrono::milliseconds one_way_;
  int port_ = 0;
  Fd listener_;
  std::atomic<bool> stop_ = false;
  std::mutex streams_mutex_;
  std::vector<std::unique_ptr<Stream>> streams_;
  std::vector<Fd> sockets_;
  std::thread acceptor_;
  std::vector<std::thread> threads_;  // two per stream
};

}  // namespace velkorant::bench
