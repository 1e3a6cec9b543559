// MainForm's layout: every widget at its design place, the anchors that
// let it follow the window, the menus and the tab order. What the widgets
// do lives in main_form.cpp.
#include "app/main_form.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <string>
#include <vector>

#include "mac/key_install.h"
#include "mac/mac_envelope.h"

#include "app/app_texts.h"
#include "app/grid/grid_rows.h"
#include "app/inspector/inspector.h"
#include "app/widget_helpers.h"
#include "mac/key_install.h"

namespace kalvrin {

namespace {

// The client area without the status bar, at design size.
constexpr QSize kClientDesign(764, 399);
constexpr QSize kResultDesign(610, 345);
constexpr QSize kFormatPageDesign(586, 293);
constexpr int kStatusWidths[3] = {132, 132, 250};
constexpr int kRowHeight = 14;
constexpr int kColumnWidth = 32;
// A single-length key has 16 hex digits, a double-length one 32; what the
// MAC check makes of a key is the key installation's to say.
constexpr int kSingleKeyDigits = 16;
constexpr int kKeyDigitsTyped = 2 * kSingleKeyDigits;
// The MAC page's widest figures as a file of 1 TiB gives them: MACALL's
// calls, and a byte count.
constexpr char kWidestCalls[] = "2147483647*512+512";
constexpr char kWidestByteCount[] = "1099511627776";

const QColor kGreyText(128, 128, 128);

QLabel* AddLabel(QWidget* parent, const char* name, const QString& text, QPoint at) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->adjustSize();
  label->move(at);
  return label;
}

QLineEdit* AddEdit(QWidget* parent, const char* name, QRect geometry, int typingLimit = 0) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(geometry);
  if (typingLimit > 0) edit->setValidator(new TypingLimit(edit, typingLimit));
  return edit;
}

// The Mac page's edits: figures up to a 64-bit count must stay readable in
// their narrow design widths.
ElidingEdit* AddElidingEdit(QWidget* parent, const char* name, QRect geometry) {
  auto* edit = new ElidingEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(geometry);
  return edit;
}

QPushButton* AddButton(QWidget* parent, const char* name, const char* caption) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  return button;
}

QGroupBox* AddGroup(QWidget* parent, const char* name, const char* caption) {
  auto* group = new QGroupBox(caption, parent);
  group->setObjectName(name);
  group->setStyleSheet(QStringLiteral("QGroupBox { font-weight: bold; }"));  // the caption only
  return group;
}

// The Mac page's figure edits: MACALL, MACNHD and MACNSP rows.
struct FigureRow {
  Edit blockSize, calls, bytes;
  int top;
  const char* label;
  const char* labelName;
};
constexpr FigureRow kFigureRows[] = {
    {Edit::CalcMac1BSize, Edit::CalcMac1BNum, Edit::CalcMac1FSize, 24, "MACALL", "labMA"},
    {Edit::CalcMac2BSize, Edit::CalcMac2BNum, Edit::CalcMac2FSize, 48, "MACNHD", "labNH"},
    {Edit::CalcMac3BSize, Edit::CalcMac3BNum, Edit::CalcMac3FSize, 72, "MACNSP", "labNS"},
};

struct ResultRow {
  Edit edit;
  int top;
  const char* labelName;
  const char* label;
};
constexpr ResultRow kResultRows[] = {
    {Edit::CalcMacAll, 136, "labCalcMac1", "MACALL:   All file records/bytes included. "},
    {Edit::CalcMacNHD, 160, "labCalcMac2", "MACNHD: No MAC header/trailer records included. No CR/LF"},
    {Edit::CalcMacNSP, 184, "labCalcMac3",
     "MACNSP:  No MAC header/trailer records included. No CR/LF. No padded space included. "},
};

