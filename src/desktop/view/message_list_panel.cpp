// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/message_list_panel.h"

#include <QApplication>
#include <QCheckBox>
#include <QCollator>
#include <QComboBox>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QStyleOptionViewItem>
#include <QTableView>
#include <QTimer>
#include <algorithm>

#include "settings/settings_store.h"
#include "store/message_store.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

constexpr std::uint32_t kListBackground = 0xE6E6E6;
constexpr qsizetype kFilterTextLimit = 100;
// "Fecha", newest first.
constexpr int kDateNewestFirst = -(kColumnDate + 1);
// How long the store's folder must stay quiet before the list looks at its files again.
constexpr int kReloadDelayMs = 200;

// The codes are what `velkorant-cli show` takes: the column holds the icon and the widest codes
// usually met, up to number 9999, whole in the list's font.
int CodeColumnWidth(const QTableView& list, int width) {
  QStyleOptionViewItem option;
  option.initFrom(&list);
  option.font = list.font();
  option.fontMetrics = list.fontMetrics();
  option.features = QStyleOptionViewItem::HasDisplay | QStyleOptionViewItem::HasDecoration;
  option.decorationSize = list.iconSize();
  option.decorationPosition = QStyleOptionViewItem::Left;
  option.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
  for (const char* code : {"e9999", "r9999"}) {
    option.text = QString::fromLatin1(code);
    const QSize needed =
        list.style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), &list);
    width = std::max(width, needed.width() + (list.showGrid() ? 1 : 0));
  }
  return width;
}

// Without letter case or accents, so that "jose" finds "José" and "ÑANDÚ" finds "ñandú".
QString Folded(const QString& text) {
  const QString decomposed = text.normalized(QString::NormalizationForm_KD);
  QString folded;
  folded.reserve(decomposed.size());
  for (const QChar c : decomposed) {
    if (c.category() != QChar::Mark_NonSpacing)
      folded.append(c);
  }
  return folded.toCaseFolded();
}

}  // namespace

MessageListPanel::MessageListPanel(const MainViewControls& controls, MessageStore& store,
                                   const Settings& settings, QObject* parent)
    : QObject(parent),
      controls_(controls),
      store_(store),
      settings_(settings),
      model_(new MessageListModel(this)),
      reading_(*controls.reading_pane),
      watcher_(new QFileSystemWatcher(this)),
      reload_timer_(new QTimer(this)) {
  reload_timer_->setSingleShot(true);
  reload_timer_->setInterval(kReloadDelayMs);
  connect(reload_timer_, &QTimer::timeout, this, &MessageListPanel::ReloadIfChangedElsewhere);
}

void MessageListPanel::Prepare() {
  QTableView& list = *controls_.message_list;
  list.setModel(model_);
  const auto& widths = MessageListModel::ColumnWidths();
  for (int column = 0; column < kMessageColumnCount; ++column)
    list.setColumnWidth(column, widths[static_cast<std::size_t>(column)]);
  list.setColumnWidth(kColumnCode, CodeColumnWidth(list, widths[kColumnCode]));
  // Unread rows are bold: where a full date in bold would not fit its column, theirs is a little
  // smaller, and the other rows keep the list's size.
  QFont bold = list.font();
  bold.setBold(true);
  model_->SetUnreadFont(MessageListModel::FittingDates(bold));
  QPalette palette = list.palette();
  palette.setColor(QPalette::Base, FromColorRef(kListBackground));
  palette.setColor(QPalette::Text, Qt::black);
  list.setPalette(palette);

  connect(list.horizontalHeader(), &QHeaderView::sectionClicked, this,
          &MessageListPanel::OnColumnClick);
  connect(list.selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &MessageListPanel::OnSelection);
  connect(&list, &QAbstractItemView::clicked, this, &MessageListPanel::OnSelection);
  list.installEventFilter(this);

  connect(controls_.user_filter, &QComboBox::activated, this, &MessageListPanel::OnFilterControl);
  for (QCheckBox* box : {controls_.user_filter_on, controls_.show_received, controls_.show_sent})
    connect(box, &QCheckBox::clicked, this, &MessageListPanel::OnFilterControl);
  connect(controls_.search_button, &QPushButton::clicked, this, &MessageListPanel::OnSearch);
  connect(controls_.search, &QLineEdit::returnPressed, this, &MessageListPanel::OnSearch);
  connect(controls_.clear_search, &QPushButton::clicked, this, &MessageListPanel::OnClearSearch);

  // The files are replaced by a rename, which the folder's watch sees; each file's own watch
  // sees changes made in place.
  connect(watcher_, &QFileSystemWatcher::directoryChanged, reload_timer_,
          qOverload<>(&QTimer::start));
  connect(watcher_, &QFileSystemWatcher::fileChanged, reload_timer_, qOverload<>(&QTimer::start));
  WatchStoreFiles();
}

