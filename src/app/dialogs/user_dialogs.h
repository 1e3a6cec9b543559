// What the main window asks of the person in front of it: a file to open, an
// error to read, whether to close without saving. The window talks to the
// standard dialogs through this seam, so tests can answer in their place.
#pragma once

#include <QString>

#include <memory>
#include <optional>

class QWidget;

namespace kalvrin {

class UserDialogs {
 public:
  virtual ~UserDialogs() = default;
  // The open-file dialog, modal, starting in `initialFolder` (or the folder
  // that holds it when it names a file): the chosen file, or nothing when
  // cancelled.
  virtual std::optional<QString> chooseFile(QWidget* parent, const QString& initialFolder) = 0;
  // An error that escaped a command.
  virtual void showError(QWidget* parent, const QString& text) = 0;
  // The settings could not be written: true to close without saving them,
  // false to keep the window open.
  virtual bool closeWithoutSaving(QWidget* parent, const QString& text) = 0;
};

// QFileDialog and QMessageBox.
std::unique_ptr<UserDialogs> MakeStandardDialogs();

}  // namespace kalvrin
