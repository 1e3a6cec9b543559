// The busy state of the ISO and MAC commands.
#include "app/busy_state.h"

#include <QApplication>
#include <QPushButton>

#include "app/form_surface.h"

namespace kalvrin {

BusyState::BusyState(const std::array<QPushButton*, 4>& buttons, FormSurface& surface, QPushButton* starter)
    : buttons_(buttons), surface_(surface), starter_(starter) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  for (QPushButton* button : buttons_) button->setEnabled(false);
  surface_.startRun();
}

BusyState::~BusyState() {
  surface_.endRun();
  for (QPushButton* button : buttons_) button->setEnabled(true);
  if (starter_ != nullptr) starter_->setFocus(Qt::OtherFocusReason);
  QApplication::restoreOverrideCursor();
}

}  // namespace kalvrin
