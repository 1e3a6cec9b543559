// AboutForm: names the tool and shows its version; shown beside the main
// window, never modal, never twice.
#pragma once

#include <QDialog>

class QLabel;

namespace kalvrin {

class TMainForm;

class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  // Created hidden after the main window, whose VersionText it reads once.
  explicit TAboutForm(TMainForm& mainForm);

  QLabel* Label1 = nullptr;
  QLabel* labVer = nullptr;
  QLabel* labQUORVEL = nullptr;

 private:
  void FormCreate(const TMainForm& mainForm);
};

}  // namespace kalvrin
