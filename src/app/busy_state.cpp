// The running command, its stop, and the busy state of one run.
#include "app/busy_state.h"

#include <QApplication>
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

BusyState::BusyState(CommandState& state, Command command, const std::array<QPushButton*, 4>& buttons,
                     FormSurface& surface, QPushButton* starter, std::function<void()> stopHook)
    : state_(state), buttons_(buttons), surface_(surface), starter_(starter) {
  state_.running_ = command;
  state_.stop_ = false;
  state_.after_ = AfterStop::Nothing;
  state_.stopHook_ = std::move(stopHook);
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (QPushButton* button : buttons_) button->setEnabled(false);
  surface_.startRun();
}

BusyState::~BusyState() {
  state_.running_ = Command::None;
  state_.stopHook_ = nullptr;
  surface_.endRun();
  for (QPushButton* button : buttons_) button->setEnabled(true);
  if (starter_ != nullptr) starter_->setFocus(Qt::OtherFocusReason);
  QApplication::restoreOverrideCursor();
}

}  // namespace kalvrin
