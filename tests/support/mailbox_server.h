#pragma once

// The local mailbox server that the CTest fixture started (see tests/mailbox-server), and a
// misbehaving one started on demand.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "support/child_process.h"

namespace velkorant::testing {

struct ServerAddress {
  std::string server;  // "localhost:18443/velkorant/"
  std::string ca;      // CA certificate that signed the server's certificate
};

// Reads the address the fixture wrote; empty fields when the fixture did not run.
inline ServerAddress LocalMailboxServer() {
  std::ifstream env(VELKORANT_BINARY_DIR "/mailbox-server.env");
  ServerAddress address;
  for (std::string line; std::getline(env, line);) {
    if (line.rfind("server=", 0) == 0)
      address.server = line.substr(7);
    if (line.rfind("ca=", 0) == 0)
      address.ca = line.substr(3);
  }
  return address;
}

// A mode of tests/support/hostile_server.py, running until the object goes away.
class HostileServer {
 public:
  explicit HostileServer(const std::string& mode, const std::vector<std::string>& extra = {})
      : process_(Command(mode, extra)) {
    auto values = process_.ReadSettings(2);
    address_.server = values["server"];
    address_.ca = values["ca"];
  }
  const ServerAddress& address() const { return address_; }

 private:
  static std::vector<std::string> Command(const std::string& mode,
                                          const std::vector<std::string>& extra) {
    std::vector<std::string> argv = {VELKORANT_PYTHON,
                                     VELKORANT_SOURCE_DIR "/tests/support/hostile_server.py", mode,
                                     "--lifetime", "300"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return argv;
  }

  ChildProcess process_;
  ServerAddress address_;
};

// Sets CURL_CA_BUNDLE for the life of the object.
class ScopedCaBundle {
 public:
  explicit ScopedCaBundle(const std::string& path) {
    if (const char* old = std::getenv("CURL_CA_BUNDLE"))
      old_ = old;
    if (path.empty()) {
      ::unsetenv("CURL_CA_BUNDLE");
    } else {
      ::setenv("CURL_CA_BUNDLE", path.c_str(), 1);
    }
  }
  ~ScopedCaBundle() {
    if (old_) {
      ::setenv("CURL_CA_BUNDLE", old_->c_str(), 1);
    } else {
      ::unsetenv("CURL_CA_BUNDLE");
    }
  }

 private:
  std::optional<std::string> old_;
};

// A fresh 10-digit folder name, so tests sharing the server never meet.
inline std::string RandomFolder() {
  static std::mt19937_64 rng(std::random_device{}());
  static const char* digits = "0123456789ABCDEF";
  std::string folder;
  for (int i = 0; i < 10; ++i)
    folder += digits[rng() % 16];
  return folder;
}

}  // namespace velkorant::testing
