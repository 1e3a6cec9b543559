// The find bar under the result grid: a text to find, forwards and
// backwards through every shown cell, and a filter that keeps the rows whose
// chosen column holds a text, with the count of those rows. Hidden until
// asked for; the search itself is GridTools'.
#pragma once

#include <QWidget>

#include <functional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace kalvrin {

class FindBar : public QWidget {
  Q_OBJECT

 public:
  explicit FindBar(QWidget* parent = nullptr);

  QLineEdit* findEdit = nullptr;
  QPushButton* previousButton = nullptr;
  QPushButton* nextButton = nullptr;
  QLabel* findStatus = nullptr;
  QComboBox* filterColumn = nullptr;  // item data: the grid column
  QLineEdit* filterEdit = nullptr;
  QLabel* filterCount = nullptr;
  QToolButton* closeButton = nullptr;
  // True while the window runs a command: Escape then goes to the window,
  // which stops the command, and the bar stays open.
  std::function<bool()> windowBusy;

 signals:
  void findRequested(bool forwards);
  // The filter is to be applied: after a pause in typing, at Enter, or
  // when a column is chosen.
  void filterRequested();
  void closeRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace kalvrin