// The Mac page's tab order.
constexpr Edit kMacTabOrder[] = {Edit::CalcMacAll,    Edit::CalcMacNHD,    Edit::CalcMacNSP,
                                 Edit::CalcMac1FSize, Edit::CalcMac1BNum,  Edit::CalcMac1BSize,
                                 Edit::CalcMac2BSize, Edit::CalcMac2BNum,  Edit::CalcMac2FSize,
                                 Edit::CalcMac3BSize, Edit::CalcMac3BNum,  Edit::CalcMac3FSize};

}  // namespace

void TMainForm::BuildLayout() {
  auto* client = new QWidget(this);
  client->setObjectName("client");
  client->resize(kClientDesign);
  setCentralWidget(client);
  BuildKeys(client);
  BuildFile(client);
  BuildResult(client);
  BuildCommands(client);
  BuildStatusBar();
  BuildMenu();
}

void TMainForm::BuildKeys(QWidget* client) {
  Keys = AddGroup(client, "Keys", "Params ");
  Keys->setGeometry(8, 8, 129, 153);
  labShortName = AddLabel(Keys, "labShortName", "ShortName", {8, 24});
  cmbShortName = new QComboBox(Keys);
  cmbShortName->setObjectName("cmbShortName");
  cmbShortName->setEditable(true);
  cmbShortName->setGeometry(8, 40, 113, 21);
  cmbShortName->setEditText("testkey");
  connect(cmbShortName, &QComboBox::editTextChanged, this, &TMainForm::cmbShortNameChange);
  labINKey = AddLabel(Keys, "labINKey", "Key", {8, 64});
  txtCHECKKey = new KeyEdit(Keys, kSingleKeyDigits);
  txtCHECKKey->setObjectName("txtCHECKKey");
  txtCHECKKey->setGeometry(8, 80, 113, 21);
  txtCHECKKey->setValidator(new TypingLimit(txtCHECKKey, kKeyDigitsTyped));
  txtCHECKKey->setText(Latin1(kDefaultKey));
  labINKcv = AddLabel(Keys, "labINKcv", "Kcv", {8, 104});
  labINKcv->hide();
  txtCHECKKcv = AddEdit(Keys, "txtCHECKKcv", {8, 120, 57, 21}, static_cast<int>(kKcvDigits));
  txtCHECKKcv->setText(Latin1(KcvEditText(kDefaultKey)));
  txtCHECKKcv->setEnabled(false);
  txtCHECKKcv->hide();
}

void TMainForm::BuildFile(QWidget* client) {
  File = AddGroup(client, "File", "MAC");
  File->setGeometry(8, 168, 129, 113);
  AddLabel(File, "labFileKcv", "Kcv", {8, 24});
  txtINFileKcv = AddEdit(File, "txtINFileKcv", {8, 40, 73, 21}, static_cast<int>(kKcvDigits));
  AddLabel(File, "labMacVer", "V.", {88, 24});
  txtINFileMacVer = AddEdit(File, "txtINFileMacVer", {88, 40, 18, 21}, 2);
  AddLabel(File, "labMacMethod", "M.", {104, 24});
  txtINFileMacMeth = AddEdit(File, "txtINFileMacMeth", {104, 40, 17, 21}, 1);
  AddLabel(File, "labFileMac", "MAC", {8, 64});
  txtINFileMac = AddEdit(File, "txtINFileMac", {8, 80, 73, 21}, static_cast<int>(kMacDigits));
  txtINFileKcv->setFont(FixedPitchFont(font()));
  txtINFileMac->setFont(FixedPitchFont(font()));
  edits_[static_cast<int>(Edit::INFileKcv)] = txtINFileKcv;
  edits_[static_cast<int>(Edit::INFileMacVer)] = txtINFileMacVer;
  edits_[static_cast<int>(Edit::INFileMacMeth)] = txtINFileMacMeth;
  edits_[static_cast<int>(Edit::INFileMac)] = txtINFileMac;
}

