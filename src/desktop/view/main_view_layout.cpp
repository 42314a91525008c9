// SPDX-License-Identifier: GPL-3.0-or-later
#include "view/main_view_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTextEdit>

#include "ui/control_ids.h"
#include "ui/dialog_units.h"
#include "ui/pictures.h"
#include "view/message_list_model.h"

namespace velkorant {
namespace {

struct Place {
  int left;
  int top;
  int width;
  int height;
};

template <typename Widget>
Widget* Make(QWidget& form, const DialogUnits& units, int id, Place place) {
  auto* widget = new Widget(&form);
  if (id != 0)
    widget->setObjectName(QString::number(id));
  widget->setGeometry(units.Rect(place.left, place.top, place.width, place.height));
  return widget;
}

template <typename Widget>
Widget* MakeCaptioned(QWidget& form, const DialogUnits& units, int id, const QString& caption,
                      Place place) {
  Widget* widget = Make<Widget>(form, units, id, place);
  widget->setText(caption);
  return widget;
}

QGroupBox* MakeGroup(QWidget& form, const DialogUnits& units, int id, const QString& title,
                     Place place) {
  QGroupBox* group = Make<QGroupBox>(form, units, id, place);
  group->setTitle(title);
  DrawAsTemplateGroup(*group);
  return group;
}

// The top row: the buttons of the program's main commands.
void BuildTopButtons(QWidget& form, const DialogUnits& u, MainViewControls& c) {
  c.receive = MakeCaptioned<QPushButton>(form, u, kIdReceive, QStringLiteral(" Recibir mensajes"),
                                         {11, 3, 79, 14});
  c.compose = MakeCaptioned<QPushButton>(
      form, u, kIdCompose, QStringLiteral(" Redactar nuevo mensaje"), {99, 3, 101, 14});
  c.profiles = MakeCaptioned<QPushButton>(
      form, u, kIdProfiles, QStringLiteral(" Perfiles de contraseñas"), {209, 3, 96, 14});
  c.exit = MakeCaptioned<QPushButton>(form, u, kIdExit, QStringLiteral(" Salir"), {314, 3, 41, 14});
}

void PrepareMessageList(QTableView& list, const QFont& form_font) {
  list.setFont(MessageListModel::FittingDates(form_font));
  list.setSelectionBehavior(QAbstractItemView::SelectRows);
  list.setSelectionMode(QAbstractItemView::ExtendedSelection);
  list.setShowGrid(true);
  list.setWordWrap(false);
  list.setTextElideMode(Qt::ElideRight);
  list.setSortingEnabled(false);
  list.setEditTriggers(QAbstractItemView::NoEditTriggers);
  list.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  list.verticalHeader()->hide();
  list.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list.verticalHeader()->setDefaultSectionSize(list.fontMetrics().height() + 4);
  list.horizontalHeader()->setSectionsClickable(true);
  list.horizontalHeader()->setHighlightSections(false);
  list.horizontalHeader()->setStretchLastSection(false);
  list.horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list.horizontalHeader()->setMinimumSectionSize(0);
  list.setIconSize(QSize(16, 15));
}

// The message list with the buttons under it, and the status envelope beside them.
void BuildListGroup(QWidget& form, const DialogUnits& u, MainViewControls& c) {
  c.list_group =
      MakeGroup(form, u, kIdListGroup, QStringLiteral("Listado de mensajes"), {7, 18, 351, 202});

  c.message_list = Make<QTableView>(form, u, kIdMessageList, {12, 30, 342, 166});
  PrepareMessageList(*c.message_list, form.font());
  c.reply = MakeCaptioned<QPushButton>(form, u, kIdReply, QStringLiteral(" Responder a emisor"),
                                       {12, 200, 85, 14});
  c.new_to_sender = MakeCaptioned<QPushButton>(
      form, u, kIdNewToSender, QStringLiteral(" Nuevo a emisor"), {101, 200, 74, 14});
  c.forward = MakeCaptioned<QPushButton>(form, u, kIdForward, QStringLiteral(" Reenviar"),
                                         {180, 200, 50, 14});
  c.edit =
      MakeCaptioned<QPushButton>(form, u, kIdEdit, QStringLiteral(" Editar"), {235, 200, 41, 14});
  c.remove = MakeCaptioned<QPushButton>(form, u, kIdDelete, QStringLiteral(" Eliminar"),
                                        {281, 200, 50, 14});

  // The envelope pictures are 42 by 30 pixels, drawn at the control's top left corner.
  constexpr std::array<int, 4> kEnvelopeIds = {kIdEnvelopeIdle, kIdEnvelopeError, kIdEnvelopeNoNews,
                                               kIdEnvelopeNews};
  constexpr std::array<const char*, 4> kEnvelopePictures = {"155", "156", "157", "158"};
  for (std::size_t i = 0; i < kEnvelopeIds.size(); ++i) {
    QLabel* picture = Make<QLabel>(form, u, kEnvelopeIds[i], {336, 200, 19, 13});
    picture->resize(42, 30);
    picture->setPixmap(LoadPicture(QString::fromLatin1(kEnvelopePictures[i]), QSize(42, 30)));
    picture->setVisible(i == 0);
    c.envelope[i] = picture;
  }
}

// The banner, and under it the message shown.
void BuildMessageGroup(QWidget& form, const DialogUnits& u, MainViewControls& c) {
  c.banner = Make<QLabel>(form, u, kIdBanner, {366, 5, 254, 46});
  c.banner->resize(571, 110);
  c.banner->setPixmap(LoadPicture(u"153", QSize(571, 110)));

  c.message_group =
      MakeGroup(form, u, kIdMessageGroup, QStringLiteral("Mensaje"), {366, 52, 261, 168});
  c.reading_pane = Make<QTextEdit>(form, u, kIdReadingPane, {370, 64, 251, 149});
  c.reading_pane->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  c.reading_pane->setLineWrapMode(QTextEdit::WidgetWidth);
}

void BuildFiltersGroup(QWidget& form, const DialogUnits& u, MainViewControls& c) {
  c.filters_group = MakeGroup(form, u, 0, QStringLiteral("Filtros de mensajes"), {7, 224, 225, 53});
  c.show_sent =
      MakeCaptioned<QCheckBox>(form, u, kIdShowSent, QStringLiteral("Enviados"), {15, 238, 42, 10});
  c.show_received = MakeCaptioned<QCheckBox>(form, u, kIdShowReceived, QStringLiteral("Recibidos"),
                                             {64, 238, 44, 10});
  c.user_filter = Make<QComboBox>(form, u, kIdUserFilter, {115, 237, 69, 176});
  // The template's height is that of the dropped list; the closed box is one line high.
  c.user_filter->resize(c.user_filter->width(), u.Y(14));
  c.user_filter->setMaxVisibleItems(20);
  c.user_filter->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  c.user_filter_on = MakeCaptioned<QCheckBox>(form, u, kIdUserFilterOn, QStringLiteral("Usuario"),
                                              {189, 238, 39, 10});
  c.search = Make<QLineEdit>(form, u, kIdSearch, {18, 255, 83, 14});
  c.search->setMaxLength(100);
  c.search_button = MakeCaptioned<QPushButton>(form, u, kIdSearchButton, QStringLiteral("Buscar"),
                                               {105, 255, 31, 14});
  c.clear_search = MakeCaptioned<QPushButton>(form, u, kIdClearSearch, QStringLiteral("..."),
                                              {140, 255, 19, 14});
}

void BuildTerminalGroup(QWidget& form, const DialogUnits& u, MainViewControls& c) {
  c.terminal_group = MakeGroup(form, u, 0, QStringLiteral("Terminal"), {242, 224, 355, 67});
  c.terminal = Make<QListWidget>(form, u, kIdTerminal, {248, 234, 341, 50});
  // Lines are selected for copying; a click gives the focus that Ctrl+C needs, Tab passes by.
  c.terminal->setSelectionMode(QAbstractItemView::ExtendedSelection);
  c.terminal->setFocusPolicy(Qt::ClickFocus);
  c.terminal->setSortingEnabled(false);
  c.terminal->setUniformItemSizes(true);
  c.terminal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  c.terminal->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  c.clear_terminal = MakeCaptioned<QPushButton>(form, u, kIdClearTerminal, QStringLiteral("."),
                                                {600, 280, 13, 11});
}

// How far an edge moves when the form is wider or higher than its template: not at all, by the
// list's share of the change, or by the whole change.
enum class Follow : std::uint8_t { kStay, kShare, kAll };

struct Anchor {
  QRect place;  // at the template's size
  Follow left, top, right, bottom;
};

// The shares follow the template's proportions: the list's frame against the message's across,
// the upper frames against the terminal's down.
constexpr int kListColumnUnits = 351;
constexpr int kMessageColumnUnits = 261;
constexpr int kUpperRowsUnits = 202;
constexpr int kTerminalRowsUnits = 67;
// What the message column and the terminal can give up before the form scrolls.
constexpr int kShrinkWidthUnits = 110;
constexpr int kShrinkHeightUnits = 60;

class FormAnchors final : public QObject {
 public:
  FormAnchors(QWidget& form, const MainViewControls& c, const DialogUnits& u)
      : QObject(&form),
        form_(form),
        reference_(u.X(kFormWidthUnits), u.Y(kFormHeightUnits)),
        message_column_(u.X(362)),  // between the list's frame and the message's
        under_list_(u.Y(196)),      // the list's bottom edge
        banner_(*c.banner),
        banner_size_(c.banner->size()),
        message_group_(*c.message_group) {
    using enum Follow;
    const auto set = [this](QWidget* control, Follow left, Follow top, Follow right,
                            Follow bottom) {
      Remember(control, {control->geometry(), left, top, right, bottom});
    };
    set(c.list_group, kStay, kStay, kShare, kShare);
    set(c.message_list, kStay, kStay, kShare, kShare);
    for (QLabel* picture : c.envelope)  // at the list's lower right corner
      set(picture, kShare, kShare, kShare, kShare);
    set(c.banner, kShare, kStay, kShare, kStay);
    set(c.message_group, kShare, kStay, kAll, kShare);
    set(c.reading_pane, kShare, kStay, kAll, kShare);
    set(c.terminal_group, kStay, kShare, kAll, kAll);
    set(c.terminal, kStay, kShare, kAll, kAll);
    set(c.clear_terminal, kAll, kAll, kAll, kAll);
    // The banner is drawn smaller where the message column is narrower than it.
    banner_.setScaledContents(true);
    form.resize(reference_);
    form.setMinimumSize(reference_ - QSize(u.X(kShrinkWidthUnits), u.Y(kShrinkHeightUnits)));
    form.installEventFilter(this);
  }

