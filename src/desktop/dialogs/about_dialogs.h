// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The three information boxes: About, the encryption note and the legal notice.

#include <QDialog>

namespace velkorant {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

class CAboutAES256Dlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutAES256Dlg(QWidget* parent = nullptr);
};

class CAboutDescargoRespoDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDescargoRespoDlg(QWidget* parent = nullptr);
};

}  // namespace velkorant