void TMainForm::BuildResult(QWidget* client) {
  Result = AddGroup(client, "Result", "Result");
  auto* resultAnchors = new AnchorLayout(Result, kResultDesign);
  pgResult = new QTabWidget(Result);
  pgResult->setObjectName("pgResult");
  pgResult->setTabPosition(QTabWidget::South);
  pgResult->setUsesScrollButtons(false);  // tabs wrap rather than scroll
  resultAnchors->place(pgResult, {8, 16, 594, 321}, kAnchorAll);

  Format = new QWidget;
  Format->setObjectName("Format");
  Format->resize(kFormatPageDesign);
  pgResult->addTab(Format, "ISO8583");
  // The grid fills the splitter alone until the inspector first opens.
  FormatSplitter = new QSplitter(Qt::Vertical, Format);
  FormatSplitter->setObjectName("FormatSplitter");
  FormatSplitter->setChildrenCollapsible(true);
  FormatGrid = new QTableView(FormatSplitter);
  FormatGrid->setObjectName("FormatGrid");
  FormatGrid->setModel(gridRows_.get());
  FormatGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
  FormatGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
  FormatGrid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
  FormatGrid->setTabKeyNavigation(true);
  FormatGrid->setWordWrap(false);
  FormatGrid->setShowGrid(true);
  FormatGrid->verticalHeader()->hide();
  FormatGrid->verticalHeader()->setMinimumSectionSize(1);
  FormatGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  FormatGrid->verticalHeader()->setDefaultSectionSize(std::max(kRowHeight, fontMetrics().height() + 2));
  FormatGrid->horizontalHeader()->setMinimumSectionSize(1);
  FormatGrid->horizontalHeader()->setDefaultSectionSize(kColumnWidth);
  FormatGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  FormatGrid->horizontalHeader()->setHighlightSections(false);
  FormatGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  (new AnchorLayout(Format, kFormatPageDesign))->place(FormatSplitter, {8, 8, 570, 273}, kAnchorAll);
  BuildInspector();

  Mac = new QWidget;
  Mac->setObjectName("Mac");
  pgResult->addTab(Mac, "DES- SMAC");
  pgResult->setCurrentIndex(0);
  BuildMacPage();
  (new AnchorLayout(client, kClientDesign))->place(Result, {144, 8, 610, 345}, kAnchorAll);
}

void TMainForm::BuildInspector() {
  Inspector = new MessageInspector(FormatSplitter);
  FormatSplitter->addWidget(Inspector);
  FormatSplitter->setCollapsible(0, false);
  FormatSplitter->setStretchFactor(0, 1);
  FormatSplitter->setStretchFactor(1, 1);
  Inspector->hide();
  connect(FormatGrid->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this](const QModelIndex& current) { Guarded([&] { InspectGridCell(current); }); });
  connect(FormatSplitter, &QSplitter::splitterMoved, this,
          [this] { inspectorClosed_ = FormatSplitter->sizes().value(1) == 0; });
}

