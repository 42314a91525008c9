// SPDX-License-Identifier: GPL-3.0-or-later
#include "dialogs/dialog_fields.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>

#include "common/box_text.h"
#include "common/ui_services.h"
#include "mailbox/message_actions.h"
#include "platform/ansi_text.h"
#include "settings/settings_store.h"
#include "ui/dialog_runner.h"
#include "ui/pictures.h"
#include "ui/qt_text.h"

namespace velkorant {
namespace {

constexpr int kHelpPictureSize = 20;
constexpr int kComboClosedHeightUnits = 14;
// Pixels a label keeps from the dialog's left edge when it grows.
constexpr int kLabelMargin = 3;

bool IsLineBreak(QChar c) {
  return c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator;
}

// Keeps a field's text within what it may hold. A change that makes it longer than allowed keeps
// only the part of the inserted text that fits, as the system's edit control does with a paste.
class TypingLimitValidator final : public QValidator {
 public:
  explicit TypingLimitValidator(LimitedLineEdit& field) : QValidator(&field), field_(field) {}

  State validate(QString& input, int& position) const override {
    // A single line: of a pasted text only its first line comes in, as in the system's edit
    // control. Anything after a break could pose as another line of the message text.
    const auto first_break = std::find_if(input.begin(), input.end(),
                                          [](QChar c) { return c == u'\r' || IsLineBreak(c); });
    if (first_break != input.end()) {
      const int cut = static_cast<int>(first_break - input.begin());
      input = input.left(cut) + input.mid(std::max(position, cut));
      position = cut;
    }
    const int allowed = field_.allowed();
    if (input.size() <= allowed || IsListEntry(input))
      return Acceptable;
    const int excess = static_cast<int>(input.size()) - allowed;
    if (position < excess)
      return Invalid;
    input.remove(position - excess, excess);
    position -= excess;
    return Acceptable;
  }

