// The running command, its stop, and the busy state of one run.
#include "app/busy_state.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <utility>

#include "app/form_surface.h"

namespace kalvrin {

bool CommandState::stop(AfterStop then) {
  if (idle()) return false;
  stop_ = true;
  after_ = std::max(after_, then);
  if (stopHook_) stopHook_();
  return true;
}

AfterStop CommandState::takeAfterStop() { return std::exchange(after_, AfterStop::Nothing); }

BusyState::BusyState(CommandState& state, Command command, const BusyWidgets& widgets, FormSurface& surface,
                     QPushButton* starter, std::function<void()> stopHook)
    : state_(state),
      widgets_(widgets),
      surface_(surface),
      focusAfter_(starter != nullptr ? starter : QApplication::focusWidget()) {
  state_.running_ = command;
  state_.stop_ = false;
  state_.after_ = AfterStop::Nothing;
  state_.stopHook_ = std::move(stopHook);
  // Before the buttons go: the focus must not pass along the chain into an edit.
  for (QLineEdit* input : widgets_.inputs) input->setReadOnly(true);
  if (widgets_.focus != nullptr) widgets_.focus->setFocus(Qt::OtherFocusReason);
  gridTriggers_ = static_cast<int>(widgets_.grid->editTriggers());
  widgets_.grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (QPushButton* button : widgets_.buttons) button->setEnabled(false);
  if (widgets_.offered != nullptr) widgets_.offered->setEnabled(false);
  for (std::size_t i = 0; i < widgets_.menuCommands.size(); ++i) {
    if (widgets_.menuCommands[i] == nullptr) continue;
    menuCommandsOn_[i] = widgets_.menuCommands[i]->isEnabled();
    widgets_.menuCommands[i]->setEnabled(false);
  }
  surface_.startRun();
}

BusyState::~BusyState() {
  state_.running_ = Command::None;
  state_.stopHook_ = nullptr;
  surface_.endRun();
  for (QPushButton* button : widgets_.buttons) button->setEnabled(true);
  if (widgets_.offered != nullptr) widgets_.offered->setEnabled(!widgets_.offered->isHidden());
  for (std::size_t i = 0; i < widgets_.menuCommands.size(); ++i) {
    if (widgets_.menuCommands[i] != nullptr) widgets_.menuCommands[i]->setEnabled(menuCommandsOn_[i]);
  }
  widgets_.grid->setEditTriggers(QAbstractItemView::EditTriggers(gridTriggers_));
  for (QLineEdit* input : widgets_.inputs) input->setReadOnly(false);
  if (focusAfter_ != nullptr && focusAfter_->isEnabled()) focusAfter_->setFocus(Qt::OtherFocusReason);
  QApplication::restoreOverrideCursor();
}

}  // namespace kalvrin