  bool eventFilter(QObject* watched, QEvent* event) override {
    // A control made after the form is placed once it is about to show; the others only move
    // when the form's size does.
    if (watched != &form_)
      return false;
    if (event->type() == QEvent::Resize || (event->type() == QEvent::ChildPolished &&
                                            Unplaced(*static_cast<QChildEvent*>(event)->child())))
      Place();
    return false;
  }

 private:
  QHash<QWidget*, Anchor>::iterator Remember(QWidget* control, const Anchor& anchor) {
    // Another control may be made at the same address later.
    connect(control, &QObject::destroyed, this, [this, control] { anchors_.remove(control); });
    return anchors_.insert(control, anchor);
  }

  bool Unplaced(QObject& child) const {
    return child.isWidgetType() && !anchors_.contains(static_cast<QWidget*>(&child));
  }

  // Any other control moves with the part it lies in: right of the list's frame with the message
  // column, under the list with the list's bottom edge.
  Anchor Default(const QRect& place) const {
    const Follow across = place.center().x() >= message_column_ ? Follow::kShare : Follow::kStay;
    const Follow down = place.center().y() >= under_list_ ? Follow::kShare : Follow::kStay;
    return {place, across, down, across, down};
  }

  void Place() {
    const int dx = form_.width() - reference_.width();
    const int dy = form_.height() - reference_.height();
    // On a narrower form the list's column keeps its width: its row of buttons has none to give.
    const int share_x =
        dx > 0 ? dx * kListColumnUnits / (kListColumnUnits + kMessageColumnUnits) : 0;
    const int share_y = dy * kUpperRowsUnits / (kUpperRowsUnits + kTerminalRowsUnits);
    const auto shift = [](Follow follow, int share, int all) {
      return follow == Follow::kStay ? 0 : follow == Follow::kShare ? share : all;
    };
    // Controls made after the form were placed as at the template's size.
    for (QWidget* control : form_.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      auto anchor = anchors_.find(control);
      if (anchor == anchors_.end())
        anchor = Remember(control, Default(control->geometry()));
      const QRect& place = anchor->place;
      control->setGeometry(QRect(QPoint(place.left() + shift(anchor->left, share_x, dx),
                                        place.top() + shift(anchor->top, share_y, dy)),
                                 QPoint(place.right() + shift(anchor->right, share_x, dx),
                                        place.bottom() + shift(anchor->bottom, share_y, dy))));
    }
    const int room = message_group_.geometry().right() + 1 - banner_.x();
    if (room < banner_size_.width())
      banner_.resize(room, banner_size_.height() * room / banner_size_.width());
  }

