// Saves messages into the stores of a folder until it is killed, printing "<e|r> NUMERO INDEX"
// after each SaveMessage has returned. Used by crash_safety_test.cpp.

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "crash_safety_message.h"
#include "store/message_store.h"

int main(int argc, char** argv) {
  if (argc != 3)
    return 2;
  velkorant::MessageStore store(argv[1]);
  for (std::uint64_t index = std::strtoull(argv[2], nullptr, 10);; ++index) {
    const velkorant::Message message = velkorant::testing::CrashMessage(index);
    const std::uint32_t numero = store.SaveMessage(message);
    const std::string line = numero == 0
                                 ? std::string("fail\n")
                                 : std::string(message.enviado ? "e " : "r ") +
                                       std::to_string(numero) + " " + std::to_string(index) + "\n";
    // Unbuffered: a line the test sees was written after the save returned.
    if (::write(STDOUT_FILENO, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
      return 1;
    }
    if (numero == 0)
      return 1;
  }
}
