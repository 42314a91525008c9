// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/dialog_units.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QStringList>
#include <algorithm>

namespace velkorant {
namespace {

constexpr auto kDialogFamily = "MS Shell Dlg 2";

void InstallSubstitutes() {
  static const bool installed = [] {
    QFont::insertSubstitutions(QString::fromLatin1(kDialogFamily),
                               {QStringLiteral("Tahoma"), QStringLiteral("Wine Tahoma"),
                                QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
    return true;
  }();
  (void)installed;
}

// Rounded a * b / c, as the system's dialog mapping computes it.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

}  // namespace

QFont DialogFont() {
  // The forms were drawn for Tahoma, whose average character is 9 pixels wide at 16 pixels. A
  // wider substitute is taken a pixel smaller until it is no wider, so the fixed-size main window
  // still holds its form.
  static const QFont font = [] {
    constexpr int kTemplateBaseX = 9;
    InstallSubstitutes();
    QFont candidate(QString::fromLatin1(kDialogFamily));
    for (int pixels = 16; pixels >= 12; --pixels) {
      candidate.setPixelSize(pixels);
      if (DialogUnits(candidate).base_x() <= kTemplateBaseX)
        break;
    }
    return candidate;
  }();
  return font;
}

QFont FontFitting(QFont font, const QString& sample, int width) {
  while (font.pixelSize() > 8 && QFontMetrics(font).horizontalAdvance(sample) > width)
    font.setPixelSize(font.pixelSize() - 1);
  return font;
}

QFont CellHeightFont(int cell_height, int weight) {
  QFont font = DialogFont();
  // The cell holds the ascent and descent of the font; its em is smaller by their share.
  const QFontMetricsF metrics(font);
  const double cell_per_em = (metrics.ascent() + metrics.descent()) / font.pixelSize();
  font.setPixelSize(std::max(1, static_cast<int>(cell_height / cell_per_em + 0.5)));
  font.setWeight(static_cast<QFont::Weight>(weight));
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  base_x_ = (alphabet / 26 + 1) / 2;
  base_y_ = metrics.height();
}

int DialogUnits::X(int units) const {
  return MulDiv(units, base_x_, 4);
}

int DialogUnits::Y(int units) const {
  return MulDiv(units, base_y_, 8);
}

QRect DialogUnits::Rect(int left, int top, int width, int height) const {
  const int x = X(left);
  const int y = Y(top);
  return QRect(x, y, X(left + width) - x, Y(top + height) - y);
}

void DrawAsTemplateGroup(QGroupBox& group) {
  // The widget styles draw the frame a line lower, under the caption.
  const int half_line = group.fontMetrics().height() / 2;
  group.setStyleSheet(
      QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                     "QGroupBox::title { subcontrol-origin: margin; left: %2px; padding: 0 2px; }")
          .arg(half_line)
          .arg(group.fontMetrics().averageCharWidth()));
  group.setAttribute(Qt::WA_TransparentForMouseEvents);
  group.setFocusPolicy(Qt::NoFocus);
}

}  // namespace velkorant