 private:
  // A combo box puts the chosen entry into its field itself, however long the entry is.
  bool IsListEntry(const QString& input) const {
    const auto* combo = qobject_cast<const QComboBox*>(field_.parentWidget());
    return combo != nullptr &&
           combo->findText(input, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0;
  }

  LimitedLineEdit& field_;
};

}  // namespace

TemplateDialog::TemplateDialog(int template_id, const QString& caption, int width_units,
                               int height_units, QWidget* parent)
    : QDialog(parent), units_(DialogFont()), form_(new QWidget), area_(new QScrollArea(this)) {
  setObjectName(QString::number(template_id));
  setWindowTitle(caption);
  setFont(DialogFont());
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  form_->setFixedSize(units_.X(width_units), units_.Y(height_units));
  area_->setFrameShape(QFrame::NoFrame);
  area_->setFocusPolicy(Qt::NoFocus);
  area_->setWidget(form_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(area_);
  setFixedSize(form_->size());
  // Tab already scrolls to the control it reaches; an Alt key or a refused field must too.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now != nullptr && form_->isAncestorOf(now))
      area_->ensureWidgetVisible(now);
  });
}

void TemplateDialog::showEvent(QShowEvent* event) {
  FitScreen();
  // After the size: the dialog is placed on the screen as large as it is.
  QDialog::showEvent(event);
}

void TemplateDialog::FitScreen() {
  const QScreen* shown_on = screen();
  if (shown_on == nullptr)
    return;
  // The window manager's frame is known once a window is mapped: the parent's stands for this
  // one's, else a title bar and borders as the style draws them.
  QMargins frame;
  if (const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
      owner != nullptr && owner->isVisible()) {
    const QRect outside = owner->frameGeometry(), inside = owner->geometry();
    frame = QMargins(inside.left() - outside.left(), inside.top() - outside.top(),
                     outside.right() - inside.right(), outside.bottom() - inside.bottom());
  } else {
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    frame = QMargins(border, style()->pixelMetric(QStyle::PM_TitleBarHeight), border, border);
  }
  const QSize room = shown_on->availableGeometry().marginsRemoved(frame).size();
  QSize size = form_->size();
  // A scroll bar in one direction takes room from the other.
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const bool low = size.height() > room.height();
  if (size.width() + (low ? bar : 0) > room.width())
    size.rheight() += bar;
  if (size.height() > room.height())
    size.rwidth() += bar;
  setFixedSize(size.boundedTo(room));
}

void TemplateDialog::reject() {
  done(kDialogCancel);
}

void TemplateDialog::SetWaiting(bool waiting) {
  if (waiting == waiting_)
    return;
  waiting_ = waiting;
  // The children, not the dialog: it still takes Esc and its close box, which ask first. Those
  // that were off stay off.
  if (waiting) {
    for (QWidget* child : form_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (child->isEnabled()) {
        child->setEnabled(false);
        waiting_controls_.push_back(child);
      }
    }
  } else {
    for (const QPointer<QWidget>& child : waiting_controls_) {
      if (child)
        child->setEnabled(true);
    }
    waiting_controls_.clear();
  }
  setCursor(waiting ? Qt::BusyCursor : Qt::ArrowCursor);
}

QLabel* PlaceLabel(TemplateDialog& dialog, int id, const QString& text, UnitRect place,
                   Qt::Alignment alignment, QWidget* buddy) {
  auto* label = PlaceControl<QLabel>(dialog, id, place);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  // Centred on the height of the field beside it, as the template lines them up.
  label->setAlignment(alignment | Qt::AlignVCenter);
  // The mnemonic's "&" is not drawn; without a buddy it is.
  QString shown = text;
  if (buddy != nullptr) {
    label->setBuddy(buddy);
    shown.remove(QRegularExpression(QStringLiteral("&(?!&)")))
        .replace(QStringLiteral("&&"), QStringLiteral("&"));
  }
  // The templates were measured with Tahoma; where the substitute font runs a little wider, a
  // right-aligned label grows to the left into the margin, and any other takes a smaller font.
  const int needed = label->fontMetrics().horizontalAdvance(shown);
  if (needed > label->width() && alignment.testFlag(Qt::AlignRight)) {
    QRect area = label->geometry();
    area.setLeft(std::max(kLabelMargin, area.right() + 1 - needed));
    label->setGeometry(area);
  } else if (needed > label->width() && alignment.testFlag(Qt::AlignHCenter)) {
    const int half = (needed - label->width() + 1) / 2;
    label->setGeometry(
        label->geometry().adjusted(-std::min(half, label->x() - kLabelMargin), 0, half, 0));
  }
  if (needed > label->width())
    label->setFont(FontFitting(label->font(), shown, label->width() - 1));
  return label;
}

QLabel* PlaceFramedLabel(TemplateDialog& dialog, int id, const QString& text, UnitRect place) {
  auto* label = PlaceControl<QLabel>(dialog, id, place);
  label->setTextFormat(Qt::PlainText);
  label->setText(text);
  label->setAlignment(Qt::AlignCenter);
  label->setFrameStyle(QFrame::Box | QFrame::Plain);
  label->setLineWidth(1);
  return label;
}

QGroupBox* PlaceGroup(TemplateDialog& dialog, const QString& title, UnitRect place) {
  auto* group = PlaceControl<QGroupBox>(dialog, 0, place);
  group->setTitle(title);
  DrawAsTemplateGroup(*group);
  return group;
}

QPushButton* PlaceButton(TemplateDialog& dialog, int id, const QString& caption, UnitRect place) {
  auto* button = PlaceControl<QPushButton>(dialog, id, place);
  button->setText(caption);
  return button;
}

QCheckBox* PlaceCheckBox(TemplateDialog& dialog, int id, const QString& caption, UnitRect place) {
  auto* box = PlaceControl<QCheckBox>(dialog, id, place);
  box->setText(caption);
  return box;
}

QPushButton* PlaceHelpButton(TemplateDialog& dialog, int id, UnitRect place, const QString& name) {
  QPushButton* button = PlaceButton(dialog, id, QStringLiteral("."), place);
  button->setAutoDefault(false);
  const QIcon icon = LoadIcon(u"154", QSize(kHelpPictureSize, kHelpPictureSize));
  // Without its picture the button keeps its caption.
  // Its caption is "." or nothing: screen readers and tooltips say what it is.
  button->setAccessibleName(name);
  button->setToolTip(name);
  if (!icon.isNull()) {
    button->setText(QString());
    button->setIcon(icon);
    button->setIconSize(QSize(kHelpPictureSize, kHelpPictureSize));
  }
  return button;
}

QComboBox* PlaceComboBox(TemplateDialog& dialog, int id, UnitRect place) {
  auto* combo = PlaceControl<QComboBox>(dialog, id, place);
  combo->resize(combo->width(), dialog.units().Y(kComboClosedHeightUnits));
  combo->setMaxVisibleItems(std::max(1, place.height / kComboClosedHeightUnits));
  return combo;
}

void ShowSettingsFailure(DialogRunner& runner, QWidget* parent, const SettingsStore& store,
                         bool reading) {
  ShowSettingsFailure(runner, parent, store.DescribeProblem(), reading);
}

void ShowSettingsFailure(DialogRunner& runner, QWidget* parent, const std::string& problem_text,
                         bool reading) {
  const QString problem = ToQString(problem_text);
  if (reading) {
    runner.ShowMessageBox(
        parent,
        QStringLiteral("Velkorant no puede leer su configuración (tu nombre de usuario, el "
                       "servidor y los perfiles de contraseñas).\n\n%1\n\nMientras tanto puedes "
                       "leer tus mensajes, pero Velkorant no guarda la configuración ni se "
                       "conecta con el servidor.")
            .arg(problem),
        QStringLiteral("No se puede leer la configuración"), kBoxOkQuestion);
  } else {
    runner.ShowMessageBox(
        parent,
        QStringLiteral("No se ha podido guardar la configuración; no ha cambiado nada.\n\n%1")
            .arg(problem),
        QStringLiteral("No se ha podido guardar la configuración"), kBoxOkQuestion);
  }
}

void AddChangedCharacters(const QString& text, QStringList& changes) {
  for (const char32_t c : text.toUcs4()) {
    const unsigned char byte = UnicodeToAnsi(c);
    if (AnsiToUnicode(byte) == c)
      continue;
    const QString change = QString::fromUcs4(&c, 1) + QStringLiteral(" → ") +
                           ToQString(std::string(1, static_cast<char>(byte)));
    if (!changes.contains(change))
      changes << change;
  }
}

QString StoredText(std::string_view stored) {
  return stored == "NULL" ? QString() : ToQString(stored);
}

LimitedLineEdit::LimitedLineEdit(int limit, QWidget* parent)
    : QLineEdit(parent), limit_(limit), allowed_(limit) {
  setValidator(new TypingLimitValidator(*this));
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    allowed_ = std::max(limit_, static_cast<int>(text.size()));
  });
}

