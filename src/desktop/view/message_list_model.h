#pragma once

// The rows of the message list. Each row owns its texts, copied from its record when the rows
// are built; the view asks for every cell when it paints and keeps no text of its own. Row
// colours are decided at paint time from the hidden column 6, so marking a message read changes
// that one cell.

#include <QAbstractTableModel>
#include <QPixmap>
#include <array>
#include <vector>

#include "store/message.h"

namespace velkorant {

enum MessageColumn : int {
  kColumnCode = 0,
  kColumnReplied = 1,
  kColumnSubject = 2,
  kColumnSender = 3,
  kColumnReceiver = 4,
  kColumnDate = 5,
  kColumnColour = 6,
  kMessageColumnCount = 7,
};

// Colour codes of column 6.
inline constexpr char kColourSent = '0';
inline constexpr char kColourUndecrypted = '1';
inline constexpr char kColourRead = '2';
inline constexpr char kColourUnread = '3';

struct MessageRow {
  std::array<QString, kMessageColumnCount> texts;
  int icon = 0;  // image of the list icon strip
};

// "e" or "r" followed by the number.
QString MessageCode(const Message& message);
MessageRow MakeMessageRow(const Message& message);

// Sort key: column index + 1, negative for descending. Texts compare without regard to case;
// keys outside 1..6 find every pair equal.
int CompareMessageRows(const MessageRow& a, const MessageRow& b, int key);

class MessageListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit MessageListModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // Replaces every row at once: one reset, one repaint.
  void SetRows(std::vector<MessageRow> rows);
  // Stable, so rows with equal texts keep their order; selections follow their rows.
  void Sort(int key);
  void SetColourCode(int row, QChar code);

  const MessageRow& row(int index) const { return rows_[static_cast<std::size_t>(index)]; }

  static const std::array<int, kMessageColumnCount>& ColumnWidths();

 private:
  std::vector<MessageRow> rows_;
  std::array<QPixmap, 7> icons_;
};

}  // namespace velkorant
