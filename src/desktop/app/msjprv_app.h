// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The application object: the settings root, the document, the frame and its view, and the
// About command. The caller owns the QApplication and its event loop.

#include <memory>

#include "app/main_doc.h"

namespace velkorant {

class CMainFrame;
class DialogRunner;
class SettingsStore;
class TrayIcon;

class MSJPRVApp {
 public:
  // Without a runner, dialogs and message boxes are real modal windows.
  explicit MSJPRVApp(DialogRunner* runner = nullptr);
  ~MSJPRVApp();
  MSJPRVApp(const MSJPRVApp&) = delete;
  MSJPRVApp& operator=(const MSJPRVApp&) = delete;

  // Creates and shows the main window; false ends the program without a window.
  bool InitInstance();
  void OnAppAbout();

  CMainFrame* main_frame() const { return frame_.get(); }
  // Its icon is in the tray only where the desktop has one; its notifications work everywhere.
  TrayIcon* tray_icon() const { return tray_.get(); }

 private:
  std::unique_ptr<DialogRunner> own_runner_;
  DialogRunner& runner_;
  std::unique_ptr<SettingsStore> settings_store_;
  CMAINDoc document_;
  std::unique_ptr<CMainFrame> frame_;
  std::unique_ptr<TrayIcon> tray_;
};

}  // namespace velkorant
