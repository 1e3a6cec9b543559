// ConfigForm: check boxes for the primary fields to be displayed. Nothing
// reads them and nothing is stored; the dialog is reached only through the
// main window's hidden Set button.
#pragma once

#include <QDialog>

#include <array>

class QCheckBox;
class QGroupBox;
class QPushButton;

namespace kalvrin {

class TConfigForm : public QDialog {
  Q_OBJECT

 public:
  explicit TConfigForm(QWidget* parent = nullptr);

  QPushButton* btnExit = nullptr;
  QPushButton* btnSave = nullptr;
  QGroupBox* Pgroup = nullptr;
  std::array<QCheckBox*, 6> checkBoxes{};  // P2, P3, P4, P5, CheckBox1, CheckBox2

 public slots:
  void btnExitClick();
};

}  // namespace kalvrin
