// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/message_list_model.h"

#include <QFont>
#include <QStringList>
#include <algorithm>
#include <numeric>

#include "ui/dialog_units.h"
#include "ui/pictures.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

constexpr std::uint32_t kRedText = 0x0000FF;
constexpr std::uint32_t kBlueText = 0xD70E04;
constexpr std::uint32_t kWhiteText = 0xFFFFFF;
constexpr std::uint32_t kGreenBackground = 0x439A4B;
constexpr std::uint32_t kDefaultText = 0x000000;
constexpr std::uint32_t kDefaultTextBackground = 0xF0F0F0;

// Images of the icon strip: 1 an arrow pointing left (sent), 0 pointing right (received),
// 6 a red cross (undecrypted).
constexpr int kIconReceived = 0;
constexpr int kIconSent = 1;
constexpr int kIconUndecrypted = 6;

RowColour ColourOf(const Message& message) {
  if (message.enviado)
    return RowColour::kSent;
  if (!message.flag_msj_desencriptado)
    return RowColour::kUndecrypted;
  return message.flag_msj_leido ? RowColour::kRead : RowColour::kUnread;
}

}  // namespace

MessageRow MakeMessageRow(const Message& message) {
  MessageRow row;
  row.id = MessageId::Of(message);
  row.texts[kColumnCode] = QString::fromStdString(row.id.Code());
  row.texts[kColumnReplied] = QLatin1Char(ListFlag(message));
  row.texts[kColumnSubject] = ToQString(message.asunto_msj);
  row.texts[kColumnSender] = ToQString(message.usuario_emisor_msj);
  row.texts[kColumnReceiver] = ToQString(message.usuario_receptor_msj);
  row.texts[kColumnDate] = ToQString(message.fecha_msj);
  row.colour = ColourOf(message);
  if (message.enviado) {
    row.icon = kIconSent;
  } else {
    row.icon = message.flag_msj_desencriptado ? kIconReceived : kIconUndecrypted;
  }
  return row;
}

QString RowStates(const MessageRow& row) {
  QStringList states;
  if (row.colour == RowColour::kUnread)
    states << QStringLiteral("no leído");
  if (row.colour == RowColour::kUndecrypted)
    states << QStringLiteral("sin desencriptar");
  const QChar flag = row.texts[kColumnReplied].front();
  if (flag == u'n')
    states << QStringLiteral("no enviado");
  if (flag == u'R')
    states << QStringLiteral("respondido");
  return states.join(QStringLiteral(", "));
}

int CompareMessageRows(const MessageRow& a, const MessageRow& b, int key) {
  const int column = std::abs(key) - 1;
  if (column < 0 || column >= kMessageColumnCount)
    return 0;
  const std::size_t i = static_cast<std::size_t>(column);
  return key > 0 ? a.texts[i].compare(b.texts[i], Qt::CaseInsensitive)
                 : b.texts[i].compare(a.texts[i], Qt::CaseInsensitive);
}

MessageListModel::MessageListModel(QObject* parent) : QAbstractTableModel(parent) {
  for (const int image : {kIconReceived, kIconSent, kIconUndecrypted}) {
    icons_[static_cast<std::size_t>(image)] =
        LoadPicture(QStringLiteral("140_%1").arg(image), QSize(16, 15));
  }
}

const std::array<int, kMessageColumnCount>& MessageListModel::ColumnWidths() {
  static constexpr std::array<int, kMessageColumnCount> kWidths = {58, 30, 245, 130, 130, 160};
  return kWidths;
}

QFont MessageListModel::FittingDates(const QFont& font) {
  return FontFitting(font, QStringLiteral("2024-12-31 23:59:59"), ColumnWidths()[kColumnDate] - 10);
}

int MessageListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int MessageListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kMessageColumnCount;
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount())
    return {};
  const MessageRow& message_row = row(index.row());
  switch (role) {
    case Qt::DisplayRole:
      return message_row.texts[static_cast<std::size_t>(index.column())];
    // The row's first cell carries its states after its code; every cell describes them.
    case Qt::AccessibleTextRole:
      if (index.column() == kColumnCode && !RowStates(message_row).isEmpty())
        return message_row.texts[kColumnCode] + QStringLiteral(", ") + RowStates(message_row);
      return {};
    case Qt::AccessibleDescriptionRole:
      return RowStates(message_row);
    case Qt::FontRole: {
      if (message_row.colour != RowColour::kUnread)
        return {};
      return unread_font_;
    }
    case Qt::DecorationRole: {
      if (index.column() != kColumnCode)
        return {};
      const QPixmap& icon = icons_[static_cast<std::size_t>(message_row.icon)];
      return icon.isNull() ? QVariant() : QVariant(icon);
    }
    case Qt::ForegroundRole:
      switch (message_row.colour) {
        case RowColour::kUndecrypted:
          return FromColorRef(kRedText);
        case RowColour::kRead:
          return FromColorRef(kBlueText);
        case RowColour::kUnread:
          return FromColorRef(kWhiteText);
        case RowColour::kSent:
          break;
      }
      return FromColorRef(kDefaultText);
    case Qt::BackgroundRole:
      return FromColorRef(message_row.colour == RowColour::kUnread ? kGreenBackground
                                                                   : kDefaultTextBackground);
    case kRowColourRole:
      return static_cast<int>(message_row.colour);
    case Qt::TextAlignmentRole:
      return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
      return {};
  }
}

QVariant MessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kMessageColumnCount)
    return {};
  if (role == Qt::DisplayRole) {
    static const std::array<const char*, kMessageColumnCount> kTitles = {
        "Cod.", "R", "Asunto", "Emisor", "Receptor", "Fecha"};
    return QString::fromLatin1(kTitles[static_cast<std::size_t>(section)]);
  }
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  return {};
}

void MessageListModel::SetRows(std::vector<MessageRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void MessageListModel::Sort(int key) {
  const int column = std::abs(key) - 1;
  if (column < 0 || column >= kMessageColumnCount || rows_.size() < 2)
    return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return CompareMessageRows(row(a), row(b), key) < 0; });
  std::vector<int> new_position(rows_.size());
  std::vector<MessageRow> sorted;
  sorted.reserve(rows_.size());
  for (std::size_t i = 0; i < order.size(); ++i) {
    new_position[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    sorted.push_back(std::move(rows_[static_cast<std::size_t>(order[i])]));
  }
  rows_ = std::move(sorted);
  const QModelIndexList old_indexes = persistentIndexList();
  QModelIndexList new_indexes;
  new_indexes.reserve(old_indexes.size());
  for (const QModelIndex& old_index : old_indexes) {
    new_indexes.append(
        index(new_position[static_cast<std::size_t>(old_index.row())], old_index.column()));
  }
  changePersistentIndexList(old_indexes, new_indexes);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void MessageListModel::SetRowColour(int row_index, RowColour colour) {
  if (row_index < 0 || row_index >= rowCount())
    return;
  rows_[static_cast<std::size_t>(row_index)].colour = colour;
  emit dataChanged(index(row_index, 0), index(row_index, kMessageColumnCount - 1));
}

}  // namespace velkorant
