// The window as the window tests start it: its settings in a scratch
// folder, and dialogs that answer for the user and keep the errors shown.
#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <optional>
#include <utility>

#include "app/dialogs/user_dialogs.h"
#include "app/kalvrin_application.h"
#include "app/main_form.h"

namespace kalvrin::test {

struct QuietDialogs : UserDialogs {
  QStringList errors;
  std::optional<QString> chosen;  // what the file dialog answers; nothing: cancelled
  std::optional<QString> chooseFile(QWidget*, const QString&) override { return chosen; }
  void showError(QWidget*, const QString& text) override { errors << text; }
  bool closeWithoutSaving(QWidget*, const QString&) override { return true; }
};

struct StartedWindow {
  QuietDialogs* dialogs = nullptr;
  KalvrinWindows windows;
  TMainForm& form() const { return *windows.mainForm; }
};

inline StartedWindow StartWindow(const QTemporaryDir& dir, std::optional<QString> chosen = std::nullopt) {
  StartedWindow started;
  auto dialogs = std::make_unique<QuietDialogs>();
  dialogs->chosen = std::move(chosen);
  started.dialogs = dialogs.get();
  started.windows = CreateWindows(dir.filePath("kalvrin"), std::move(dialogs));
  return started;
}

}  // namespace kalvrin::test
