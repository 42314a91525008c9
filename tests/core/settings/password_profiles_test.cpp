#include "settings/password_profiles.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "crypto/digests.h"

namespace velkorant {
namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::string>;

PasswordProfile Profile(std::string name, std::string password) {
  PasswordProfile profile;
  profile.name = std::move(name);
  profile.password = std::move(password);
  profile.comment1 = "uno";
  profile.comment2 = "dos";
  profile.comment3 = "tres";
  profile.comment4 = "cuatro";
  return profile;
}

class PasswordProfilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "velkorant-profiles-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    ::setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    store_ = std::make_unique<SettingsStore>();
  }
  void TearDown() override {
    store_.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir_);
  }

  // What the profiles dialog's OK stores.
  void SaveAsDialog(const PasswordProfile& profile) {
    ASSERT_TRUE(WriteProfile(*store_, kReservedProfileName, profile));
    ASSERT_TRUE(WriteProfile(*store_, profile.name, profile));
  }

  fs::path dir_;
  std::unique_ptr<SettingsStore> store_;
};

TEST_F(PasswordProfilesTest, FreshStoreHasNoProfiles) {
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{});
  EXPECT_EQ(ReadProfile(*store_, kReservedProfileName).value(), PasswordProfile{});
  PasswordList list;
  list.LoadPasswordList(*store_);
  EXPECT_TRUE(list.empty());
  EXPECT_EQ(list.FindProfileByFingerprint(Crc32Hex("")), -1);
}

TEST_F(PasswordProfilesTest, ProfileRoundTripsUnderItsSection) {
  const PasswordProfile amigo = Profile("Amigo",
                                        "contrase\xF1"
                                        "a larga");
  SaveAsDialog(amigo);
  EXPECT_EQ(ReadProfile(*store_, "Amigo").value(), amigo);
  EXPECT_EQ(ReadProfile(*store_, "Seleccion").value(), amigo);
  // The stored names of the values.
  EXPECT_EQ(store_->ReadText("PerfilPass\\Amigo", "PerfilNombre"), "Amigo");
  EXPECT_EQ(store_->ReadText("PerfilPass\\Amigo", "Password"),
            "contrase\xF1"
            "a larga");
  EXPECT_EQ(store_->ReadText("PerfilPass\\Amigo", "Comentario4"), "cuatro");
}

TEST_F(PasswordProfilesTest, NamesDifferingInCaseEditOneProfile) {
  SaveAsDialog(Profile("Amigo", "primera clave"));
  SaveAsDialog(Profile("AMIGO", "segunda clave"));
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{"Amigo"});
  const PasswordProfile stored = ReadProfile(*store_, "amigo").value();
  EXPECT_EQ(stored.password, "segunda clave");
  EXPECT_EQ(stored.name, "AMIGO");  // PerfilNombre holds the name as last typed
}

TEST_F(PasswordProfilesTest, ReservedNameInAnyCaseIsTheReservedKey) {
  SaveAsDialog(Profile("Amigo", "clave de amigo"));
  for (const char* name : {"seleccion", "SELECCION", "Seleccion"}) {
    SaveAsDialog(Profile(name, std::string("clave ") + name));
    EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{"Amigo"}) << name;
    EXPECT_EQ(ReadProfile(*store_, "Seleccion").value().password, std::string("clave ") + name);
  }
  PasswordList list;
  list.LoadPasswordList(*store_);
  ASSERT_EQ(list.entries().size(), 1u);
  EXPECT_EQ(list.entries()[0].password, "clave de amigo");
}

TEST_F(PasswordProfilesTest, BackslashNestsAndOnlyTheFirstComponentIsListed) {
  const PasswordProfile ana = Profile("Trabajo\\Ana", "clave de Ana");
  SaveAsDialog(ana);
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{"Trabajo"});
  EXPECT_EQ(ReadProfile(*store_, "Trabajo\\Ana").value(), ana);
  EXPECT_EQ(ReadProfile(*store_, "Trabajo").value().password, "");

  // "Trabajo" holds no password of its own, so it gives no entry.
  PasswordList list;
  list.LoadPasswordList(*store_);
  EXPECT_TRUE(list.empty());

  // A key with subkeys stays; the key was still obtained.
  EXPECT_TRUE(DeleteProfile(*store_, "Trabajo"));
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{"Trabajo"});
  EXPECT_TRUE(DeleteProfile(*store_, "Trabajo\\Ana"));
  EXPECT_TRUE(DeleteProfile(*store_, "Trabajo"));
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{});
}

