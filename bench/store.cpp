// SPDX-License-Identifier: GPL-3.0-or-later
// Times LoadMessageStore on stores of 1 000 and 10 000 messages per file (the load must grow
// linearly: it runs after every received message), and one SaveMessage into the big store against
// a plain copy of its file (a save rewrites the whole file, so a copy is its floor).

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "crypto/digests.h"
#include "platform/ansi_text.h"
#include "platform/ini_file.h"
#include "store/message_store.h"
#include "store/message_text.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using velkorant::Message;

Message SampleMessage(bool enviado, int n) {
  Message m;
  m.enviado = enviado;
  m.fecha_msj = velkorant::MessageTimestamp(1700000000 + n * 60);
  m.usuario_emisor_msj = enviado ? "Hannah_desert" : "Jos\xE9 Mar\xEDn";
  m.usuario_receptor_msj = enviado ? "Jos\xE9 Mar\xEDn" : "Hannah_desert";
  m.asunto_msj = "Asunto n\xFAmero " + std::to_string(n);
  m.cuerpo_msj = "Hola, \xBFqu\xE9 tal?\r\nEste es el mensaje " + std::to_string(n) +
                 " de la prueba, con algo de texto para que tenga un tama\xF1o normal.\r\n"
                 "Un saludo.";
  m.password_msj = "clave compartida";
  m.flag_msj_enviado_srv = true;
  m.flag_msj_leido = true;
  m.flag_msj_desencriptado = !enviado;
  return m;
}

// The bytes SaveMessage would leave after `count` new messages (saving them one by one would
// rewrite the file `count` times).
std::string StoreFile(bool enviado, int count) {
  velkorant::IniDocument document = velkorant::IniDocument::Parse("");
  for (int n = 1; n <= count; ++n) {
    const Message m = SampleMessage(enviado, n);
    const std::string section =
        velkorant::MessageStore::SectionName(enviado, static_cast<std::uint32_t>(n));
    const auto write = [&](std::string_view key, std::string_view value) {
      document.WriteString(section, key, value);
    };
    write("fecha_msj", m.fecha_msj);
    write("usuario_receptor_msj", velkorant::AnsiToUtf8(m.usuario_receptor_msj));
    write("usuario_emisor_msj", velkorant::AnsiToUtf8(m.usuario_emisor_msj));
    write("asunto_msj", velkorant::AnsiToUtf8(m.asunto_msj));
    write("cuerpo_msj", velkorant::AnsiToUtf8(velkorant::EncodeLineBreaks(m.cuerpo_msj)));
    write("password_hash", velkorant::Crc32Hex(m.password_msj));
    write("flag_msj_enviado_srv", m.flag_msj_enviado_srv ? "1" : "0");
    write("flag_msj_leido", m.flag_msj_leido ? "1" : "0");
    write("flag_msj_desencriptado", m.flag_msj_desencriptado ? "1" : "0");
    write("flag_msj_respondido", m.flag_msj_respondido ? "1" : "0");
    document.AppendLineEnd();
  }
  return document.Serialize();
}

fs::path MakeStore(const fs::path& root, int count) {
  const fs::path dir = root / std::to_string(count);
  fs::create_directories(dir);
  std::ofstream(dir / velkorant::kSentMessagesFile, std::ios::binary) << StoreFile(true, count);
  std::ofstream(dir / velkorant::kReceivedMessagesFile, std::ios::binary)
      << StoreFile(false, count);
  return dir;
}

