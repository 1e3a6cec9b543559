// Start-up of the windows and the application-wide error net.
#include "app/kalvrin_application.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>

#include <exception>
#include <new>

#include "app/dialogs/about_form.h"
#include "app/app_texts.h"
#include "app/dialogs/config_form.h"
#include "app/main_form.h"

namespace kalvrin {

namespace {
constexpr const char* kOutOfMemory = "Out of memory";
}  // namespace

QString ErrorText(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return QString::fromLatin1(kOutOfMemory);
  return QString::fromLocal8Bit(error.what());
}

KalvrinApplication::KalvrinApplication(int& argc, char** argv) : QApplication(argc, argv) {
  errorHandler_ = [](const QString& text) { QMessageBox::critical(nullptr, QString(), text); };
}

bool KalvrinApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    errorHandler_(ErrorText(error));
  } catch (...) {
    errorHandler_(app_text::kUnknownError);
  }
  return false;
}

KalvrinWindows CreateWindows(const QString& executablePath, std::unique_ptr<UserDialogs> dialogs) {
  KalvrinWindows windows;
  windows.noCoreDumps = std::make_unique<NoCoreDumps>();
  windows.mainForm = std::make_unique<TMainForm>(executablePath, std::move(dialogs));
  windows.aboutForm = new TAboutForm(*windows.mainForm);
  windows.configForm = new TConfigForm(windows.mainForm.get());
  windows.mainForm->AttachDialogs(windows.aboutForm, windows.configForm);
  return windows;
}

void ApplyStartArguments(TMainForm& form, const QStringList& arguments) {
  if (arguments.isEmpty() || arguments.front().isEmpty()) return;
  form.chooseFile(QFileInfo(arguments.front()).absoluteFilePath());
}

}  // namespace kalvrin