TEST_F(PasswordProfilesTest, EnumerationIgnoresCaseAndPutsUnderscoreAfterLetters) {
  for (const char* name : {"zulu", "Alfa", "alfa_b", "alfab", "Beta", "\xD1u"}) {
    SaveAsDialog(Profile(name, "ocho car"));
  }
  EXPECT_EQ(EnumerateProfiles(*store_).value(),
            (Names{"Alfa", "alfab", "alfa_b", "Beta", "zulu", "\xD1u"}));
}

TEST_F(PasswordProfilesTest, NameOfFiftyCharactersEndsTheEnumeration) {
  SaveAsDialog(Profile("A1", "ocho car"));
  SaveAsDialog(Profile("B" + std::string(48, 'x'), "ocho car"));  // 49: listed
  SaveAsDialog(Profile("C" + std::string(49, 'x'), "ocho car"));  // 50: ends the list
  SaveAsDialog(Profile("D1", "ocho car"));
  EXPECT_EQ(EnumerateProfiles(*store_).value(), (Names{"A1", "B" + std::string(48, 'x')}));
}

TEST_F(PasswordProfilesTest, PasswordListFollowsTheEnumeration) {
  SaveAsDialog(Profile("carla", "misma clave"));
  SaveAsDialog(Profile("Bruno", "clave de Bruno"));
  SaveAsDialog(Profile("Ana", "misma clave"));
  ASSERT_TRUE(WriteProfile(*store_, "Vacio", Profile("Vacio", "")));

  PasswordList list;
  list.LoadPasswordList(*store_);
  ASSERT_EQ(list.entries().size(), 3u);
  EXPECT_EQ(list.entries()[0].profile_name, "Ana");
  EXPECT_EQ(list.entries()[1].profile_name, "Bruno");
  EXPECT_EQ(list.entries()[2].profile_name, "carla");
  EXPECT_EQ(list.entries()[1].password, "clave de Bruno");
  EXPECT_EQ(list.entries()[1].fingerprint, Crc32Hex("clave de Bruno"));

  // The first of equal fingerprints, compared exactly.
  const std::string shared = Crc32Hex("misma clave");
  EXPECT_EQ(list.FindProfileByFingerprint(shared), 0);
  EXPECT_EQ(list.FindProfileByFingerprint(Crc32Hex("clave de Bruno")), 1);
  std::string lower = shared;
  for (char& c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower != shared) {
    EXPECT_EQ(list.FindProfileByFingerprint(lower), -1);
  }
  EXPECT_EQ(list.FindProfileByFingerprint(""), -1);

  // A rebuild replaces the list.
  ASSERT_TRUE(DeleteProfile(*store_, "ana"));
  list.LoadPasswordList(*store_);
  ASSERT_EQ(list.entries().size(), 2u);
  EXPECT_EQ(list.FindProfileByFingerprint(shared), 1);
}

TEST_F(PasswordProfilesTest, DeletingReportsWhetherTheStoreCouldBeUsed) {
  EXPECT_TRUE(DeleteProfile(*store_, "Nadie"));  // no such profile: nothing changes
  SaveAsDialog(Profile("Amigo", "clave de amigo"));
  EXPECT_TRUE(DeleteProfile(*store_, "Nadie"));
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{"Amigo"});
  EXPECT_TRUE(DeleteProfile(*store_, "AMIGO"));
  EXPECT_EQ(EnumerateProfiles(*store_).value(), Names{});
  EXPECT_EQ(ReadProfile(*store_, "Amigo").value(), PasswordProfile{});

  // A database that cannot be used gives no key.
  const fs::path path = store_->database().path();
  store_.reset();
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(2048, 'Z');
  store_ = std::make_unique<SettingsStore>();
  EXPECT_FALSE(DeleteProfile(*store_, "Amigo"));
  EXPECT_FALSE(WriteProfile(*store_, "Amigo", Profile("Amigo", "clave de amigo")));
  EXPECT_FALSE(EnumerateProfiles(*store_).has_value()) << "no list passes for an empty one";
}

}  // namespace
}  // namespace velkorant
