// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/reading_pane.h"

#include <QPalette>
#include <QTextCursor>
#include <QTextEdit>

#include "ui/dialog_units.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

// The pane's paragraphs break at "\r\n" and at a lone CR or LF, as the rich-edit control did.
QString PaneText(std::string_view ansi) {
  QString text = ToQString(ansi);
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

}  // namespace

ReadingPane::ReadingPane(QTextEdit& edit) : edit_(edit) {}

void ReadingPane::Prepare() {
  edit_.setReadOnly(true);
  edit_.setUndoRedoEnabled(false);
  edit_.setAcceptRichText(false);
  QPalette palette = edit_.palette();
  palette.setColor(QPalette::Base, FromColorRef(kReadingBackground));
  palette.setColor(QPalette::Text, FromColorRef(kReadingWhite));
  edit_.setPalette(palette);
  edit_.setAutoFillBackground(true);
  // "MS Shell Dlg 2", a 20-pixel cell, normal weight.
  edit_.setFont(CellHeightFont(20, 400));
}

void ReadingPane::Append(const QString& text, std::optional<QColor> text_colour,
                         std::optional<QColor> background, bool line_break) {
  QTextCursor cursor(edit_.document());
  cursor.movePosition(QTextCursor::End);
  QTextCharFormat format = cursor.charFormat();
  if (text_colour && background) {
    format = QTextCharFormat();
    format.setFontWeight(QFont::Bold);
    format.setFontItalic(false);
    format.setFontUnderline(false);
    format.setFontStrikeOut(false);
    format.setForeground(*text_colour);
    format.setBackground(*background);
  }
  cursor.insertText(text, format);
  if (line_break)
    cursor.insertText(QStringLiteral("\n"), format);
}

void ReadingPane::Append(const QString& text, std::uint32_t text_colour, std::uint32_t background,
                         bool line_break) {
  Append(text, FromColorRef(text_colour), FromColorRef(background), line_break);
}

void ReadingPane::Clear() {
  edit_.clear();
}

void ReadingPane::ShowMessage(const Message& message) {
  std::uint32_t value = kReadingSentValue;
  if (!message.enviado)
    value = message.flag_msj_desencriptado ? kReadingDecryptedValue : kReadingUndecryptedValue;

  if (!message.enviado && !message.flag_msj_desencriptado) {
    Append(QStringLiteral(
               "Este mensaje no se ha podido desencriptar porque no dispones de la contraseña "
               "correcta.\nUsa la sección 'Perfiles de contraseñas' para añadir la contraseña "
               "correcta.\n"),
           kReadingWhite, kReadingUndecryptedValue, true);
  }
  if (message.enviado && !message.flag_msj_enviado_srv) {
    Append(QStringLiteral("Este mensaje aún no se ha enviado.\n"), kReadingWhite, kNotSentBand,
           true);
  }
  const auto label = [&](const char* text, bool line_break) {
    Append(QString::fromLatin1(text), kReadingLabel, kReadingBackground, line_break);
  };
  const auto field = [&](const std::string& text, bool line_break) {
    Append(PaneText(text), value, kReadingBackground, line_break);
  };
  label("Fecha: ", false);
  field(message.fecha_msj, true);
  label("De: ", false);
  field(message.usuario_emisor_msj, false);
  label(" --> ", false);
  label("A: ", false);
  field(message.usuario_receptor_msj, true);
  Append(QStringLiteral(" "), kReadingWhite, kReadingBackground, true);
  label("Asunto: ", false);
  field(message.asunto_msj, true);
  Append(QStringLiteral(" "), kReadingWhite, kReadingBackground, true);
  label("Mensaje:", true);
  field(message.cuerpo_msj, true);
}

}  // namespace velkorant
