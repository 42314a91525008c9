// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/about_dialogs.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "ui/control_ids.h"
#include "ui/dialog_units.h"
#include "ui/pictures.h"

namespace velkorant {
namespace {

void PrepareBox(QDialog& dialog, int template_id, const QString& caption) {
  dialog.setObjectName(QString::number(template_id));
  dialog.setWindowTitle(caption);
  dialog.setFont(DialogFont());
  dialog.setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                        Qt::MSWindowsFixedSizeDialogHint);
}

// The box takes the size its contents need and cannot be resized.
QVBoxLayout* BoxLayout(QDialog& dialog) {
  auto* layout = new QVBoxLayout(&dialog);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  layout->setContentsMargins(14, 14, 14, 14);
  layout->setSpacing(10);
  return layout;
}

enum class Weight { kNormal, kBold };

// A label of fixed width wraps its text and knows its height before the box is laid out.
QLabel* Text(const QString& text, QWidget* parent, int width, Weight weight = Weight::kNormal) {
  auto* label = new QLabel(text, parent);
  label->setTextFormat(Qt::PlainText);
  if (width > 0) {
    label->setWordWrap(true);
    label->setFixedWidth(width);
  }
  if (weight == Weight::kBold) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
  }
  return label;
}

QLabel* Picture(QStringView id, QSize size, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setPixmap(LoadPicture(id, size));
  label->setFixedSize(size);
  return label;
}

// The default button, at the right end of its own row.
QHBoxLayout* OkRow(QDialog& dialog, const QString& caption) {
  auto* button = new QPushButton(caption, &dialog);
  button->setObjectName(QStringLiteral("1"));
  button->setDefault(true);
  QObject::connect(button, &QPushButton::clicked, &dialog, &QDialog::accept);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(button);
  return row;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  PrepareBox(*this, 100, QStringLiteral("Acerca de ..."));
  auto* top = new QHBoxLayout;
  top->addWidget(Picture(u"128", QSize(48, 48), this), 0, Qt::AlignTop);
  auto* lines = new QVBoxLayout;
  lines->addWidget(Text(QStringLiteral("Velkorant v1.1a"), this, 0, Weight::kBold));
  lines->addWidget(Text(QStringLiteral("© KRWTN Software. Mensajes cortos encriptados de punto a "
                                       "punto."),
                        this, 340));
  top->addLayout(lines, 1);

  struct Link {
    int id;
    const char16_t* label;
    const char* url;
  };
  // The program has no web site of its own.
  static constexpr Link kLinks[] = {
      {kIdCryptoppLink, u"Crypto++, la biblioteca criptográfica", "https://www.cryptopp.com/"},
      {kIdQtLink, u"Qt, la biblioteca de la interfaz", "https://www.qt.io/"},
  };
  auto* links = new QGridLayout;
  int row = 0;
  for (const Link& link : kLinks) {
    auto* go = new QPushButton(QStringLiteral("IR:"), this);
    go->setObjectName(QString::number(link.id));
    // "IR:" alone does not say where to.
    go->setAccessibleName(QStringLiteral("IR: ") + QString::fromUtf16(link.label));
    const QUrl url(QString::fromLatin1(link.url));
    connect(go, &QPushButton::clicked, this, [url] { QDesktopServices::openUrl(url); });
    go->setFixedWidth(go->sizeHint().width());
    links->addWidget(go, row, 0);
    links->addWidget(Text(QString::fromUtf16(link.label), this, 0), row, 1);
    ++row;
  }

  links->setColumnStretch(1, 1);
  QVBoxLayout* layout = BoxLayout(*this);
  layout->addLayout(top);
  layout->addLayout(links);
  layout->addLayout(OkRow(*this, QStringLiteral("OK")));
}

CAboutAES256Dlg::CAboutAES256Dlg(QWidget* parent) : QDialog(parent) {
  PrepareBox(*this, 133, QStringLiteral("Encriptación Punto a Punto"));
  auto* texts = new QVBoxLayout;
  texts->addWidget(Text(QStringLiteral("Esta aplicación usa encriptación Punto a Punto"), this, 400,
                        Weight::kBold));
  texts->addWidget(Text(
      QStringLiteral("La encriptación de mensajes punto a punto, es un sistema de comunicación en "
                     "el que solo los usuarios que se comunican pueden leer los mensajes.\nNi "
                     "siquiera los servidores por donde pasan o se almacenan los mensajes pueden "
                     "descifrarlos."),
      this, 400));
  texts->addWidget(Text(QStringLiteral("Algoritmo de encriptación y desencriptación usado: "
                                       "AES-256 de clave simétrica"),
                        this, 400));
  texts->addStretch();
  auto* top = new QHBoxLayout;
  top->addWidget(Picture(u"141", QSize(128, 128), this), 0, Qt::AlignTop);
  top->addLayout(texts, 1);
  QVBoxLayout* layout = BoxLayout(*this);
  layout->addLayout(top);
  layout->addLayout(OkRow(*this, QStringLiteral("OK")));
}

CAboutDescargoRespoDlg::CAboutDescargoRespoDlg(QWidget* parent) : QDialog(parent) {
  PrepareBox(*this, 134, QStringLiteral("Velkorant (Descargo de responsabilidad)"));
  auto* heading = new QHBoxLayout;
  heading->addStretch();
  heading->addWidget(Picture(u"142", QSize(32, 32), this));
  QLabel* title = Text(QStringLiteral("AVISO LEGAL"), this, 0, Weight::kBold);
  heading->addWidget(title);
  heading->addWidget(Picture(u"142", QSize(32, 32), this));
  heading->addStretch();

  QVBoxLayout* layout = BoxLayout(*this);
  layout->addLayout(heading);
  for (const QString& paragraph : {
           QStringLiteral("Este software utiliza criptografía fuerte proporcionada por Crypto++. "
                          "Este tipo de criptografía está sujeta a ciertas restricciones de "
                          "exportación/importación en algunos países."),
           QStringLiteral("Es tu responsabilidad determinar qué leyes son de aplicación para ti "
                          "antes de obtener y usar software criptográfico."),
           QStringLiteral("EL AUTOR DE ESTE SOFTWARE NO SERÁ RESPONSABLE POR LA VIOLACIÓN DE "
                          "CUALQUIER LEY QUE RIJA LA IMPORTACIÓN/EXPORTACIÓN DE SOFTWARE DE "
                          "CRIPTOGRAFÍA FUERTE."),
           QStringLiteral("Es ilegal usar criptografía con propósitos criminales o terroristas."),
       }) {
    layout->addWidget(Text(paragraph, this, 520));
  }
  layout->addLayout(OkRow(*this, QStringLiteral("Aceptar")));
}

}  // namespace velkorant
