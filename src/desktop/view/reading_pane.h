// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The reading pane: the shown message as bold coloured runs on a dark background.

#include <QColor>
#include <QString>
#include <cstdint>
#include <optional>

#include "store/message.h"

class QTextEdit;

namespace velkorant {

inline constexpr std::uint32_t kReadingBackground = 0x262525;
inline constexpr std::uint32_t kReadingWhite = 0xFFFFFF;
inline constexpr std::uint32_t kReadingLabel = 0x51A7D9;
inline constexpr std::uint32_t kReadingSentValue = 0xFFFFFF;
inline constexpr std::uint32_t kReadingDecryptedValue = 0xC1B965;
inline constexpr std::uint32_t kReadingUndecryptedValue = 0x4545CB;
inline constexpr std::uint32_t kNotSentBand = 0xC30000;

class ReadingPane {
 public:
  explicit ReadingPane(QTextEdit& edit);

  // Background and font of the pane; the pane itself is read-only.
  void Prepare();
  // At the end of the pane; without colours the current character format is kept.
  void Append(const QString& text, std::optional<QColor> text_colour,
              std::optional<QColor> background, bool line_break);
  void Append(const QString& text, std::uint32_t text_colour, std::uint32_t background,
              bool line_break);
  void Clear();
  void ShowMessage(const Message& message);

 private:
  QTextEdit& edit_;
};

}  // namespace velkorant
