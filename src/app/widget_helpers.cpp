// Anchored placement, the typing limit and the eliding edit.
#include "app/widget_helpers.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QLineEdit>
#include <QWidget>

#include <algorithm>

namespace kalvrin {

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

}  // namespace kalvrin
