// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Starts a helper process for a test (a misbehaving server), reads the "key=value" lines it
// prints, and ends it by PID when the test is done.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace velkorant::testing {

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv)
      args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      return;
    if ((pid_ = ::fork()) == 0) {
      ::dup2(fds[1], STDOUT_FILENO);  // the copy stays open in the new program
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = ::fdopen(fds[0], "r");
  }
  ~ChildProcess() {
    if (pid_ > 0 && ::kill(pid_, SIGTERM) == 0)  // which lets it remove what it made
      ::waitpid(pid_, nullptr, 0);
    if (out_ != nullptr)
      std::fclose(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Reads "key=value" lines until `count` of them arrived or the output ended.
  std::map<std::string, std::string> ReadSettings(std::size_t count) {
    std::map<std::string, std::string> values;
    char line[4096];
    while (values.size() < count && out_ != nullptr && std::fgets(line, sizeof line, out_)) {
      std::string text(line);
      text = text.substr(0, text.find('\n'));
      if (const auto eq = text.find('='); eq != std::string::npos)
        values[text.substr(0, eq)] = text.substr(eq + 1);
    }
    return values;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
};

}  // namespace velkorant::testing
