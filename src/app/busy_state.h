// The window's one running command and its one stop.
//
// CommandState says which command runs (none, the format check, the MAC
// check, verify; the commands still to come take a value of their own) and
// carries the stop that Clear, Escape and a closing window ask for: one flag
// every command's progress reads, and a command's own way of stopping where
// it has one (the format check stops before its next character). A stop
// also says what the window does once the command has returned.
//
// BusyState is one run of a command: the key and file edits take no typing
// and the focus goes to the result page, the grid's cells open no editor,
// the busy cursor for the whole application, then Open, ISO, MAC and Exit
// disabled in that order and the commands of the menu with them, and the surface's pump clock started; undone in
// the same order whatever the command did, with a last flush of the surface
// so the widgets show the command's end. The focus goes back to the button
// that started the command (or where it was, for a command from the menu):
// a disabled button loses the focus to the next edit in the chain, and a
// keystroke there would replace the key that closing the window saves.
#pragma once

#include <QPointer>
#include <QWidget>

#include <array>
#include <atomic>
#include <functional>

class QAbstractItemView;
class QAction;
class QLineEdit;
class QPushButton;

namespace kalvrin {

class FormSurface;

// Locate: a message looked for in the file; Explain: a red MAC's causes
// tried; Compare: the file against a second one.
enum class Command { None, FormatCheck, MacCheck, Verify, Locate, Explain, Compare };

// What the window does once a stopped command has returned: nothing more,
// keep what the window showed, clear it, or close. A later stop that asks
// for more wins: a close over a clear over a keep.
enum class AfterStop { Nothing, Keep, Clear, Close };

class CommandState {
 public:
  Command running() const { return running_; }
  bool idle() const { return running_ == Command::None; }
  // Asks the running command to stop; false (and nothing asked) when none runs.
  bool stop(AfterStop then);
  // Set from a stop until the next command starts; commands read it between steps.
  const std::atomic<bool>& stopFlag() const { return stop_; }
  bool stopping() const { return stop_.load(std::memory_order_relaxed); }
  // What the last stop asked for, handed over once: the window takes it
  // after the command has returned.
  AfterStop takeAfterStop();

 private:
  friend class BusyState;
  Command running_ = Command::None;
  std::atomic<bool> stop_ = false;
  AfterStop after_ = AfterStop::Nothing;
  std::function<void()> stopHook_;  // the running command's own stop
};

// The widgets a running command holds still.
struct BusyWidgets {
  std::array<QPushButton*, 4> buttons{};  // Open, ISO, MAC and Exit, in the order they go busy
  std::array<QLineEdit*, 2> inputs{};     // the key edit and the file edit
  std::array<QAction*, 3> menuCommands{};  // Tool > Verify, Tool > Go to offset, Tool > Compare with
  QAbstractItemView* grid = nullptr;      // no cell editor opens while rows arrive
  QWidget* focus = nullptr;               // takes the focus while the command runs
  // A button shown only while it applies (the MAC page's Explain): disabled
  // while a command runs, and back on after it only if still shown.
  QPushButton* offered = nullptr;
};

class BusyState {
 public:
  // `starter`: the button that started the command, if one did;
  // `stopHook`: how `command` stops besides the flag, if it has a way.
  BusyState(CommandState& state, Command command, const BusyWidgets& widgets, FormSurface& surface,
            QPushButton* starter, std::function<void()> stopHook = {});
  ~BusyState();
  BusyState(const BusyState&) = delete;
  BusyState& operator=(const BusyState&) = delete;

 private:
  CommandState& state_;
  BusyWidgets widgets_;
  FormSurface& surface_;
  QPointer<QWidget> focusAfter_;  // the starter, or the widget that had the focus
  int gridTriggers_ = 0;  // the grid's edit triggers before the command
  std::array<bool, 3> menuCommandsOn_{};  // which menu commands were on before it
};

}  // namespace kalvrin
