// The application object: start-up of the three windows, and the last net
// for an error that escapes an event handler.
#pragma once

#include <QApplication>
#include <QStringList>

#include <exception>
#include <functional>
#include <memory>

#include "app/dialogs/user_dialogs.h"
#include "mac/core_dumps.h"

namespace kalvrin {

class TAboutForm;
class TConfigForm;
class TMainForm;

// The text an escaping error is shown with: its own text, or "Out of memory"
// for a failed allocation.
QString ErrorText(const std::exception& error);

// An exception that leaves an event handler is shown with its text and the
// event counts as unhandled; the window goes on.
class KalvrinApplication : public QApplication {
 public:
  KalvrinApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
  // Where such errors go; a message box unless replaced.
  void setErrorHandler(std::function<void(const QString&)> handler) { errorHandler_ = std::move(handler); }

 private:
  std::function<void(const QString&)> errorHandler_;
};

// The three windows, created in start-up order: the main window (with its
// FormCreate), the About box, which reads the main window's version, and the
// configuration dialog, both hidden and owned by the main window. The key
// edit holds a clear key from start to close, so no core dump meanwhile.
struct KalvrinWindows {
  std::unique_ptr<NoCoreDumps> noCoreDumps;
  std::unique_ptr<TMainForm> mainForm;
  TAboutForm* aboutForm = nullptr;
  TConfigForm* configForm = nullptr;
};
KalvrinWindows CreateWindows(const QString& executablePath,
                             std::unique_ptr<UserDialogs> dialogs = MakeStandardDialogs());

// `kalvrin FILE`: the program's arguments after its own name; the first one
// names the transaction file, which goes into the file edit as a full path.
void ApplyStartArguments(TMainForm& form, const QStringList& arguments);

}  // namespace kalvrin