void TMainForm::BuildMacPage() {
  const QLabel* blockSizeTitle = AddLabel(Mac, "labCalcMacBSize", "BlockSize", {8, 8});
  // In a larger font the first title is wider than its edit: the next keeps clear of it.
  AddLabel(Mac, "labCalcMacBNum", "MacCalls", {std::max(64, blockSizeTitle->geometry().right() + 6), 8});
  AddLabel(Mac, "labCalcMacFSize", "ByteCount", {152, 8});
  QFont bold = font();
  bold.setBold(true);
  // The calls and byte count edits start at their design widths and widen
  // to show a large file's figures whole; what stands right of them moves over.
  QLabel* bytesTitle = Mac->findChild<QLabel*>("labCalcMacFSize");
  for (const FigureRow& row : kFigureRows) {
    const Edit edits[3] = {row.blockSize, row.calls, row.bytes};
    const int designWidths[3] = {49, 97, 65};
    const char* widest[3] = {"", kWidestCalls, kWidestByteCount};
    int left = 8;
    for (int i = 0; i < 3; ++i) {
      const std::string name(EditName(edits[i]));
      auto* figure = AddElidingEdit(Mac, name.c_str(), {left, row.top, designWidths[i], 21});
      figure->resize(std::max(designWidths[i], figure->widthToShow(QString::fromLatin1(widest[i]))), 21);
      edits_[static_cast<int>(edits[i])] = figure;
      if (i == 2) bytesTitle->move(left, bytesTitle->y());
      left += figure->width() - 1;  // neighbours share a border
    }
    AddLabel(Mac, row.labelName, row.label, {left + 8, row.top})->setFont(bold);
  }
  int textBottom = 0;
  for (std::size_t i = 0; i < std::size(kResultRows); ++i) {
    const ResultRow& row = kResultRows[i];
    const std::string name(EditName(row.edit));
    edits_[static_cast<int>(row.edit)] = AddElidingEdit(Mac, name.c_str(), {8, row.top, 73, 21});
    edits_[static_cast<int>(row.edit)]->setFont(FixedPitchFont(font()));
    QLabel* said = AddLabel(Mac, row.labelName, row.label, {96, row.top + 8});
    // In a larger font the longest description wraps rather than runs off the page.
    const int room = kFormatPageDesign.width() - said->x() - 8;
    if (said->width() > room) {
      said->setWordWrap(true);
      said->resize(room, said->heightForWidth(room));
    }
    textBottom = std::max(textBottom, said->geometry().bottom());
    ResultMarks[i] = new QLabel(Mac);
    ResultMarks[i]->setObjectName(QStringLiteral("labMark%1").arg(i + 1));
    ResultMarks[i]->setGeometry(83, row.top + 2, 12, 17);
  }
  const int verdictTop = std::max(214, textBottom + 6);
  labVerdict = new QLabel(Mac);
  labVerdict->setObjectName("labVerdict");
  labVerdict->setGeometry(8, verdictTop, 570, 17);
  labKcvVerdict = new QLabel(Mac);
  labKcvVerdict->setObjectName("labKcvVerdict");
  labKcvVerdict->setGeometry(8, verdictTop + 20, 570, 17);
  ExplainButton = AddButton(Mac, "ExplainButton", app_text::kExplainButton);
  ExplainButton->setGeometry(8, verdictTop + 40, std::max(60, ExplainButton->sizeHint().width()), 25);
  ExplainButton->hide();  // until a verdict it can explain
  ExplainButton->setEnabled(false);
  connect(ExplainButton, &QPushButton::clicked, this, &TMainForm::ExplainClick);
  txtCalcMacAll = edit(Edit::CalcMacAll);
  txtCalcMacNHD = edit(Edit::CalcMacNHD);
  txtCalcMacNSP = edit(Edit::CalcMacNSP);
  labCalcMac1 = Mac->findChild<QLabel*>("labCalcMac1");
  labCalcMac2 = Mac->findChild<QLabel*>("labCalcMac2");
  labCalcMac3 = Mac->findChild<QLabel*>("labCalcMac3");
}