// A copy as a program that cares for its data makes it: read, write, flush.
void CopyFile(const fs::path& from, const fs::path& to, bool flush) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  if (flush) {
    const int fd = ::open(to.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      ::fsync(fd);
      ::close(fd);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
  const fs::path root =
      fs::temp_directory_path() / ("velkorant-bench-store-" + std::to_string(::getpid()));
  fs::remove_all(root);
  const fs::path small = MakeStore(root, 1000);
  const fs::path big = MakeStore(root, 10000);

  // A fresh store each round: read, parse and convert everything, as at start-up. Making and
  // destroying the store is not timed.
  std::size_t loaded_small = 0;
  std::size_t loaded_big = 0;
  const auto cold_load = [rounds](const fs::path& dir, std::size_t& loaded) {
    std::vector<std::unique_ptr<velkorant::MessageStore>> stores;
    for (int i = 0; i < rounds; ++i)
      stores.push_back(std::make_unique<velkorant::MessageStore>(dir));
    int next = 0;
    const double ms = velkorant::bench::MedianMs(
        rounds, [&] { stores[static_cast<std::size_t>(next++)]->LoadMessageStore(); });
    loaded = stores.front()->messages().size();
    return ms;
  };
  const double load_small = cold_load(small, loaded_small);
  const double load_big = cold_load(big, loaded_big);
  // The same store again, file unchanged: what the receive flow pays after each message.
  velkorant::MessageStore store(big);
  store.LoadMessageStore();
  const double reload_big = velkorant::bench::MedianMs(rounds, [&] { store.LoadMessageStore(); });
  if (loaded_small != 2000 || loaded_big != 20000) {
    std::fprintf(stderr, "loaded %zu and %zu messages, expected 2000 and 20000\n", loaded_small,
                 loaded_big);
    return 1;
  }

  const fs::path sent = big / velkorant::kSentMessagesFile;
  const double copy =
      velkorant::bench::MedianMs(rounds, [&] { CopyFile(sent, root / "copy.ini", false); });
  const double copy_flushed =
      velkorant::bench::MedianMs(rounds, [&] { CopyFile(sent, root / "copy.ini", true); });
  int n = 20000;
  std::uint32_t numero = 0;
  const double save = velkorant::bench::MedianMs(
      rounds, [&] { numero = store.SaveMessage(SampleMessage(true, ++n)).numero; });
  store.BeginBatch();
  const double save_held = velkorant::bench::MedianMs(
      rounds, [&] { numero = store.SaveMessage(SampleMessage(true, ++n)).numero; });
  bool batch_written = false;
  const double end_batch =
      velkorant::bench::MedianMs(1, [&] { batch_written = store.EndBatch().ok; });
  if (!batch_written || numero == 0) {
    std::fprintf(stderr, "saving failed\n");
    return 1;
  }

  const double load_ratio = load_big / load_small;
  const double save_ratio = save / copy_flushed;
  std::printf("rounds (median of)                   %d\n", rounds);
  std::printf("file size, 10 000 messages           %.2f MiB\n",
              static_cast<double>(fs::file_size(sent)) / (1024.0 * 1024.0));
  std::printf("LoadMessageStore, 2 x 1 000          %.2f ms\n", load_small);
  std::printf("LoadMessageStore, 2 x 10 000         %.2f ms\n", load_big);
  std::printf("  ratio 10k/1k                       %.2f  (limit 12) %s\n", load_ratio,
              load_ratio <= 12 ? "ok" : "OVER");
  std::printf("  again, files unchanged (cached)    %.2f ms\n", reload_big);
  std::printf("copy of the 10k file                 %.2f ms\n", copy);
  std::printf("copy of the 10k file + fsync         %.2f ms\n", copy_flushed);
  std::printf("SaveMessage into the 10k file        %.2f ms\n", save);
  std::printf("  ratio to copy + fsync              %.2f  (limit 3) %s\n", save_ratio,
              save_ratio <= 3 ? "ok" : "OVER");
  std::printf("  ratio to copy without fsync        %.2f\n", save / copy);
  std::printf("SaveMessage held in a batch          %.2f ms\n", save_held);
  std::printf("  the batch's one write + fsync      %.2f ms (%d messages)\n", end_batch, rounds);
  fs::remove_all(root);
  return 0;
}
