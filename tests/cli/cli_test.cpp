// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>
#include <tuple>

#include "crypto/digests.h"
#include "crypto/message_cipher.h"
#include "platform/ansi_text.h"
#include "settings/password_profiles.h"
#include "store/message_store.h"
#include "support/cli_runner.h"
#include "support/installation.h"

namespace velkorant::cli {
namespace {

namespace fs = std::filesystem;

// velkorant-cli's commands in a private installation; each case is settled before a request to
// a server would be made.
class CliTest : public ::testing::Test {
 protected:
  std::string File(const std::string& content) {
    const fs::path path = installation_.root() / std::to_string(++files_);
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
  }
  struct Case {
    int status;
    std::string err;  // a part of standard error
    std::vector<std::string> args;
    std::string out = "", input = "";
  };
  // The commands in order: each must end with its status and print what its case says.
  static void Expect(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.args.empty() ? "" : c.args.front() + " " + c.args.back());
      const testing::CliResult result = testing::RunCliCommand(c.args, c.input);
      EXPECT_EQ(std::tie(result.status, result.out), std::tie(c.status, c.out));
      EXPECT_NE(result.err.find(c.err), std::string::npos) << result.err;
    }
  }

  // A command line split at its spaces, run with `input` on standard input.
  static testing::CliResult Run(const std::string& line, const std::string& input = "") {
    std::istringstream words(line);
    return testing::RunCliCommand({std::istream_iterator<std::string>(words), {}}, input);
  }

  // profile add NAME --password-file FILE, and a --comment for each comment.
  static std::vector<std::string> Add(std::string name, std::string file,
                                      std::vector<std::string> comments = {""}) {
    std::vector<std::string> args{"profile", "add", name, "--password-file", file};
    for (const std::string& comment : comments)
      args.insert(args.end(), {"--comment", comment});
    return args;
  }

  testing::Installation installation_{"cli"};
  int files_ = 0;
};

