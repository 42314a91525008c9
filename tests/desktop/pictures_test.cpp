// Every picture resource is compiled in, is a valid SVG of its nominal size, draws something and
// keeps a transparent background; the sounds are compiled in byte for byte.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <ostream>
#include <string>

#include "resource_paths.h"

namespace {

struct Picture {
  const char* name;  // file name under :/pictures/
  int width;
  int height;
};

// Nominal sizes in pixels, as the main window and the information boxes use them.
const Picture kPictures[] = {
    {"128.svg", 256, 256},  // application icon (scalable, drawn on a 256 grid)
    {"140_0.svg", 16, 15}, {"140_1.svg", 16, 15}, {"140_6.svg", 16, 15}, {"141.svg", 128, 128},
    {"142.svg", 32, 32},   {"143.svg", 16, 16},   {"144.svg", 20, 20},   {"145.svg", 20, 20},
    {"146.svg", 20, 20},   {"147.svg", 20, 20},   {"148.svg", 20, 20},   {"149.svg", 20, 20},
    {"150.svg", 20, 20},   {"151.svg", 20, 20},   {"152.svg", 20, 20},   {"153.svg", 571, 110},
    {"154.svg", 20, 20},   {"155.svg", 42, 30},   {"156.svg", 42, 30},   {"157.svg", 42, 30},
    {"158.svg", 42, 30},
};

// Names the picture in test names and failure messages instead of its bytes.
void PrintTo(const Picture& picture, std::ostream* out) {
  *out << picture.name;
}

void EnsureGuiApplication() {
  if (QGuiApplication::instance() != nullptr)
    return;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "resources_tests";
  static char* argv[] = {name, nullptr};
  static QGuiApplication app(argc, argv);  // lives until the end of the process
}

class PictureTest : public ::testing::TestWithParam<Picture> {
 protected:
  static void SetUpTestSuite() { EnsureGuiApplication(); }
};

TEST_P(PictureTest, RendersAtItsNominalSizeOnATransparentBackground) {
  const Picture& picture = GetParam();
  const QString path = QStringLiteral(":/pictures/") + QString::fromLatin1(picture.name);
  ASSERT_TRUE(QFile::exists(path)) << path.toStdString();

  QSvgRenderer renderer(path);
  ASSERT_TRUE(renderer.isValid()) << path.toStdString();
  EXPECT_EQ(renderer.defaultSize().width(), picture.width);
  EXPECT_EQ(renderer.defaultSize().height(), picture.height);

  QImage image(picture.width, picture.height, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    renderer.render(&painter);
  }
  int opaque = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) > 0)
        ++opaque;
  EXPECT_GT(opaque, image.width() * image.height() / 10) << "draws too little to be seen";
  // An opaque background would show as a box on the buttons and in the list rows.
  EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "top-left corner must be transparent";
}

INSTANTIATE_TEST_SUITE_P(AllPictures, PictureTest, ::testing::ValuesIn(kPictures),
                         [](const ::testing::TestParamInfo<Picture>& param_info) {
                           std::string name = param_info.param.name;
                           name = name.substr(0, name.find('.'));
                           return "p" + name;
                         });

TEST(PictureResources, HoldExactlyTheKnownPictures) {
  QStringList expected;
  for (const Picture& picture : kPictures)
    expected << QString::fromLatin1(picture.name);
  QStringList present = QDir(QStringLiteral(":/pictures")).entryList(QDir::Files, QDir::Name);
  expected.sort();
  EXPECT_EQ(present, expected);
}

TEST(SoundResources, AreTheWavFilesOfTheSourceTree) {
  for (int id = 200; id <= 206; ++id) {
    const QString name = QString::number(id) + QStringLiteral(".wav");
    QFile resource(QStringLiteral(":/sounds/") + name);
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly)) << name.toStdString();
    QFile source(QStringLiteral(VELKORANT_SOURCE_DIR "/resources/sounds/") + name);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray bytes = resource.readAll();
    EXPECT_TRUE(bytes.startsWith("RIFF")) << name.toStdString();
    EXPECT_EQ(bytes, source.readAll()) << name.toStdString();
  }
}

TEST(ResourcePaths, NameTheCompiledInFiles) {
  using namespace velkorant::resources;
  EXPECT_EQ(PicturePath(153), QStringLiteral(":/pictures/153.svg"));
  EXPECT_EQ(ListIconPath(6), QStringLiteral(":/pictures/140_6.svg"));
  EXPECT_EQ(SoundPath(206), QStringLiteral(":/sounds/206.wav"));
  for (int id : {128, 141, 142, 143, 144, 145, 146, 147, 148, 149, 150, 151, 152, 153, 154, 155,
                 156, 157, 158})
    EXPECT_TRUE(QFile::exists(PicturePath(id))) << id;
  for (int index : {0, 1, 6})
    EXPECT_TRUE(QFile::exists(ListIconPath(index))) << index;
  for (int id = 200; id <= 206; ++id)
    EXPECT_TRUE(QFile::exists(SoundPath(id))) << id;
}

}  // namespace
