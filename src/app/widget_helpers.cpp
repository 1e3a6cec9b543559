// Anchored placement, the typing limit, the eliding edit and the key edit.
#include "app/widget_helpers.h"

#include <QEvent>
#include <QFontDatabase>
#include <QResizeEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QLineEdit>
#include <QWidget>

#include <algorithm>

namespace kalvrin {

QFont FixedPitchFont(const QFont& shown) {
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  if (shown.pointSize() > 0) fixed.setPointSize(shown.pointSize());
  return fixed;
}

AnchorLayout::AnchorLayout(QWidget* parent, QSize designSize)
    : QObject(parent), parent_(parent), designSize_(designSize) {
  parent->installEventFilter(this);
}

void AnchorLayout::place(QWidget* control, QRect design, unsigned anchors) {
  placed_.push_back({control, design, anchors});
  apply(placed_.back());
}

void AnchorLayout::apply(const Placed& placed) const {
  const int dx = parent_->width() - designSize_.width();
  const int dy = parent_->height() - designSize_.height();
  QRect r = placed.design;
  if (placed.anchors & kAnchorRight) r.setWidth(std::max(0, r.width() + dx));
  if (placed.anchors & kAnchorBottom) {
    if (!(placed.anchors & kAnchorNoTop)) {
      r.setHeight(std::max(0, r.height() + dy));
    } else {
      r.moveTop(r.top() + dy);
    }
  }
  placed.control->setGeometry(r);
}

bool AnchorLayout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent_ && event->type() == QEvent::Resize) {
    for (const Placed& placed : placed_) apply(placed);
  }
  return QObject::eventFilter(watched, event);
}

TypingLimit::TypingLimit(QLineEdit* edit, int limit)
    : QValidator(edit), limit_(limit), shownLength_(edit->text().size()) {
  // The edit changes its text before it asks the validator, so the length
  // before the keystroke is followed here.
  connect(edit, &QLineEdit::textChanged, this, [this](const QString& text) { shownLength_ = text.size(); });
}

QValidator::State TypingLimit::validate(QString& input, int&) const {
  if (input.size() <= limit_ || input.size() <= shownLength_) return Acceptable;
  return Invalid;
}

ElidingEdit::ElidingEdit(QWidget* parent) : QLineEdit(parent) {
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) { setToolTip(text); });
}

QRect ElidingEdit::TextRect() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  const QMargins margins = textMargins();
  return style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).marginsRemoved(margins).adjusted(2, 0, -2, 0);
}

QString ElidingEdit::shownText() const {
  return fontMetrics().elidedText(text(), Qt::ElideMiddle, std::max(TextRect().width(), 0));
}

int ElidingEdit::widthToShow(const QString& text) const {
  // The advance is rounded to whole pixels, the eliding is not: one more keeps a text that fits from being cut.
  return width() - TextRect().width() + fontMetrics().horizontalAdvance(text) + 1;
}

void ElidingEdit::paintEvent(QPaintEvent* event) {
  const QString shown = shownText();
  if (hasFocus() || shown == text()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  painter.drawText(TextRect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
}

KeyEdit::KeyEdit(QWidget* parent, int lineDigits)
    : QLineEdit(parent), lineDigits_(std::max(1, lineDigits)), largestPoints_(font().pointSize()) {
  setFont(FixedPitchFont(font()));
  connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
    setToolTip(text);
    FitHeight();
  });
}

QRect KeyEdit::TextRoom() const {
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  return style()->subElementRect(QStyle::SE_LineEditContents, &panel, this).marginsRemoved(textMargins()).adjusted(1, 0, -1, 0);
}

QStringList KeyEdit::shownLines() const {
  const QString shown = text();
  QStringList lines;
  for (qsizetype at = 0; at < shown.size(); at += lineDigits_) lines << shown.mid(at, lineDigits_);
  if (lines.isEmpty()) lines << QString();
  return lines;
}

void KeyEdit::FitFont() {
  if (largestPoints_ <= 0) return;  // a font sized in pixels is left as it is
  constexpr int kSmallest = 6;
  const QString line(lineDigits_, QLatin1Char('D'));
  QFont fitted = font();
  const int room = TextRoom().width();
  for (int points = largestPoints_; points >= kSmallest; --points) {
    fitted.setPointSize(points);
    if (QFontMetrics(fitted).horizontalAdvance(line) <= room) break;
  }
  if (fitted != font()) setFont(fitted);
}

void KeyEdit::FitHeight() {
  if (lineHeight_ <= 0) return;
  const auto extra = static_cast<int>(shownLines().size()) - 1;
  const int wanted = lineHeight_ + extra * fontMetrics().lineSpacing();
  if (height() == wanted) return;
  fitting_ = true;
  resize(width(), wanted);
  fitting_ = false;
}

void KeyEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  if (fitting_) return;
  if (lineHeight_ <= 0) lineHeight_ = event->size().height();
  if (event->size().width() != event->oldSize().width()) FitFont();
  FitHeight();
}

void KeyEdit::paintEvent(QPaintEvent* event) {
  if (hasFocus()) {
    QLineEdit::paintEvent(event);
    return;
  }
  QPainter painter(this);
  QStyleOptionFrame panel;
  initStyleOption(&panel);
  style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
  const QStringList lines = shownLines();
  const int spacing = fontMetrics().lineSpacing();
  const QRect room = TextRoom();
  int top = room.top() + (room.height() - static_cast<int>(lines.size()) * spacing) / 2;
  for (const QString& line : lines) {
    painter.drawText(QRect(room.left(), top, room.width(), spacing), Qt::AlignVCenter | Qt::AlignLeft, line);
    top += spacing;
  }
}

}  // namespace kalvrin
