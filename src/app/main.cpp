// kalvrin: the desktop window. Start-up creates the main window, the About
// box and the configuration dialog, puts a file named on the command line
// (kalvrin FILE) into the file edit, shows the main window and runs until it
// closes.
#include <QMessageBox>

#include <exception>

#include "app/kalvrin_application.h"
#include "app/main_form.h"

int main(int argc, char** argv) {
  kalvrin::KalvrinApplication app(argc, argv);
  try {
    kalvrin::KalvrinWindows windows = kalvrin::CreateWindows(QCoreApplication::applicationFilePath());
    kalvrin::ApplyStartArguments(*windows.mainForm, QCoreApplication::arguments().mid(1));
    windows.mainForm->show();  // maximised when the settings say so
    return app.exec();
  } catch (const std::exception& error) {
    // start-up failed: say why, and let the caller see that it did
    QMessageBox::critical(nullptr, QString(), kalvrin::ErrorText(error));
  }
  return 1;
}