void MessageListPanel::WatchStoreFiles() {
  QStringList paths;
  for (const bool enviado : {true, false}) {
    const QFileInfo file(QString::fromStdString(store_.file(enviado).path().string()));
    paths << file.absolutePath() << file.absoluteFilePath();
  }
  paths.removeDuplicates();
  // A watch ends with the file it watched; watch the file now under that name.
  paths.removeIf([this](const QString& path) {
    return watcher_->files().contains(path) || watcher_->directories().contains(path) ||
           !QFileInfo::exists(path);
  });
  if (!paths.isEmpty())
    watcher_->addPaths(paths);
}

std::pair<std::uint64_t, std::uint64_t> MessageListPanel::StoreGenerations() {
  store_.file(true).Read();
  store_.file(false).Read();
  return {store_.file(true).generation(), store_.file(false).generation()};
}

void MessageListPanel::ReloadIfChangedElsewhere() {
  WatchStoreFiles();
  // Nothing changes under an open dialog or box, nor under a command waiting for its answer.
  if (QApplication::activeModalWidget() != nullptr) {
    reload_timer_->start();
    return;
  }
  // Neither file changed (the folder's lock, some other file): nothing to compare.
  if (StoreGenerations() == synced_)
    return;
  // The program's own writes are in the list already: they end here, the list left as it is.
  const std::vector<Message> shown = store_.messages();
  LoadStore();
  synced_ = StoreGenerations();
  if (store_.messages() == shown)
    return;
  RefillKeepingCurrent();
  FillUserFilter();
}

void MessageListPanel::UpdateFiltersFromControls() {
  user_filter_ = ToAnsi(controls_.user_filter->currentText().left(kFilterTextLimit));
  user_filter_on_ = controls_.user_filter_on->isChecked();
  show_received_ = controls_.show_received->isChecked();
  show_sent_ = controls_.show_sent->isChecked();
  search_text_ = Folded(controls_.search->text().left(kFilterTextLimit));
}

bool MessageListPanel::Skipped(const Message& message) const {
  if (user_filter_on_ && !user_filter_.empty() && user_filter_ != message.usuario_emisor_msj &&
      user_filter_ != message.usuario_receptor_msj) {
    return true;
  }
  if (message.enviado ? !show_sent_ : !show_received_)
    return true;
  return !search_text_.isEmpty() && !Folded(ToQString(message.asunto_msj)).contains(search_text_) &&
         !Folded(ToQString(message.cuerpo_msj)).contains(search_text_);
}

