// Small pieces the windows share: byte texts as widget texts, controls that
// keep their distance to the edges of their parent, and an edit's typing
// limit.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QLineEdit>
#include <QValidator>

#include <string_view>
#include <vector>

class QFont;
class QWidget;

namespace kalvrin {

// A byte text as the widgets show it: one character per byte.
inline QString Latin1(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Hex values (keys, check values, MACs) are shown in the system's
// fixed-pitch font at the size of `shown`: every digit takes the same room.
QFont FixedPitchFont(const QFont& shown);

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
  // The width at which `text` shows whole.
  int widthToShow(const QString& text) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QRect TextRect() const;
};

// The key edit: hex digits in a fixed-pitch font, a line of them as wide
// as `lineDigits` (a single-length key's 16), in the largest size up to the
// window's at which such a line fits the edit. While it does not have the
// focus it shows its whole text, a line of lineDigits after another (a
// double-length key's halves one above the other), and it grows downwards
// to hold them; with the focus it is an ordinary one-line edit.
class KeyEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(QStringList shownLines READ shownLines)

 public:
  KeyEdit(QWidget* parent, int lineDigits);
  // The lines shown while the edit does not have the focus.
  QStringList shownLines() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QRect TextRoom() const;
  void FitFont();
  void FitHeight();

  int lineDigits_;
  int largestPoints_;   // the window's size, which the font does not exceed
  int lineHeight_ = 0;  // the height of the edit for one line, as first placed
  bool fitting_ = false;
};

}  // namespace kalvrin