void TMainForm::BuildCommands(QWidget* client) {
  auto* anchors = new AnchorLayout(client, kClientDesign);
  struct Placed {
    QPushButton** button;
    const char* name;
    const char* caption;
    QPoint at;
  };
  const Placed buttons[] = {
      {&bbtnCheckMac, "bbtnCheckMac", "MAC", {8, 332}},   {&bbtnClear, "bbtnClear", "Clear", {41, 332}},
      {&btnConfig, "btnConfig", "Set", {75, 332}},        {&bbtnCheckFormat, "bbtnCheckFormat", "ISO", {8, 358}},
      {&bbtnExit, "bbtnExit", "Exit", {41, 358}},         {&bbtnFileOpen, "bbtnFileOpen", "Open", {75, 358}},
  };
  for (const Placed& placed : buttons) {
    *placed.button = AddButton(client, placed.name, placed.caption);
    anchors->place(*placed.button, {placed.at, QSize(33, 25)}, kAnchorLeftBottom);
  }
  btnConfig->hide();
  connect(bbtnCheckMac, &QPushButton::clicked, this, &TMainForm::bbtnCheckMacClick);
  connect(bbtnClear, &QPushButton::clicked, this, &TMainForm::bbtnClearClick);
  connect(btnConfig, &QPushButton::clicked, this, &TMainForm::btnConfigClick);
  connect(bbtnCheckFormat, &QPushButton::clicked, this, &TMainForm::bbtnCheckFormatClick);
  connect(bbtnExit, &QPushButton::clicked, this, &TMainForm::bbtnExitClick);
  connect(bbtnFileOpen, &QPushButton::clicked, this, &TMainForm::bbtnFileOpenClick);

  txtINFile = AddEdit(client, "txtINFile", {});
  QPalette grey = txtINFile->palette();
  grey.setColor(QPalette::Text, kGreyText);
  txtINFile->setPalette(grey);
  anchors->place(txtINFile, {144, 361, 610, 21}, kAnchorLeftRightBottom);

  ProgressBar1 = new QProgressBar(client);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);
  anchors->place(ProgressBar1, {8, 388, 744, 9}, kAnchorLeftRightBottom);
}

void TMainForm::BuildStatusBar() {
  StatusBar = new QStatusBar(this);
  StatusBar->setObjectName("StatusBar");
  for (int panel = 0; panel < 3; ++panel) {
    auto* label = new QLabel(StatusBar);
    label->setObjectName(QStringLiteral("StatusPanel%1").arg(panel));
    label->setFixedWidth(kStatusWidths[panel]);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusBar->addWidget(label);
    StatusPanels[static_cast<std::size_t>(panel)] = label;
  }
  StatusReason = new QLabel(StatusBar);
  StatusReason->setObjectName("StatusReason");
  StatusBar->addWidget(StatusReason, 1);
  setStatusBar(StatusBar);
}

void TMainForm::BuildMenu() {
  QMenuBar* bar = menuBar();
  bar->setObjectName("MainMenu1");
  QMenu* config = bar->addMenu("Config");
  config->setObjectName("Config");
  ISO85831 = config->addAction("ISO8583");
  ISO85831->setObjectName("ISO85831");
  QMenu* tool = bar->addMenu("Tool");
  tool->setObjectName("Tool1");
  SaveShortName = tool->addAction("Save keys");
  SaveShortName->setObjectName("SaveShortName");
  RecentFilesMenu = tool->addMenu(app_text::kRecentFilesMenu);
  RecentFilesMenu->setObjectName("RecentFiles");
  RecentFilesMenu->setEnabled(false);
  QMenu* about = bar->addMenu("About");
  about->setObjectName("About1");
  VELDRUM1 = about->addAction("KALVRIN");
  VELDRUM1->setObjectName("VELDRUM1");
  connect(VELDRUM1, &QAction::triggered, this, &TMainForm::VELDRUM1Click);
  HelpAction = about->addAction(app_text::kHelpItem);
  HelpAction->setObjectName("HelpAction");
  HelpAction->setShortcut(QKeySequence::HelpContents);
  HelpAction->setShortcutContext(Qt::WindowShortcut);
  connect(HelpAction, &QAction::triggered, this, &TMainForm::HelpClick);
}

void TMainForm::SetTabOrder() {
  std::vector<QWidget*> chain = {txtCHECKKey, txtCHECKKcv,     cmbShortName,     txtINFileKcv,
                                 txtINFileMac, txtINFileMacVer, txtINFileMacMeth, txtINFile,
                                 bbtnFileOpen, bbtnClear,       bbtnExit,         bbtnCheckMac,
                                 pgResult,     FormatGrid,      Inspector->ElementGrid, Inspector->HexView};
  for (Edit which : kMacTabOrder) chain.push_back(edit(which));
  chain.push_back(ExplainButton);
  chain.push_back(bbtnCheckFormat);
  chain.push_back(btnConfig);
  for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

}  // namespace kalvrin
