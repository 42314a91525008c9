#pragma once

// A real Secret Service for a test: a private D-Bus session bus and gnome-keyring-daemon on it,
// its login keyring made and unlocked with a test password, under a private home, runtime and
// settings folder that the test process's environment is pointed at. The bus starts nothing on
// its own, so no prompt can ever be shown: the keyring's prompts end dismissed, as when the user
// refuses them. Both daemons are stopped by their PIDs. One per process: GLib keeps the first
// session bus it connected to (CTest runs each test in a process of its own).

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/keyring.h"

namespace velkorant::testing {

// Runs a shell command line and gives what it printed.
inline std::string Output(const std::string& command) {
  std::string text;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
      text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

// A session bus configuration that starts no service on demand, listening in `dir`.
inline void WriteBareBusConfig(const std::filesystem::path& file,
                               const std::filesystem::path& dir) {
  std::ofstream(file) << "<busconfig><type>session</type><listen>unix:dir=" << dir.string()
                      << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                         "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
}

class PrivateKeyring {
 public:
  PrivateKeyring() {
    char pattern[] = "/tmp/velkorant-keyring-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    for (const char* sub : {"home", "run", "config"})
      std::filesystem::create_directory(dir_ / sub);
    std::filesystem::permissions(dir_ / "run", std::filesystem::perms::owner_all);
    WriteBareBusConfig(dir_ / "bus.conf", dir_);
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (dir_ / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
      return;
    bus_ = Spawn({"dbus-daemon", "--nofork", "--print-address",
                  "--config-file=" + (dir_ / "bus.conf").string()},
                 -1, out[1]);
    ::close(out[1]);
    char line[512] = {};
    if (const ssize_t n = ::read(out[0], line, sizeof line - 1); n > 0)
      ::setenv("DBUS_SESSION_BUS_ADDRESS",
               std::string(line, static_cast<std::size_t>(n - 1)).c_str(), 1);
    ::close(out[0]);
    StartKeyring();
  }
  ~PrivateKeyring() {
    StopKeyring();
    Stop(bus_);
    std::filesystem::remove_all(dir_);
  }
  PrivateKeyring(const PrivateKeyring&) = delete;
  PrivateKeyring& operator=(const PrivateKeyring&) = delete;

  // Whether the keyring answers, unlocked.
  bool ready() const { return ready_; }
  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path database() const {
    return dir_ / "config/KRWTN_Software/VLKRNTS/settings.sqlite3";
  }

  void StartKeyring() {
    int in[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
      return;
    keyring_ = Spawn({"gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"},
                     in[0], -1);
    ::close(in[0]);
    (void)!::write(in[1], "test password", 13);
    ::close(in[1]);
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(ready_ = Keyring("").Connect() == KeyringStatus::kOk) &&
           std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  void StopKeyring() {
    Stop(keyring_);
    ready_ = false;
  }
  // The login keyring locked, as after the screen locks or a timeout.
  bool Lock() const {
    return Output(
               "gdbus call --session --dest org.freedesktop.secrets --object-path "
               "/org/freedesktop/secrets --method org.freedesktop.Secret.Service.Lock "
               "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null 2>&1; echo $?") ==
           "0\n";
  }

  // Starts `argv` with the given standard input and output (-1: /dev/null).
  static pid_t Spawn(const std::vector<std::string>& argv, int in, int out) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(in >= 0 ? in : null, STDIN_FILENO);
      ::dup2(out >= 0 ? out : null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      std::vector<char*> args;
      for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    return pid;
  }

 private:
  static void Stop(pid_t& pid) {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0)
      ::waitpid(pid, nullptr, 0);
    pid = -1;
  }

  std::filesystem::path dir_;
  pid_t bus_ = -1;
  pid_t keyring_ = -1;
  bool ready_ = false;
};

}  // namespace velkorant::testing
