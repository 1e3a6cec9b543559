// Anchored placement and the typing limit.
#include "app/widget_helpers.h"

#include <QEvent>
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

}  // namespace kalvrin