  QWidget& form_;
  const QSize reference_;
  const int message_column_;
  const int under_list_;
  QLabel& banner_;
  const QSize banner_size_;
  const QWidget& message_group_;
  QHash<QWidget*, Anchor> anchors_;
};

}  // namespace

MainViewControls BuildMainViewControls(QWidget& form, const DialogUnits& u) {
  MainViewControls c;
  BuildTopButtons(form, u, c);
  BuildListGroup(form, u, c);
  BuildMessageGroup(form, u, c);
  BuildFiltersGroup(form, u, c);
  BuildTerminalGroup(form, u, c);
  return c;
}

void LoadButtonPictures(const MainViewControls& c) {
  const std::array<std::pair<QPushButton*, const char*>, 9> captioned = {{
      {c.exit, "144"},
      {c.profiles, "145"},
      {c.compose, "146"},
      {c.receive, "147"},
      {c.reply, "148"},
      {c.new_to_sender, "149"},
      {c.forward, "150"},
      {c.edit, "151"},
      {c.remove, "152"},
  }};
  for (const auto& [button, picture] : captioned) {
    button->setIcon(LoadIcon(QString::fromLatin1(picture), QSize(20, 20)));
    button->setIconSize(QSize(20, 20));
  }
  // The two picture buttons show the picture only; their caption stays for a missing picture.
  const std::array<std::pair<QPushButton*, int>, 2> pictured = {{
      {c.clear_search, 20},
      {c.clear_terminal, 16},
  }};
  for (const auto& [button, size] : pictured) {
    const QIcon icon = LoadIcon(u"143", QSize(size, size));
    if (icon.isNull())
      continue;
    button->setAccessibleName(button->text());
    button->setText(QString());
    button->setIcon(icon);
    button->setIconSize(QSize(size, size));
  }
}

void MakeFormResizable(QWidget& form, const MainViewControls& controls, const DialogUnits& units) {
  new FormAnchors(form, controls, units);
}

}  // namespace velkorant
