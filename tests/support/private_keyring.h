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

// A session bus configuration listening in `dir` that starts no service on demand, unless
// `extra` elements say otherwise.
inline void WriteBareBusConfig(const std::filesystem::path& file, const std::filesystem::path& dir,
                               const std::string& extra = "") {
  std::ofstream(file) << "<busconfig><type>session</type><listen>unix:dir=" << dir.string()
                      << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                         "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                      << extra << "</busconfig>\n";
}

// Starts a private session bus with that configuration, points the environment at it and gives
// its PID.
inline pid_t StartBus(const std::filesystem::path& config) {
  std::string address;
  pid_t pid = 0;
  std::istringstream(
      Output("env -u DISPLAY -u WAYLAND_DISPLAY dbus-daemon --fork --print-pid=1 "
             "--print-address=1 --config-file=" +
             config.string())) >>
      address >> pid;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
  return pid;
}

struct PrivateKeyring {
  PrivateKeyring() {
    char pattern[] = "/tmp/velkorant-keyring-XXXXXX";
    dir = ::mkdtemp(pattern);
    // Each folder is named after its variable.
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"}) {
      std::filesystem::create_directory(dir / name);
      ::setenv(name, (dir / name).c_str(), 1);
    }
    std::filesystem::permissions(dir / "XDG_RUNTIME_DIR", std::filesystem::perms::owner_all);
    WriteBareBusConfig(dir / "bus.conf", dir);
    bus = StartBus(dir / "bus.conf");
    // Started, and then its PID once it answers on the bus: "(uint32 PID,)".
    std::sscanf(Output("printf 'test password' | gnome-keyring-daemon --daemonize --unlock "
                       "--components=secrets >/dev/null 2>&1; for i in $(seq 100); do gdbus call "
                       "--session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus "
                       "--method org.freedesktop.DBus.GetConnectionUnixProcessID "
                       "org.freedesktop.secrets 2>/dev/null && break; sleep 0.05; done")
                    .c_str(),
                "(uint32 %d", &keyring);
  }
  ~PrivateKeyring() {
    StopKeyring();
    if (bus > 0)
      ::kill(bus, SIGKILL);
    std::filesystem::remove_all(dir);
  }
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

  std::filesystem::path dir;
  pid_t bus = 0;
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
struct SilentKeyring {
  SilentKeyring() {
    char pattern[] = "/tmp/velkorant-silent-XXXXXX";
    dir = ::mkdtemp(pattern);
    std::filesystem::create_directory(dir / "services");
    std::ofstream(dir / "services" / "org.freedesktop.secrets.service")
        << "[D-BUS Service]\nName=org.freedesktop.secrets\nExec=" << (dir / "silent").string()
        << "\n";
    WriteBareBusConfig(dir / "bus.conf", dir,
                       "<servicedir>" + (dir / "services").string() +
                           "</servicedir><limit name=\"service_start_timeout\">600000</limit>");
    bus = StartBus(dir / "bus.conf");
    // It leaves its PID to be stopped by, and waits, bounded, while the bus is there.
    std::ofstream(dir / "silent") << "#!/bin/sh\necho $$ > " << (dir / "silent.pid").string()
                                  << "\ni=0\nwhile [ $i -lt 600 ] && kill -0 " << bus
                                  << " 2>/dev/null; do sleep 1; i=$((i+1)); done\n";
    std::filesystem::permissions(dir / "silent", std::filesystem::perms::owner_all);
  }
  ~SilentKeyring() {
    if (const pid_t pid = started(); pid > 0)
      ::kill(pid, SIGKILL);
    if (bus > 0)
      ::kill(bus, SIGKILL);
    std::filesystem::remove_all(dir);
  }
  // The PID of the program the bus started for a call, 0 before.
  pid_t started() const {
    pid_t pid = 0;
    std::ifstream(dir / "silent.pid") >> pid;
    return pid;
  }

  std::filesystem::path dir;
  pid_t bus = 0;
};

}  // namespace velkorant::testing
