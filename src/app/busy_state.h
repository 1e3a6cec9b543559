// The busy state of a command: the busy cursor for the whole application,
// then Open, ISO, MAC and Exit disabled in that order, and the surface's pump
// clock started; undone in the same order whatever the command did, with a
// last flush of the surface so the widgets show the command's end. The
// button that started the command gets the focus back: while it was
// disabled the focus moved on, and keystrokes must not land in another edit.
#pragma once

#include <array>

class QPushButton;

namespace kalvrin {

class FormSurface;

class BusyState {
 public:
  // `buttons`: Open, ISO, MAC and Exit, in the order they go busy;
  // `starter`: the button that started the command.
  BusyState(const std::array<QPushButton*, 4>& buttons, FormSurface& surface, QPushButton* starter);
  ~BusyState();
  BusyState(const BusyState&) = delete;
  BusyState& operator=(const BusyState&) = delete;

 private:
  std::array<QPushButton*, 4> buttons_;
  FormSurface& surface_;
  QPushButton* starter_;
};

}  // namespace kalvrin
