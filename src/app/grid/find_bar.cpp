// The find bar's controls.
#include "app/grid/find_bar.h"

#include <QComboBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

namespace kalvrin {

namespace {
// Typing in the filter edit refilters after this pause; Enter does it at once.
constexpr int kFilterPauseMs = 300;
}  // namespace

FindBar::FindBar(QWidget* parent) : QWidget(parent) {
  setObjectName("FindBar");
  auto* layout = new QGridLayout(this);
  layout->setContentsMargins(0, 2, 0, 0);
  layout->setHorizontalSpacing(4);
  layout->setVerticalSpacing(2);

  auto* findLabel = new QLabel("Find:", this);
  findEdit = new QLineEdit(this);
  findEdit->setObjectName("findEdit");
  findEdit->setPlaceholderText("text in any shown cell");
  findEdit->setClearButtonEnabled(true);
  findLabel->setBuddy(findEdit);
  previousButton = new QPushButton("Previous", this);
  previousButton->setObjectName("findPrevious");
  nextButton = new QPushButton("Next", this);
  nextButton->setObjectName("findNext");
  for (QPushButton* button : {previousButton, nextButton}) {
    button->setAutoDefault(false);
    button->setFocusPolicy(Qt::NoFocus);
  }
  findStatus = new QLabel(this);
  findStatus->setObjectName("findStatus");
  closeButton = new QToolButton(this);
  closeButton->setObjectName("findClose");
  closeButton->setText(QStringLiteral("\u00D7"));
  closeButton->setToolTip("Close the find bar and show every row (Escape)");
  closeButton->setAutoRaise(true);

  auto* filterLabel = new QLabel("Filter:", this);
  filterColumn = new QComboBox(this);
  filterColumn->setObjectName("filterColumn");
  filterColumn->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  filterEdit = new QLineEdit(this);
  filterEdit->setObjectName("filterEdit");
  filterEdit->setPlaceholderText("rows whose column holds this text");
  filterEdit->setClearButtonEnabled(true);
  filterLabel->setBuddy(filterEdit);
  filterCount = new QLabel(this);
  filterCount->setObjectName("filterCount");

  layout->addWidget(findLabel, 0, 0);
  layout->addWidget(findEdit, 0, 1, 1, 2);
  layout->addWidget(previousButton, 0, 3);
  layout->addWidget(nextButton, 0, 4);
  layout->addWidget(findStatus, 0, 5);
  layout->addWidget(closeButton, 0, 6, Qt::AlignRight);
  layout->addWidget(filterLabel, 1, 0);
  layout->addWidget(filterColumn, 1, 1);
  layout->addWidget(filterEdit, 1, 2, 1, 3);
  layout->addWidget(filterCount, 1, 5, 1, 2);
  layout->setColumnStretch(2, 1);
  layout->setColumnStretch(5, 1);

  connect(findEdit, &QLineEdit::returnPressed, this, [this] { emit findRequested(true); });
  connect(nextButton, &QPushButton::clicked, this, [this] { emit findRequested(true); });
  connect(previousButton, &QPushButton::clicked, this, [this] { emit findRequested(false); });
  connect(closeButton, &QToolButton::clicked, this, &FindBar::closeRequested);

  auto* pause = new QTimer(this);
  pause->setSingleShot(true);
  pause->setInterval(kFilterPauseMs);
  connect(pause, &QTimer::timeout, this, &FindBar::filterRequested);
  connect(filterEdit, &QLineEdit::textEdited, pause, qOverload<>(&QTimer::start));
  connect(filterEdit, &QLineEdit::returnPressed, this, [this, pause] {
    pause->stop();
    emit filterRequested();
  });
  connect(filterColumn, &QComboBox::activated, this, [this, pause] {
    pause->stop();
    emit filterRequested();
  });
  for (QWidget* control : std::initializer_list<QWidget*>{findEdit, filterEdit, filterColumn}) {
    control->installEventFilter(this);
  }
}

bool FindBar::eventFilter(QObject* watched, QEvent* event) {
  const auto* key = event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress
                        ? static_cast<QKeyEvent*>(event)
                        : nullptr;
  if (key != nullptr && key->key() == Qt::Key_Escape && !(windowBusy && windowBusy())) {
    // Escape here closes the bar, before any shortcut of the window sees it.
    event->accept();
    if (event->type() == QEvent::KeyPress) emit closeRequested();
    return event->type() == QEvent::KeyPress;
  }
  if (key != nullptr && event->type() == QEvent::KeyPress && watched == findEdit &&
      (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier)) {
    emit findRequested(false);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

}  // namespace kalvrin
