// ConfigForm: check boxes for the fields to be displayed, one per column of
// the result grid. The grid shows the columns ticked here; the choice is kept
// in the settings file by the window. The dialog is reached through the main
// window's hidden Set button and the Config menu.
#pragma once

#include <QDialog>

#include <array>
#include <functional>

#include "iso/result_grid.h"

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
  QGroupBox* Sgroup = nullptr;   // secondary fields
  QGroupBox* Mgroup = nullptr;   // the message's own columns
  // The box of each grid column; the design's P2, P3 and P4 among them.
  std::array<QCheckBox*, kGridColumnCount> columnBoxes{};

  // Ticks every column's box as `shown` says, without telling anyone.
  void showColumnChoice(const std::function<bool(int column)>& shown);

 signals:
  void columnChosen(int column, bool shown);

 public slots:
  void btnExitClick();
};

}  // namespace kalvrin