TEST_F(CliTest, CommandsRefuseWhatTheProgramRefuses) {
  const std::string eight = File("12345678"), kilobyte(1024, 'k');
  const std::string dir = installation_.root().string(), fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto send = [](std::string to, std::string subject, std::string body, std::string err,
                       std::string profile = "Amigos") {
    return Case{1, err, {"send", "--to", to, "--subject", subject, "--profile", profile}, "", body};
  };
  // A fixed prefix: with a random one, a wrong password passes the padding check once in 256.
  const std::string fixed = EncryptTextWithPrefix("0123456789abcdef", "x", DeriveKeyAndIv("buena"));
  Expect({
      {1, "relleno final no es válido", {"decrypt", "--password-file", File("mala")}, "", fixed},
      {1, "no es múltiplo de 16", {"decrypt", "--password-file", File("buena")}, "", "ABC"},
      {0, "", {"folder", "Peña"}, "A246EC5351\n"},
      // One line end is not part of a password; what is not UTF-8 would be another password.
      {0, "", {"fingerprint", "--password-file", File("abc\r\n")}, "C2412435\n"},
      {0, "", {"fingerprint", "--password-file", File("abc \n\n")}, "AD2E9FCC\n"},
      {1, "no es texto UTF-8", {"fingerprint", "--password-file", File("\xF1")}},
      {1, "no se puede leer el archivo", {"encrypt", "--password-file", File("") + "x"}},
      // Only a regular file of 1 KiB at most, holding a password, is taken.
      {1, "no es un archivo normal, sino una carpeta", {"encrypt", "--password-file", dir}},
      {1, "no es un archivo normal, sino una tubería", {"fingerprint", "--password-file", fifo}},
      {1, "no es un archivo normal, sino un dispositivo", {"decrypt", "--password-file=/dev/zero"}},
      {1, "tiene más de 1024 bytes", {"fingerprint", "--password-file", File(kilobyte + "\n")}},
      {0, "", {"fingerprint", "--password-file", File(kilobyte)}, Crc32Hex(kilobyte) + "\n"},
      {1, "está vacío", {"encrypt", "--password-file", File("\n")}, "", "x"},
      {1, "está vacío", {"fingerprint", "--password-file", File("")}},
      {1, "Seleccion, en mayúsculas o en minúsculas, está reservado", Add("SELECCION", eight)},
      {1, "no puede llevar barras inversas", Add("Club\\Sub", eight)},
      // The dialogs' checks and limits, in their order.
      {1, "Introduce un nombre de perfil", Add("", eight)},
      {1, "Introduce una contraseña de al menos 8 caracteres", Add("Amigo", File("1234567\n"))},
      {1, "el nombre del perfil tiene más de 40", Add(std::string(41, 'n'), eight)},
      {1, "la contraseña tiene más de 40", Add("Amigo", File(std::string(41, 'p')))},
      {1, "el comentario tiene más de 100", Add("Amigo", eight, {std::string(101, 'c')})},
      {2, "como máximo 4 líneas de comentario", Add("A", eight, {"1", "2", "3", "4", "5"})},
      {1, "admite como máximo 40 caracteres y ahora tiene 68", {"register", std::string(68, 'n')}},
      {1, "Falta tu nombre de usuario: ", {"register", "1234 67"}},
      {1, "admite como máximo 100 caracteres y ahora tiene 101", {"server", std::string(101, 's')}},
      {1, "la dirección del servidor no puede estar vacía", {"server", ""}},
      // A line break would cut a single-line field where it is read back, or add lines of its
      // own to every message text.
      {2, "de una sola línea", {"register", "Hannah_desert\nEMI:Otro"}},
      {0, "", {"--version"}, "velkorant-cli 1.1\n"},
      send("John Sala", "Hola", "texto", "Falta tu nombre de usuario: "),
  });
  EXPECT_FALSE(fs::exists(installation_.settings_file())) << "nothing refused is written";
  SettingsStore store;
  ASSERT_TRUE(SavePreferences(store, {"Hannah_d\xE9sert", "", "x/", "", 0, 1, 0}, 7));
  Expect({send("John Sala", "Hola", "texto", "No existen perfiles de contraseñas: ")});
  ASSERT_TRUE(WriteProfile(store, "Amigos", {"Amigos", "clave compartida", "", "", "", ""}));
  Expect({
      send("", "", "", "Falta el nombre de usuario: "),
      send("Hannah_désert", "Hola", "texto", "Auto-mensaje: "),
      send("John Sala", "Hola", "texto", "no hay ningún perfil de contraseña llamado Nadie",
           "Nadie"),
      send(std::string(101, 'r'), "Hola", "texto", "Texto demasiado largo: "),
      send("John Sala", std::string(101, 'a'), "texto", "Texto demasiado largo: "),
      // A line break counts two: 400 of them fill the body.
      send("John Sala", "Hola", std::string(400, '\n') + "x", "Texto demasiado largo: "),
      {0,
       "",
       {"settings"},
       "NombreUsuario: Hannah_désert\nNombreServidor: x/\nAutoMsjInicio: 0\nAutoMsjTiempo: 1\n"
       "ReproSonidos: 0\nMsjsRecibidos: 7\nEjecPrimVez: 1\n"},
      {0, "", {"server", std::string(100, 's')}},  // a text at its limit is taken
  });
  EXPECT_FALSE(fs::exists(kSentMessagesFile)) << "nothing refused is stored";
  // Command lines that are wrong, one between two "|".
  std::istringstream usage(
      "|nonsense|encrypt|encrypt --password secreto123|encrypt --password-file|folder|profile"
      "|profile rename|profile add Amigo|profile add --password-file x|profile list x"
      "|profile remove|settings x|received-counter -1|received-counter 7x|server a b"
      "|check-server x|register|send --to x|receive x|retry x|list x|show"
      "|send --to A --to B --subject S --profile P|encrypt --password-file a --password-file=b");
  for (std::string line; std::getline(usage, line, '|');)
    EXPECT_EQ(Run(line).status, kExitUsage) << line;
  EXPECT_NE(testing::RunCliCommand({"--help"}).out.find("  received-counter [NÚMERO]\n"),
            std::string::npos);
}