void LimitedLineEdit::SetFieldText(const QString& text) {
  allowed_ = std::max(limit_, static_cast<int>(text.size()));
  setText(text);
}

LimitedTextEdit::LimitedTextEdit(int limit, QWidget* parent)
    : QPlainTextEdit(parent), limit_(limit) {
  setTabChangesFocus(true);
  setLineWrapMode(QPlainTextEdit::WidgetWidth);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

void LimitedTextEdit::SetFieldText(const QString& text) {
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(u'\r', u'\n');
  setPlainText(lines);
}

QString LimitedTextEdit::FieldText() const {
  // The raw text keeps what the user typed (toPlainText() would turn no-break spaces into blanks).
  const QString raw = document()->toRawText();
  QString text;
  text.reserve(raw.size() + raw.size() / 16);
  for (const QChar c : raw) {
    if (IsLineBreak(c)) {
      text += QStringLiteral("\r\n");
    } else {
      text += c;
    }
  }
  return text;
}

int LimitedTextEdit::Length(const QString& text) {
  const auto breaks = std::count_if(text.begin(), text.end(), IsLineBreak);
  return static_cast<int>(text.size() + breaks);
}

int LimitedTextEdit::Room() const {
  const int length = Length(document()->toRawText());
  const int selected = Length(textCursor().selectedText());
  return std::max(limit_, length) - (length - selected);
}

QString LimitedTextEdit::Fitting(const QString& text) const {
  int room = Room();
  qsizetype end = 0;
  while (end < text.size()) {
    const bool pair = text.at(end).isHighSurrogate() && end + 1 < text.size();
    const int cost = IsLineBreak(text.at(end)) ? 2 : 1;
    if (cost > room)
      break;
    room -= cost;
    end += pair ? 2 : 1;
  }
  return text.left(end);
}

void LimitedTextEdit::keyPressEvent(QKeyEvent* event) {
  const bool line_break =
      (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !isReadOnly();
  const QString text = event->text();
  // A key held with Ctrl is a command (select all, copy), whatever text the event carries.
  const bool command = (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) != 0;
  const bool printable = !text.isEmpty() && text.at(0).isPrint() && !command && !isReadOnly();
  if ((line_break && Room() < 2) || (printable && !line_break && Length(text) > Room())) {
    QApplication::beep();
    event->accept();
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

void LimitedTextEdit::insertFromMimeData(const QMimeData* source) {
  if (source == nullptr || !source->hasText() || isReadOnly())
    return;
  QString text = source->text();
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  const QString fitting = Fitting(text);
  if (fitting.size() < text.size())
    QApplication::beep();
  if (!fitting.isEmpty())
    textCursor().insertText(fitting);
}

void LimitedTextEdit::inputMethodEvent(QInputMethodEvent* event) {
  const QString fitting = Fitting(event->commitString());
  if (fitting.size() == event->commitString().size()) {
    QPlainTextEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent shortened(event->preeditString(), event->attributes());
  shortened.setCommitString(fitting, event->replacementStart(), event->replacementLength());
  QPlainTextEdit::inputMethodEvent(&shortened);
}

LimitedLineEdit* PlaceField(TemplateDialog& dialog, int id, int limit, UnitRect place) {
  auto* field = new LimitedLineEdit(limit, &dialog.form());
  field->setObjectName(QString::number(id));
  field->setGeometry(dialog.units().Rect(place.left, place.top, place.width, place.height));
  return field;
}

QComboBox* PlaceEditableComboBox(TemplateDialog& dialog, int id, int limit, UnitRect place) {
  QComboBox* combo = PlaceComboBox(dialog, id, place);
  combo->setEditable(true);
  combo->setLineEdit(new LimitedLineEdit(limit, combo));
  combo->setInsertPolicy(QComboBox::NoInsert);
  // Enter on a listed name must not choose that entry, and so load its values over the ones
  // being edited, before the dialog's default button takes the fields; nor may typing complete
  // a name the user did not finish.
  combo->setDuplicatesEnabled(true);
  combo->setCompleter(nullptr);
  // Qt's combo box also chooses the entry matching the typed text when editing ends (Enter or
  // leaving the field); here only a choice in the list chooses.
  QObject::disconnect(combo->lineEdit(), &QLineEdit::editingFinished, combo, nullptr);
  return combo;
}

void MakePasswordField(QLineEdit& field) {
  // Each character shows as "*", whatever the widget style would draw.
  field.setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  field.setEchoMode(QLineEdit::Password);
}

void ShowPasswordInClear(QLineEdit& field, bool clear) {
  field.setEchoMode(clear ? QLineEdit::Normal : QLineEdit::Password);
}

void Refuse(DialogRunner& runner, QWidget& dialog, QWidget* field, const QString& text,
            const QString& caption) {
  runner.ShowMessageBox(&dialog, text, caption, kBoxOkQuestion);
  if (field == nullptr)
    return;
  field->setFocus(Qt::OtherFocusReason);
  if (auto* combo = qobject_cast<QComboBox*>(field); combo != nullptr && combo->isEditable())
    field = combo->lineEdit();
  if (auto* line = qobject_cast<QLineEdit*>(field))
    line->selectAll();
  if (auto* plain = qobject_cast<QPlainTextEdit*>(field))
    plain->selectAll();
}

void Refuse(DialogRunner& runner, QWidget& dialog, QWidget* field, const BoxText& box) {
  Refuse(runner, dialog, field, ToQString(box.text), ToQString(box.caption));
}

FieldTaker& FieldTaker::Take(QWidget& control, std::string_view label, std::string text,
                             std::size_t limit, std::string& into) {
  if (!ok_)
    return *this;
  if (const auto refused = CheckFieldLength(
          ToAnsi(QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size()))), text,
          limit)) {
    ok_ = false;
    Refuse(runner_, dialog_, &control, *refused);
    return *this;
  }
  into = std::move(text);
  return *this;
}

}  // namespace velkorant
