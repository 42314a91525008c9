// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the application icon (an SVG) into the PNG sizes of the hicolor icon theme, at single
// and double scale, at build time:
//   render_icons SVG OUTPUT-FOLDER NAME SIZE[@2]...
// writes OUTPUT-FOLDER/<size>x<size>[@2]/apps/NAME.png; a "@2" size is drawn with twice the
// pixels, for screens at 2x scale.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

int main(int argc, char* argv[]) {
  QGuiApplication application(argc, argv);
  QTextStream err(stderr);
  const QStringList args = QCoreApplication::arguments();
  if (args.size() < 5) {
    err << "usage: render_icons SVG OUTPUT-FOLDER NAME SIZE[@2]..." << Qt::endl;
    return 2;
  }
  QSvgRenderer renderer(args[1]);
  if (!renderer.isValid()) {
    err << "render_icons: cannot read " << args[1] << Qt::endl;
    return 1;
  }
  for (qsizetype i = 4; i < args.size(); ++i) {
    const QString& size_name = args[i];
    const bool doubled = size_name.endsWith(QStringLiteral("@2"));
    bool ok = false;
    const int size = (doubled ? size_name.chopped(2) : size_name).toInt(&ok);
    if (!ok || size <= 0 || size > 1024) {
      err << "render_icons: bad size " << size_name << Qt::endl;
      return 2;
    }
    const int pixels = doubled ? 2 * size : size;
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
      renderer.render(&painter, QRectF(0, 0, pixels, pixels));
    }
    const QString folder = QStringLiteral("%1/%2x%2%3/apps")
                               .arg(args[2])
                               .arg(size)
                               .arg(doubled ? QStringLiteral("@2") : QString());
    if (!QDir().mkpath(folder) || !image.save(folder + u'/' + args[3] + QStringLiteral(".png"))) {
      err << "render_icons: cannot write into " << folder << Qt::endl;
      return 1;
    }
  }
  return 0;
}