// Profiles are stored as the profiles dialog stores them: with a copy of the one saved last,
// emptied when one is deleted; one with nested profiles stays.
TEST_F(CliTest, Profiles) {
  const std::string eight = File("12345678"), forty(40, 'n');
  Expect({
      {0, "", Add("Año", File("contraseña\n"), {"primera línea", "segunda"})},
      // The limits count characters of Windows-1252, as the dialog does.
      {0, "",
       Add(forty, File("ññññññññññññññññññññññññññññññññññññññññ"), {std::string(100, 'c')})},
      {0, "", Add("Trabajo", eight, {})},
  });
  // A nested profile comes from elsewhere (an older version, the Windows program's registry).
  SettingsStore store;
  ASSERT_TRUE(WriteProfile(store, "Trabajo\\Ana", {"Trabajo\\Ana", "12345678", "", "", "", ""}));
  Expect({
      // Without a keyring, as in these tests, passwords stay in the database, and it says so.
      {0, "se guardan en claro en", {"profile", "list"}, "Año\n" + forty + "\nTrabajo\n"},
      {1, "ningún perfil de contraseña llamado Nadie", {"profile", "remove", "Nadie"}},
      {1, "ningún perfil de contraseña llamado Seleccion", {"profile", "remove", "Seleccion"}},
  });
  EXPECT_EQ(ReadProfile(store, "A\xF1o").profile.value(),
            (PasswordProfile{"A\xF1o", Utf8ToAnsi("contraseña"), Utf8ToAnsi("primera línea"),
                             "segunda", "", ""}));
  EXPECT_EQ(ReadProfile(store, forty).profile.value().password, std::string(40, '\xF1'));
  EXPECT_EQ(ReadProfile(store, "Seleccion").profile.value().name, "Trabajo");
  Expect({{1, "elimina antes los perfiles que tiene dentro", {"profile", "remove", "Trabajo"}},
          {0, "", {"profile", "remove", "TRABAJO\\ana"}},
          {0, "", {"profile", "remove", "trabajo"}},
          {0, "", {"profile", "list"}, "Año\n" + forty + "\n"}});
  EXPECT_EQ(ReadProfile(store, "Seleccion").profile.value(), PasswordProfile{});
  EXPECT_TRUE(store.SectionExists("PerfilPass\\Seleccion"));
}

// Settings that cannot be read stop every command that needs them, with one line that names
// the file (defaults in their place would act as someone else), and the file is kept.
TEST_F(CliTest, DamagedSettingsStopEveryCommandThatNeedsThem) {
  const std::string file = installation_.settings_file().string(), garbage(4096, 'Z');
  fs::create_directories(installation_.settings_file().parent_path());
  std::ofstream(file, std::ios::binary) << garbage;
  for (const std::string& line : std::vector<std::string>{
           "check-server", "register Hannah_desert", "receive", "retry", "server",
           "send --to John --subject Hola --profile Amigos", "server otro.example.org/v/",
           "settings", "profile list", "profile add Amigo --password-file " + File("12345678"),
           "profile remove Amigo", "received-counter", "received-counter 3"}) {
    const testing::CliResult result = Run(line, "texto");
    EXPECT_EQ(std::tuple(result.status, result.out), std::tuple(kExitFailure, "")) << line;
    EXPECT_NE(result.err.find(file + ": "), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  }
  EXPECT_EQ(testing::Installation::Bytes(file), garbage);
}

}  // namespace
}  // namespace velkorant::cli
