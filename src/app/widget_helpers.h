// Small pieces the windows share: byte texts as widget texts, controls that
// keep their distance to the edges of their parent, and an edit's typing
// limit.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QLineEdit>
#include <QValidator>

#include <string_view>
#include <vector>

class QWidget;

namespace kalvrin {

// A byte text as the widgets show it: one character per byte.
inline QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Every control keeps its distance to the parent's left edge; to the top
// edge too unless kAnchorNoTop.
enum Anchor : unsigned { kAnchorRight = 1, kAnchorBottom = 2, kAnchorNoTop = 4 };
inline constexpr unsigned kAnchorLeftBottom = kAnchorBottom | kAnchorNoTop;
inline constexpr unsigned kAnchorLeftRightBottom = kAnchorRight | kAnchorBottom | kAnchorNoTop;
inline constexpr unsigned kAnchorAll = kAnchorRight | kAnchorBottom;

// Places controls at their design geometry and, whenever the parent changes
// size, keeps each control's distances to the edges it is anchored to:
// "right" stretches it sideways, "bottom" stretches it downwards, or moves it
// down when it is anchored to the bottom and not the top.
class AnchorLayout : public QObject {
 public:
  AnchorLayout(QWidget* parent, QSize designSize);
  void place(QWidget* control, QRect design, unsigned anchors = 0);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Placed {
    QWidget* control;
    QRect design;
    unsigned anchors;
  };
  void apply(const Placed& placed) const;

  QWidget* parent_;
  QSize designSize_;
  std::vector<Placed> placed_;
};

// Delphi-style typing limit: the user cannot make the text longer than
// `limit` characters, while a longer text set by the program is shown whole
// and may still be shortened.
class TypingLimit : public QValidator {
 public:
  TypingLimit(QLineEdit* edit, int limit);
  State validate(QString& input, int& pos) const override;

 private:
  int limit_;
  qsizetype shownLength_;  // the length of the text before the keystroke being checked
};

// An edit whose whole value can be read however narrow it is: while it does
// not have the focus and its text is wider than it, it shows the text cut in
// the middle with an ellipsis, and its tooltip always holds the whole text.
// The text itself is never changed.
class ElidingEdit : public QLineEdit {
 public:
  explicit ElidingEdit(QWidget* parent = nullptr);
  // What the edit shows while it does not have the focus.
  QString shownText() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextRect() const;
};

}  // namespace kalvrin
