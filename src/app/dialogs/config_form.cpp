// The configuration dialog.
#include "app/dialogs/config_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPushButton>

#include "app/app_texts.h"
#include "iso/element_table.h"

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
constexpr int kBoxStep = 16;
constexpr int kColumnOfP2 = 5;  // "P2 - Sec.map", "P3", "P4" stand for the grid's columns of those elements
constexpr char kNoColumn[] = "Element 5 has no column in the grid";

// A primary element's column: 2 to 63, shown as "P...".
bool PrimaryColumn(int column) {
  const int element = kGridColumns[static_cast<std::size_t>(column)].element;
  return element >= 2 && element <= 63;
}
bool SecondaryColumn(int column) { return kGridColumns[static_cast<std::size_t>(column)].element > 64; }
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

  // The design's first three boxes choose their elements' columns; the three
  // that read "P5" name an element the grid has no column for.
  for (std::size_t i = 0; i < 3; ++i) columnBoxes[kColumnOfP2 + i] = checkBoxes[i];
  for (std::size_t i = 3; i < checkBoxes.size(); ++i) {
    checkBoxes[i]->setEnabled(false);
    checkBoxes[i]->setToolTip(kNoColumn);
  }
  // The other primary columns below them, then the secondary fields and the
  // message's own columns in groups of their own beside.
  Sgroup = new QGroupBox("Secondary fields - to be displayed", this);
  Sgroup->setObjectName("Sgroup");
  Mgroup = new QGroupBox("Message - to be displayed", this);
  Mgroup->setObjectName("Mgroup");
  for (QGroupBox* group : {Sgroup, Mgroup}) group->setStyleSheet(Pgroup->styleSheet());
  int primaryTop = kBoxes[std::size(kBoxes) - 1].top + kBoxStep;
  int secondaryTop = 24;
  int messageTop = 24;
  for (int column = 0; column < kGridColumnCount; ++column) {
    if (columnBoxes[static_cast<std::size_t>(column)] != nullptr) continue;
    QGroupBox* group = PrimaryColumn(column) ? Pgroup : SecondaryColumn(column) ? Sgroup : Mgroup;
    int& top = group == Pgroup ? primaryTop : group == Sgroup ? secondaryTop : messageTop;
    auto* box = new QCheckBox(QString::fromLatin1(kGridColumns[static_cast<std::size_t>(column)].title.data(),
                                                  static_cast<qsizetype>(kGridColumns[static_cast<std::size_t>(column)].title.size())),
                              group);
    box->setObjectName(QStringLiteral("Column%1").arg(column));
    box->setGeometry(16, top, 217, kBoxHeight);
    top += kBoxStep;
    columnBoxes[static_cast<std::size_t>(column)] = box;
  }
  Sgroup->setGeometry(264, 16, 249, secondaryTop + 8);
  Mgroup->setGeometry(264, 16 + secondaryTop + 16, 249, messageTop + 8);
  for (int column = 0; column < kGridColumnCount; ++column) {
    QCheckBox* box = columnBoxes[static_cast<std::size_t>(column)];
    box->setChecked(true);
    connect(box, &QCheckBox::toggled, this, [this, column](bool on) { emit columnChosen(column, on); });
  }

  setTabOrder(btnExit, btnSave);
  setTabOrder(btnSave, checkBoxes[0]);
  for (std::size_t i = 1; i < checkBoxes.size(); ++i) setTabOrder(checkBoxes[i - 1], checkBoxes[i]);
}

void TConfigForm::showColumnChoice(const std::function<bool(int column)>& shown) {
  for (int column = 0; column < kGridColumnCount; ++column) {
    QCheckBox* box = columnBoxes[static_cast<std::size_t>(column)];
    const QSignalBlocker quiet(box);
    box->setChecked(shown(column));
  }
}

void TConfigForm::btnExitClick() { close(); }

}  // namespace kalvrin