void MessageListPanel::FillMessageList() {
  UpdateFiltersFromControls();
  list_filtered_ = (user_filter_on_ && !user_filter_.empty()) || !show_received_ || !show_sent_ ||
                   !search_text_.isEmpty();
  std::vector<MessageRow> rows;
  rows.reserve(store_.messages().size());
  for (const Message& message : store_.messages()) {
    if (!Skipped(message))
      rows.push_back(MakeMessageRow(message));
  }
  // Each row went in at the top of the list, so the list holds them last first until sorted.
  std::reverse(rows.begin(), rows.end());
  filling_ = true;
  model_->SetRows(std::move(rows));
  filling_ = false;
  reading_.Clear();
  // Said where a screen reader finds it too: the search field describes its outcome.
  const bool nothing_found = !search_text_.isEmpty() && model_->rowCount() == 0;
  const QString outcome = nothing_found ? QStringLiteral("Sin resultados") : QString();
  controls_.search->setAccessibleDescription(outcome);
  if (nothing_found)
    reading_.Append(outcome, kReadingWhite, kReadingBackground, false);
}

void MessageListPanel::SortByDateNewestFirst() {
  model_->Sort(kDateNewestFirst);
  LayOutRows();
}

void MessageListPanel::LayOutRows() {
  // The view would lay the rebuilt rows out on a later turn of the event loop and paint twice;
  // done now, the list is painted once with its new rows.
  controls_.message_list->doItemsLayout();
}

void MessageListPanel::LoadStore() {
  store_.LoadMessageStore();
  for (Message& message : store_.messages()) {
    if (!message.enviado && std::find(pending_read_marks_.begin(), pending_read_marks_.end(),
                                      message.numero) != pending_read_marks_.end()) {
      message.flag_msj_leido = true;
    }
  }
}

void MessageListPanel::ReadMarkWritten(std::uint32_t numero) {
  const auto pending = std::find(pending_read_marks_.begin(), pending_read_marks_.end(), numero);
  if (pending != pending_read_marks_.end())
    pending_read_marks_.erase(pending);
}

void MessageListPanel::ReloadMessages() {
  LoadStore();
  synced_ = StoreGenerations();
  RefillKeepingCurrent();
  FillUserFilter();
}

void MessageListPanel::RefillKeepingCurrent() {
  const std::optional<MessageId> shown = current_index_ >= 0 ? current_id_ : std::nullopt;
  FillMessageList();
  SortByDateNewestFirst();
  ClearCurrentMessage();
  // Selecting the row shows the message again and brings the buttons along.
  if (shown)
    SelectMessage(*shown);
  if (current_index_ < 0)
    emit currentMessageChanged();
}

void MessageListPanel::ApplyFilters() {
  UpdateFiltersFromControls();
  FillMessageList();
  SortByDateNewestFirst();
  ClearCurrentMessage();
  emit currentMessageChanged();
}

void MessageListPanel::ResetFilters() {
  const bool refill = list_filtered_;
  user_filter_on_ = false;
  controls_.user_filter_on->setChecked(false);
  show_received_ = true;
  show_sent_ = true;
  controls_.show_received->setChecked(true);
  controls_.show_sent->setChecked(true);
  search_text_.clear();
  controls_.search->clear();
  if (refill)
    RefillKeepingCurrent();
}

void MessageListPanel::FillUserFilter() {
  QComboBox& box = *controls_.user_filter;
  // The name chosen stays chosen while the list still holds it: the list is filtered by it.
  const QString chosen = box.currentText();
  box.clear();
  std::vector<QString> names;
  QSet<QString> seen;
  for (const Message& message : store_.messages()) {
    const std::string* other = nullptr;
    if (message.usuario_emisor_msj != settings_.user_name) {
      other = &message.usuario_emisor_msj;
    } else if (message.usuario_receptor_msj != settings_.user_name) {
      other = &message.usuario_receptor_msj;
    }
    if (other == nullptr || other->empty() || *other == "?")
      continue;
    QString name = ToQString(*other);
    if (seen.contains(name.toCaseFolded()))
      continue;
    seen.insert(name.toCaseFolded());
    names.push_back(std::move(name));
  }
  // Sorted as a reader of Spanish expects: accents and capitals do not move a name.
  QCollator collator(QLocale(QLocale::Spanish, QLocale::Spain));
  collator.setCaseSensitivity(Qt::CaseInsensitive);
  std::stable_sort(names.begin(), names.end(), [&collator](const QString& a, const QString& b) {
    return collator.compare(a, b) < 0;
  });
  box.addItems(QStringList(names.begin(), names.end()));
  box.setCurrentIndex(chosen.isEmpty() ? -1 : box.findText(chosen));
}

