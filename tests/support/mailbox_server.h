// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The local mailbox server that the CTest fixture started (see tests/mailbox-server), and a
// misbehaving one started on demand.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "support/child_process.h"

namespace velkorant::testing {

struct ServerAddress {
  std::string server;  // "localhost:PORT/velkorant/"
  std::string ca;      // CA certificate that signed the server's certificate
};

// Reads the address the fixture wrote; empty fields when the fixture did not run.
inline ServerAddress LocalMailboxServer() {
  std::ifstream env(VELKORANT_BINARY_DIR "/mailbox-server.env");
  std::map<std::string, std::string> values;
  for (std::string line; std::getline(env, line);)
    values[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
  return {values["server"], values["ca"]};
}

// The local server's data root: one folder per mailbox, holding msj_<n>_datos.cry.
inline std::filesystem::path ServerDataRoot() {
  return VELKORANT_BINARY_DIR "/mailbox-server-state/data";
}

// Sets CURL_CA_BUNDLE for the life of the object.
class ScopedCaBundle {
 public:
  explicit ScopedCaBundle(const std::string& path) {
    if (const char* old = std::getenv("CURL_CA_BUNDLE"))
      old_ = old;
    Set(path);
  }
  ~ScopedCaBundle() { Set(old_.value_or("")); }

 private:
  static void Set(const std::string& path) {
    path.empty() ? ::unsetenv("CURL_CA_BUNDLE") : ::setenv("CURL_CA_BUNDLE", path.c_str(), 1);
  }
  std::optional<std::string> old_;
};

// The fixture's server, trusted by the requests of the test that holds this.
struct LocalServer {
  ServerAddress address = LocalMailboxServer();
  ScopedCaBundle ca{address.ca};
};

// A mode of tests/support/hostile_server.py, running until the object goes away.
class HostileServer {
 public:
  // `files`: a folder whose msj_N_datos.cry it serves as the message files.
  explicit HostileServer(const std::string& mode, const std::string& files = "")
      : process_({VELKORANT_PYTHON, VELKORANT_SOURCE_DIR "/tests/support/hostile_server.py", mode,
                  "--lifetime", "300", "--files", files.empty() ? "" : files}) {
    auto values = process_.ReadSettings(2);
    address_ = {values["server"], values["ca"]};
  }
  const ServerAddress& address() const { return address_; }
  // The address whose scripts answer "si": every mailbox exists.
  ServerAddress answering_yes() const {
    std::string server = address_.server;
    return {server.replace(server.find("velkorant"), 9, "si"), address_.ca};
  }

 private:
  ChildProcess process_;
  ServerAddress address_;
};

// A fresh 10-digit folder name, so tests sharing the server never meet. Not seeded: it is no input
// of a test, and one seed in two tests would put them in one mailbox.
inline std::string RandomFolder() {
  static std::mt19937_64 rng(std::random_device{}());
  std::string folder;
  for (int i = 0; i < 10; ++i)
    folder += "0123456789ABCDEF"[rng() % 16];
  return folder;
}

}  // namespace velkorant::testing
