// A short description of the tool's checks, shipped inside the program and
// shown beside the main window (F1 or About ▸ Help).
#pragma once

#include <QDialog>

class QTextBrowser;

namespace kalvrin {

class HelpForm : public QDialog {
  Q_OBJECT

 public:
  explicit HelpForm(QWidget* parent = nullptr);
  QTextBrowser* Text = nullptr;
};

}  // namespace kalvrin
