// A writer process saving messages in a loop is killed at random moments; after every kill the
// store must load, hold every message whose save had returned, and hold no torn message.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "crash_safety_message.h"
#include "crypto/digests.h"
#include "store/message_store.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

class WriterProcess {
 public:
  WriterProcess(const fs::path& folder, std::uint64_t first_index) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      return;
    const std::string first = std::to_string(first_index);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::execl(VELKORANT_CRASH_WRITER, VELKORANT_CRASH_WRITER, folder.c_str(), first.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    fd_ = fds[0];
  }
  WriterProcess(const WriterProcess&) = delete;
  WriterProcess& operator=(const WriterProcess&) = delete;
  ~WriterProcess() {
    Kill();
    if (fd_ >= 0)
      ::close(fd_);
  }

  bool started() const { return pid_ > 0 && fd_ >= 0; }

  // Waits until `count` complete lines have been printed; false if the writer stopped first or
  // took longer than ten seconds.
  bool WaitForLines(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (CompleteLines() < count) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0)
        return false;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
        continue;
      if (!ReadSome())
        return false;
    }
    return true;
  }

  // SIGKILL, then collect what was printed before it. True if the signal ended the writer.
  bool Kill() {
    if (pid_ <= 0)
      return false;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    while (ReadSome()) {
    }
    return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  }

  const std::string& output() const { return output_; }

 private:
  std::size_t CompleteLines() const {
    return static_cast<std::size_t>(std::count(output_.begin(), output_.end(), '\n'));
  }
  bool ReadSome() {
    char buffer[4096];
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0)
      return false;
    output_.append(buffer, static_cast<std::size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string output_;
};

// The record a load gives for the message saved from `index`.
Message AsLoaded(std::uint64_t index, std::uint32_t numero) {
  Message m = testing::CrashMessage(index);
  m.numero = numero;
  m.password_msj = Crc32Hex(m.password_msj);
  if (m.enviado) {
    m.flag_msj_leido = m.flag_msj_desencriptado = m.flag_msj_respondido = false;
  } else {
    m.flag_msj_enviado_srv = false;
  }
  return m;
}

TEST(CrashSafety, KilledWriterNeverLosesOrTearsASavedMessage) {
  const fs::path dir =
      fs::temp_directory_path() / ("velkorant-crash-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);

  std::map<std::pair<bool, std::uint32_t>, std::uint64_t> reported;  // (enviado, numero) -> index
  std::uint64_t next_index = 1;
  int kills = 0;
  for (int round = 0; round < 24; ++round) {
    WriterProcess writer(dir, next_index);
    ASSERT_TRUE(writer.started());
    ASSERT_TRUE(writer.WaitForLines(std::uniform_int_distribution<std::size_t>(0, 12)(random)))
        << writer.output();
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
    kills += writer.Kill();
    ASSERT_EQ(writer.output().find("fail"), std::string::npos) << "a save failed";

    std::istringstream lines(writer.output());
    std::string kind;
    std::uint32_t numero = 0;
    std::uint64_t index = 0;
    while (lines >> kind >> numero >> index) {
      ASSERT_TRUE(kind == "e" || kind == "r") << writer.output();
      const auto key = std::pair(kind == "e", numero);
      ASSERT_EQ(reported.count(key), 0u) << "number handed out twice: " << kind << numero;
      reported[key] = index;
    }
    // Indexes of saves that ended unreported are never reused, so every index names one save.
    next_index = std::max(next_index, index + 1) + 1000;

    MessageStore store(dir);
    store.LoadMessageStore();
    std::map<std::pair<bool, std::uint32_t>, const Message*> loaded;
    for (const Message& m : store.messages()) {
      const std::uint64_t saved_as = std::stoull(m.fecha_msj.substr(m.fecha_msj.rfind(':') + 1));
      ASSERT_EQ(m, AsLoaded(saved_as, m.numero)) << "round " << round;
      loaded[{m.enviado, m.numero}] = &m;
    }
    for (const auto& [key, saved_as] : reported) {
      const auto it = loaded.find(key);
      ASSERT_NE(it, loaded.end()) << "lost " << (key.first ? "e" : "r") << key.second;
      EXPECT_EQ(it->second->fecha_msj, testing::CrashMessage(saved_as).fecha_msj);
    }
  }
  EXPECT_GE(kills, 20);
  EXPECT_GT(reported.size(), 24u);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace velkorant
