// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A real Secret Service for a test: a private D-Bus session bus and gnome-keyring-daemon on it,
// its login keyring made and unlocked with a test password, under a private home, runtime and
// settings folder that the test process's environment is pointed at. The bus starts nothing on
// its own, so no prompt can ever be shown: the keyring's prompts end dismissed, as when the user
// refuses them. Both daemons are stopped by their PIDs. One per process: GLib keeps the first
// session bus it connected to (CTest runs each test in a process of its own).

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>

namespace velkorant::testing {

// Runs a shell command line and gives what it printed.
inline std::string Output(const std::string& command) {
  std::string text;
  if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
    for (int c; (c = std::fgetc(pipe)) != EOF;)
      text += static_cast<char>(c);
    ::pclose(pipe);
  }
  return text;
}

// A private session bus: its configuration in a folder of its own, where it listens, the
// environment pointed at it, and nothing started on demand unless the configuration elements
// that `extra` gives (after making what they name in the folder) say otherwise. The bus is
// stopped by its PID, and the folder removed.
struct PrivateBus {
  explicit PrivateBus(const std::string& label,
                      const std::function<std::string(const std::filesystem::path&)>& extra = {}) {
    std::string pattern = "/tmp/velkorant-" + label + "-XXXXXX";
    dir = ::mkdtemp(pattern.data());
    std::ofstream(dir / "bus.conf")
        << "<busconfig><type>session</type><listen>unix:dir=" << dir.string()
        << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
           "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
           "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
        << (extra ? extra(dir) : "") << "</busconfig>\n";
    std::string address;
    std::istringstream(
        Output("env -u DISPLAY -u WAYLAND_DISPLAY dbus-daemon --fork --print-pid=1 "
               "--print-address=1 --config-file=" +
               (dir / "bus.conf").string())) >>
        address >> bus;
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  }
  ~PrivateBus() {
    if (bus > 0)
      ::kill(bus, SIGKILL);
    std::filesystem::remove_all(dir);
  }
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;

  std::filesystem::path dir;
  pid_t bus = 0;
};

struct PrivateKeyring : PrivateBus {
  PrivateKeyring() : PrivateBus("keyring") {
    // Each folder is named after its variable.
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"}) {
      std::filesystem::create_directory(dir / name);
      ::setenv(name, (dir / name).c_str(), 1);
    }
    std::filesystem::permissions(dir / "XDG_RUNTIME_DIR", std::filesystem::perms::owner_all);
    // Started, and then its PID once it answers on the bus: "(uint32 PID,)".
    std::sscanf(Output("printf 'test password' | gnome-keyring-daemon --daemonize --unlock "
                       "--components=secrets >/dev/null 2>&1; for i in $(seq 100); do gdbus call "
                       "--session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                       "--method org.freedesktop.DBus.GetConnectionUnixProcessID "
                       "org.freedesktop.secrets 2>/dev/null && break; sleep 0.05; done")
                    .c_str(),
                "(uint32 %d", &keyring);
  }
  ~PrivateKeyring() { StopKeyring(); }
  void StopKeyring() {
    if (keyring > 0)
      ::kill(std::exchange(keyring, 0), SIGKILL);
  }
  // The login keyring locked, as after the screen locks.
  void Lock() const {
    Output(
        "gdbus call --session --dest org.freedesktop.secrets --object-path "
        "/org/freedesktop/secrets --method org.freedesktop.Secret.Service.Lock "
        "\"['/org/freedesktop/secrets/collection/login']\" >/dev/null 2>&1");
  }

  pid_t keyring = 0;
};

// A Secret Service that never answers, as a hung keyring daemon: on a private session bus,
// org.freedesktop.secrets can be started on demand, but the program the bus starts for it never
// takes the name, and the bus waits ten minutes for it. Every keyring call then waits for an
// answer (until libsecret's own D-Bus time-out, 25 s). Use:
//   SilentKeyring silent;  // points DBUS_SESSION_BUS_ADDRESS at its bus
//   ... make keyring calls: each one hangs; silent.started() once the bus waits on the service
// The bus and the program it started are stopped by their PIDs (the program also ends by itself
// within a second of the bus). One per process, as PrivateKeyring.
struct SilentKeyring : PrivateBus {
  SilentKeyring()
      : PrivateBus("silent", [](const std::filesystem::path& folder) {
          std::filesystem::create_directory(folder / "services");
          std::ofstream(folder / "services" / "org.freedesktop.secrets.service")
              << "[D-BUS Service]\nName=org.freedesktop.secrets\nExec="
              << (folder / "silent").string() << "\n";
          return "<servicedir>" + (folder / "services").string() +
                 "</servicedir><limit name=\"service_start_timeout\">600000</limit>";
        }) {
    // It leaves its PID to be stopped by, and waits, bounded, while the bus is there.
    std::ofstream(dir / "silent") << "#!/bin/sh\necho $$ > " << (dir / "silent.pid").string()
                                  << "\ni=0\nwhile [ $i -lt 600 ] && kill -0 " << bus
                                  << " 2>/dev/null; do sleep 1; i=$((i+1)); done\n";
    std::filesystem::permissions(dir / "silent", std::filesystem::perms::owner_all);
  }
  ~SilentKeyring() {
    if (const pid_t pid = started(); pid > 0)
      ::kill(pid, SIGKILL);
  }
  // The PID of the program the bus started for a call, 0 before.
  pid_t started() const {
    pid_t pid = 0;
    std::ifstream(dir / "silent.pid") >> pid;
    return pid;
  }
};

}  // namespace velkorant::testing
