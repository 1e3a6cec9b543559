// The configuration dialog.
#include "app/config_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

#include "app/app_texts.h"

namespace kalvrin {

namespace {
struct Box {
  const char* name;
  int top;
  const char* caption;
};
// The last three all read "P5".
constexpr Box kBoxes[] = {{"P2", 24, "P2 - Sec.map"}, {"P3", 40, "P3"},        {"P4", 56, "P4"},
                          {"P5", 72, "P5"},           {"CheckBox1", 88, "P5"}, {"CheckBox2", 104, "P5"}};
constexpr int kBoxHeight = 16;  // the design's 10 pixels are less than Qt's check mark
}  // namespace

TConfigForm::TConfigForm(QWidget* parent) : QDialog(parent) {
  setObjectName("ConfigForm");
  setWindowTitle(app_text::kConfigCaption);
  QFont font = this->font();
  font.setPointSize(8);
  setFont(font);
  resize(527, 826);
  move(294, 120);

  btnExit = new QPushButton("Exit", this);
  btnExit->setObjectName("btnExit");
  btnExit->setGeometry(472, 768, 41, 25);
  btnExit->setAutoDefault(false);
  connect(btnExit, &QPushButton::clicked, this, &TConfigForm::btnExitClick);
  btnSave = new QPushButton("Save", this);
  btnSave->setObjectName("btnSave");
  btnSave->setGeometry(430, 768, 41, 25);
  btnSave->setAutoDefault(false);

  Pgroup = new QGroupBox("Primary fields - to be displayed", this);
  Pgroup->setObjectName("Pgroup");
  Pgroup->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; }"));
  Pgroup->setGeometry(8, 16, 249, 681);
  for (std::size_t i = 0; i < checkBoxes.size(); ++i) {
    checkBoxes[i] = new QCheckBox(kBoxes[i].caption, Pgroup);
    checkBoxes[i]->setObjectName(kBoxes[i].name);
    checkBoxes[i]->setGeometry(16, kBoxes[i].top, 97, kBoxHeight);
  }

  setTabOrder(btnExit, btnSave);
  setTabOrder(btnSave, checkBoxes[0]);
  for (std::size_t i = 1; i < checkBoxes.size(); ++i) setTabOrder(checkBoxes[i - 1], checkBoxes[i]);
}

void TConfigForm::btnExitClick() { close(); }

}  // namespace kalvrin
