// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The message list with its filters and the reading pane: which rows are shown and in what
// order, the current message, and marking a message read when it is selected. The list follows
// the store's files when another process (velkorant-cli) changes them.

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "view/main_view_layout.h"
#include "view/message_list_model.h"
#include "view/reading_pane.h"

class QFileSystemWatcher;
class QTimer;

namespace velkorant {

class MessageStore;
struct Message;
struct Settings;

class MessageListPanel : public QObject {
  Q_OBJECT

 public:
  // `settings` is the main view's live copy (its user name decides the other party).
  MessageListPanel(const MainViewControls& controls, MessageStore& store, const Settings& settings,
                   QObject* parent = nullptr);

  // The list's columns, colours and events.
  void Prepare();

  // Loads the store and rebuilds the list, newest first. The current message is found again by
  // its identity, since the rebuilt list may have grown in front of it, and selected and scrolled
  // to; when the list no longer shows it there is no current message.
  void ReloadMessages();
  // A message opened is marked read in the list at once and handed to `marker`, which writes
  // the mark elsewhere (the window never waits for the folder's lock); until ReadMarkWritten,
  // reloads keep it read.
  void SetReadMarker(std::function<void(std::uint32_t numero)> marker) {
    mark_read_ = std::move(marker);
  }
  void ReadMarkWritten(std::uint32_t numero);
  void ApplyFilters();
  void FillMessageList();
  void FillUserFilter();
  // Every message shown again, the boxes and the list alike.
  void ResetFilters();
  // Selects the message's row, if the list shows it, and scrolls it into view.
  void SelectMessage(MessageId id);
  // No message is current any more (it was deleted).
  void ClearCurrentMessage();
  void ShowMessage(int index);
  // A header click: sorts by that column, alternating direction whichever column it is.
  void OnColumnClick(int column);

  // The selected rows' messages, top to bottom.
  std::vector<MessageId> SelectedIds() const;
  // Received messages that were decrypted and not read yet: the ones a selection marks read.
  int UnreadCount() const;
  int current_index() const { return current_index_; }
  // The message last chosen in the list, kept while the list is rebuilt.
  const std::optional<MessageId>& current_id() const { return current_id_; }
  // The record shown, or nullptr.
  const Message* current_message() const;
  MessageListModel& model() { return *model_; }
  ReadingPane& reading_pane() { return reading_; }

 signals:
  // The current message changed or the list was rebuilt: the action buttons follow.
  void currentMessageChanged();
  // The Delete key in the list while a message is current.
  void deleteRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateFiltersFromControls();
  // Loads the store, keeping the read marks not written yet.
  void LoadStore();
  // Rebuilds the rows from the loaded store, keeping the current message where it is still shown.
  void RefillKeepingCurrent();
  void WatchStoreFiles();
  // After a change in the store's folder: reloads when the files no longer hold what is shown.
  void ReloadIfChangedElsewhere();
  std::pair<std::uint64_t, std::uint64_t> StoreGenerations();
  void OnFilterControl();
  void OnSearch();
  void OnClearSearch();
  void OnSelection();
  bool Skipped(const Message& message) const;
  void SortByDateNewestFirst();
  void LayOutRows();

  MainViewControls controls_;
  MessageStore& store_;
  const Settings& settings_;
  MessageListModel* model_;
  ReadingPane reading_;

  // The filters as last copied from their controls (Windows-1252).
  std::string user_filter_;
  bool user_filter_on_ = false;
  bool show_received_ = true;
  bool show_sent_ = true;
  QString search_text_;  // folded, as the texts it is looked for in
  // Whether the filters of the last refill hid messages.
  bool list_filtered_ = false;

  int current_index_ = -1;
  std::optional<MessageId> current_id_;
  // The next header click sorts ascending while this is set.
  bool ascending_next_ = true;
  // While the rows are rebuilt their disappearance is no selection by the user.
  bool filling_ = false;

  std::function<void(std::uint32_t)> mark_read_;
  std::vector<std::uint32_t> pending_read_marks_;  // received messages' numbers

  QFileSystemWatcher* watcher_ = nullptr;
  // Writes come in bursts (a temporary file, a rename, a lock): one look after the last.
  QTimer* reload_timer_ = nullptr;
  // The store files' generations the list was last checked against.
  std::pair<std::uint64_t, std::uint64_t> synced_{};
};

}  // namespace velkorant
