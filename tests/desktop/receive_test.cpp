// " Recibir mensajes" against the local mailbox server fills the list.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "server_window_fixture.h"
#include "settings/password_profiles.h"
#include "ui/event_sound_player.h"

namespace velkorant::testing {
namespace {

constexpr const char* kPassword = "clave compartida";

class ReceiveTest : public ServerWindowTest {
 protected:
  void SetUp() override { RegisterUser("receptor_"); }
};

TEST_F(ReceiveTest, ReceiveButtonFillsTheList) {
  WriteUserSettings(kPassword);
  Post("primero", kPassword);
  Post("segundo", kPassword);
  Post("ajeno", "otra clave distinta");

  Start();
  ASSERT_TRUE(WaitForStartupTimer());
  EXPECT_TRUE(Codes().isEmpty());
  QTest::mouseClick(Find<QPushButton>(1126), Qt::LeftButton);

  EXPECT_EQ(Codes().size(), 3);
  QStringList subjects = Column(kColumnSubject);
  subjects.sort();
  EXPECT_TRUE(subjects.contains(QStringLiteral("primero")));
  EXPECT_TRUE(subjects.contains(QStringLiteral("segundo")));
  const QStringList colours = Column(kColumnColour);
  EXPECT_EQ(colours.count(QStringLiteral("3")), 2);  // decrypted, unread
  EXPECT_EQ(colours.count(QStringLiteral("1")), 1);  // undecrypted
  EXPECT_TRUE(
      TerminalLines().back().endsWith(QStringLiteral(" - 3 nuevos mensajes, 1 sin desencriptar")))
      << TerminalLines().back().toStdString();
  EXPECT_TRUE(Find<QLabel>(1171)->isVisibleTo(view()));
  EXPECT_EQ(view()->sounds().last_played(), 200);
  EXPECT_EQ(Find<QComboBox>(1015)->count(), 1);

  // Nothing new the second time.
  QTest::mouseClick(Find<QPushButton>(1126), Qt::LeftButton);
  EXPECT_EQ(Codes().size(), 3);
  EXPECT_TRUE(TerminalLines().back().endsWith(QStringLiteral(" - No hay nuevos mensajes")));
  EXPECT_TRUE(Find<QLabel>(1170)->isVisibleTo(view()));
}

}  // namespace
}  // namespace velkorant::testing