std::vector<MessageId> MessageListPanel::SelectedIds() const {
  QModelIndexList rows = controls_.message_list->selectionModel()->selectedRows(kColumnCode);
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<MessageId> ids;
  ids.reserve(static_cast<std::size_t>(rows.size()));
  for (const QModelIndex& index : rows)
    ids.push_back(model_->row(index.row()).id);
  return ids;
}

int MessageListPanel::UnreadCount() const {
  return static_cast<int>(
      std::count_if(store_.messages().begin(), store_.messages().end(), [](const Message& m) {
        return !m.enviado && m.flag_msj_desencriptado && !m.flag_msj_leido;
      }));
}

const Message* MessageListPanel::current_message() const {
  if (current_index_ < 0 || static_cast<std::size_t>(current_index_) >= store_.messages().size())
    return nullptr;
  return &store_.messages()[static_cast<std::size_t>(current_index_)];
}

void MessageListPanel::ShowMessage(int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= store_.messages().size())
    return;
  reading_.ShowMessage(store_.messages()[static_cast<std::size_t>(index)]);
}

void MessageListPanel::OnSelection() {
  if (filling_)
    return;
  reading_.Clear();
  const QModelIndexList selected =
      controls_.message_list->selectionModel()->selectedRows(kColumnCode);
  if (selected.isEmpty()) {
    current_index_ = -1;
  } else {
    int row = selected.front().row();
    for (const QModelIndex& index : selected)
      row = std::min(row, index.row());
    current_id_ = model_->row(row).id;
    const auto found = FindMessage(store_.messages(), *current_id_);
    current_index_ = found ? static_cast<int>(*found) : -1;
    if (current_index_ >= 0) {
      Message& message = store_.messages()[static_cast<std::size_t>(current_index_)];
      if (!message.enviado && message.flag_msj_desencriptado && !message.flag_msj_leido) {
        pending_read_marks_.push_back(message.numero);
        if (mark_read_)
          mark_read_(message.numero);
        message.flag_msj_leido = true;
        model_->SetRowColour(row, RowColour::kRead);
      }
    }
    ShowMessage(current_index_);
  }
  emit currentMessageChanged();
}

void MessageListPanel::SelectMessage(MessageId id) {
  for (int row = 0; row < model_->rowCount(); ++row) {
    if (model_->row(row).id != id)
      continue;
    const QModelIndex index = model_->index(row, kColumnCode);
    QItemSelectionModel& selection = *controls_.message_list->selectionModel();
    selection.setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    selection.select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    controls_.message_list->scrollTo(index);
    return;
  }
}

void MessageListPanel::ClearCurrentMessage() {
  current_index_ = -1;
  current_id_.reset();
}

void MessageListPanel::OnColumnClick(int column) {
  const int key = ascending_next_ ? column + 1 : -(column + 1);
  model_->Sort(key);
  LayOutRows();
  ascending_next_ = !ascending_next_;
}

void MessageListPanel::OnFilterControl() {
  UpdateFiltersFromControls();
  if (user_filter_on_ && user_filter_.empty())
    return;
  ApplyFilters();
}

void MessageListPanel::OnSearch() {
  UpdateFiltersFromControls();
  if (search_text_.isEmpty())
    return;
  ApplyFilters();
}

void MessageListPanel::OnClearSearch() {
  UpdateFiltersFromControls();
  if (search_text_.isEmpty())
    return;
  search_text_.clear();
  controls_.search->clear();
  ApplyFilters();
}

bool MessageListPanel::eventFilter(QObject* watched, QEvent* event) {
  if (watched == controls_.message_list && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete && current_index_ >= 0) {
    emit deleteRequested();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace velkorant
