#pragma once

// Starts a helper process for a test (a misbehaving server, a program to kill), reads the lines
// it prints, and stops it by PID when the test is done.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <utility>
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
    Kill(SIGKILL);
    if (out_ != nullptr)
      std::fclose(out_);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  // The next line the child printed (without its line feed), or nullopt at end of output.
  std::optional<std::string> ReadLine() {
    std::string line;
    int c = EOF;
    while (out_ != nullptr && (c = std::fgetc(out_)) != EOF && c != '\n')
      line += static_cast<char>(c);
    if (c == EOF && line.empty())
      return std::nullopt;
    return line;
  }

  // Reads "key=value" lines until `count` of them arrived.
  std::map<std::string, std::string> ReadSettings(int count) {
    std::map<std::string, std::string> values;
    std::optional<std::string> line;
    while (static_cast<int>(values.size()) < count && (line = ReadLine())) {
      if (const auto eq = line->find('='); eq != std::string::npos)
        values[line->substr(0, eq)] = line->substr(eq + 1);
    }
    return values;
  }

  // Sends `signal` and reaps the child; returns its wait status.
  int Kill(int signal) {
    if (pid_ > 0) {
      ::kill(pid_, signal);
      ::waitpid(std::exchange(pid_, -1), &status_, 0);
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* out_ = nullptr;
  int status_ = 0;
};

}  // namespace velkorant::testing
