// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Forms are laid out in dialog units, which scale with the dialog font: a horizontal unit is a
// quarter of the font's average character width, a vertical unit an eighth of its height.

#include <QFont>
#include <QRect>
#include <QString>

class QGroupBox;

namespace velkorant {

// "MS Shell Dlg 2" at 12 points (16 pixels), mapped to a Tahoma-like sans font that is installed.
QFont DialogFont();

// The font, made smaller until the sample fits the width (in pixels).
QFont FontFitting(QFont font, const QString& sample, int width);

// A font given as a Windows LOGFONT height (the character cell, in pixels) and weight.
QFont CellHeightFont(int cell_height, int weight);

// A group box drawn as the templates place it: its caption on the rectangle's top edge, the frame
// line through the caption's middle, and only a frame (the controls inside belong to the form).
void DrawAsTemplateGroup(QGroupBox& group);

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int base_x, int base_y) : base_x_(base_x), base_y_(base_y) {}

  int X(int units) const;
  int Y(int units) const;
  // Each edge is converted on its own, so neighbouring controls stay flush.
  QRect Rect(int left, int top, int width, int height) const;

  int base_x() const { return base_x_; }
  int base_y() const { return base_y_; }

 private:
  int base_x_;
  int base_y_;
};

}  // namespace velkorant
