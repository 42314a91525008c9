// The compiled-in pictures are exactly the known ones, each a valid SVG of its nominal size that
// draws on a transparent background (an opaque one shows as a box on the buttons and in the
// list). The smoke test finds the sounds; wav_files_test.py checks their files.

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

TEST(Resources, PicturesAreCompiledIn) {
  int argc = 1;
  char name[] = "resources_tests", *argv[] = {name, nullptr};
  const QGuiApplication application(argc, argv);
  // The application icon 128 is drawn on a 256 grid; 144 to 152 and 154 are 20 pixels square.
  const std::map<int, QSize> sizes = {{128, {256, 256}}, {140, {16, 15}}, {141, {128, 128}},
                                      {142, {32, 32}},   {143, {16, 16}}, {153, {571, 110}}};
  QStringList expected = {"128.svg", "140_0.svg", "140_1.svg", "140_6.svg"};
  for (int id = 141; id <= 158; ++id)
    expected << QString::number(id) + ".svg";
  EXPECT_EQ(QDir(":/pictures").entryList(QDir::Files, QDir::Name), expected);
  for (const QString& file : expected) {
    const int id = file.left(3).toInt();
    QSvgRenderer renderer(":/pictures/" + file);
    QImage image(sizes.contains(id) ? sizes.at(id)
                 : id >= 155        ? QSize(42, 30)
                                    : QSize(20, 20),
                 QImage::Format_ARGB32_Premultiplied);
    EXPECT_EQ(renderer.defaultSize(), image.size()) << file.toStdString();
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    const QImage alpha = image.convertToFormat(QImage::Format_Alpha8);
    const auto seen = std::count_if(alpha.constBits(), alpha.constBits() + alpha.sizeInBytes(),
                                    [](uchar a) { return a > 0; });
    EXPECT_TRUE(seen > alpha.sizeInBytes() / 10 && qAlpha(image.pixel(0, 0)) == 0)
        << file.toStdString();
  }
}
