// MainForm: layout, commands, settings at start and close. The surface the
// checks write into lives in form_surface.cpp, the busy state of a command
// in busy_state.cpp.
#include "app/main_form.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <limits>

#include "app/dialogs/about_form.h"
#include "app/busy_state.h"
#include "app/app_texts.h"
#include "app/dialogs/config_form.h"
#include "app/form_surface.h"
#include "app/dialogs/help_form.h"
#include "app/grid/grid_model.h"
#include "app/grid/grid_rows.h"
#include "app/grid/grid_tools.h"
#include "app/grid/card_number_mask.h"
#include "app/inspector/inspector.h"
#include "app/kalvrin_application.h"
#include "app/findings/verify_runner.h"
#include "app/version.h"
#include "app/widget_helpers.h"
#include "io/transaction_file.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "iso/result_grid.h"
#include "mac/key_install.h"
#include "mac/mac_command.h"

namespace kalvrin {

namespace {

// The client area without the status bar, at design size.
constexpr QSize kClientDesign(764, 399);
constexpr QSize kResultDesign(610, 345);
constexpr QSize kFormatPageDesign(586, 293);
constexpr int kStatusWidths[3] = {132, 132, 250};
constexpr int kRowHeight = 14;
constexpr int kColumnWidth = 32;
// The share of the grid's room the inspector takes when it first opens.
constexpr int kInspectorShare = 45;

const QColor kGreyText(128, 128, 128);
const QColor kBlack(0, 0, 0);
const QColor kVerdictRed(255, 0, 0);
const QColor kVerdictGreen(0, 128, 0);

std::string Bytes(const QString& text) { return text.toLatin1().toStdString(); }

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
QLineEdit* AddElidingEdit(QWidget* parent, const char* name, QRect geometry) {
  auto* edit = new ElidingEdit(parent);
  edit->setObjectName(name);
  edit->setGeometry(geometry);
  return edit;
}

QString Utf8(const char* text) { return QString::fromUtf8(text); }

void SetTextColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
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

TMainForm::TMainForm(const QString& executablePath, std::unique_ptr<UserDialogs> dialogs, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(std::move(dialogs)),
      gridModel_(std::make_unique<GridModel>()),
      gridRows_(std::make_unique<GridRowFilter>(*gridModel_)),
      executableStem_(QString::fromStdString(ExecutableStem(executablePath.toStdString()))),
      settingsPath_(ChooseSettingsPath(std::filesystem::path(QFile::encodeName(executablePath).toStdString()))) {
  setObjectName("MainForm");
  QFont font = this->font();
  font.setPointSize(8);
  setFont(font);

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
  gridTools_ = std::make_unique<GridTools>(*this, *gridModel_, *gridRows_);  // before the tab order: it moves the grid
  connect(gridTools_.get(), &GridTools::inspectRequested, this, [this](const QModelIndex& index) {
    inspectorClosed_ = false;
    Guarded([&] { InspectGridCell(index); });
  });
  Findings = new FindingsPage;
  pgResult->addTab(Findings, findings_text::kCaption);
  connect(Findings, &FindingsPage::findingActivated, this,
          [this](qint64 record, int element) { Guarded([&] { ShowFinding(record, element); }); });
  Verify = menuBar()->findChild<QMenu*>("Tool1")->addAction("Verify");
  Verify->setObjectName("Verify");
  connect(Verify, &QAction::triggered, this, &TMainForm::VerifyClick);
  cardNumberMask_ = new CardNumberMask(*menuBar()->findChild<QMenu*>("Tool1"), *gridModel_, *Inspector);
  setVerifyRunner(MakeVerifyRunner([this] { return cardNumberMask_ != nullptr && cardNumberMask_->on(); }));
  SetTabOrder();
  BuildShortcuts();

  FormSurface::Widgets widgets;
  widgets.window = this;
  widgets.grid = FormatGrid;
  widgets.statusBar = StatusBar;
  widgets.status = StatusPanels;
  widgets.progress = ProgressBar1;
  widgets.edits = edits_;
  surface_ = std::make_unique<FormSurface>(widgets, *gridModel_, macRunning_);
  // The grid as it stands until the format check lays out its columns.
  surface_->setGridColCount(5);
  surface_->setGridRowCount(2);
  surface_->setGridFixedRows(1);
  check_ = std::make_unique<FormatCheck>(*surface_);
  surface_->setFormatCheck(check_.get());
  FormCreate();
}

TMainForm::~TMainForm() {
  // The view goes with the window's children; the models and the check after it.
  if (FormatGrid != nullptr) FormatGrid->setModel(nullptr);
  gridTools_.reset();
}

void TMainForm::AttachDialogs(TAboutForm* about, TConfigForm* config) {
  about_ = about;
  config_ = config;
  gridTools_->attachConfig(config);
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
  txtCHECKKey = AddEdit(Keys, "txtCHECKKey", {8, 80, 113, 21}, 16);
  txtCHECKKey->setText(Latin1(kDefaultKey));
  labINKcv = AddLabel(Keys, "labINKcv", "Kcv", {8, 104});
  labINKcv->hide();
  txtCHECKKcv = AddEdit(Keys, "txtCHECKKcv", {8, 120, 57, 21}, 8);
  txtCHECKKcv->setText(Latin1(KcvEditText(kDefaultKey)));
  txtCHECKKcv->setEnabled(false);
  txtCHECKKcv->hide();
}

void TMainForm::BuildFile(QWidget* client) {
  File = AddGroup(client, "File", "MAC");
  File->setGeometry(8, 168, 129, 113);
  AddLabel(File, "labFileKcv", "Kcv", {8, 24});
  txtINFileKcv = AddEdit(File, "txtINFileKcv", {8, 40, 73, 21}, 8);
  AddLabel(File, "labMacVer", "V.", {88, 24});
  txtINFileMacVer = AddEdit(File, "txtINFileMacVer", {88, 40, 18, 21}, 2);
  AddLabel(File, "labMacMethod", "M.", {104, 24});
  txtINFileMacMeth = AddEdit(File, "txtINFileMacMeth", {104, 40, 17, 21}, 1);
  AddLabel(File, "labFileMac", "MAC", {8, 64});
  txtINFileMac = AddEdit(File, "txtINFileMac", {8, 80, 73, 21}, 8);
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

namespace {
// The part of a message a grid column shows: the MTI for the row's own
// columns, the bitmaps, or an element; for a column two elements share, the
// one the message holds (the later one when it holds both).
int PartOfColumn(int column, const DecodedMessage& message) {
  if (column == kPrimaryMapColumn) return kPrimaryMapPart;
  if (column == kSecondaryMapColumn) return kSecondaryMapPart;
  if (column == kFunctionCodeColumn) return kFunctionCodeElement;
  int part = kMtiPart;
  for (const DecodedElement& element : message.elements) {
    if (kElementColumns[static_cast<std::size_t>(element.number)] == column && column >= 0) part = element.number;
  }
  return part;
}
}  // namespace

void TMainForm::InspectGridCell(const QModelIndex& current) {
  if (!current.isValid()) return;
  const int row = gridRows_->gridRowOf(current.row());
  const std::int64_t offset = gridModel_->gridRowOffset(row);
  if (offset == kNoRowOffset || checkedPath_.empty()) {
    Inspector->clear();
    return;
  }
  // The grid's offsets point into the file as it was checked; another file
  // under the same name would be shown as if it were that one.
  if (FileIdentity::Of(checkedPath_) != checkedFile_) {
    Inspector->showFileChanged(row);
    return;
  }
  // Decoding happens here, for the one message selected, never during a run.
  if (Inspector->record() != row || Inspector->message().span.offset != offset) {
    Inspector->showMessage(checkedPath_, row, offset);
  }
  if (!Inspector->selectPart(PartOfColumn(current.column(), Inspector->message()))) Inspector->selectPart(kMtiPart);
  if (Inspector->isHidden() || (FormatSplitter->sizes().value(1) == 0 && !inspectorClosed_)) {
    Inspector->show();
    const int room = FormatSplitter->height();
    FormatSplitter->setSizes({room * (100 - kInspectorShare) / 100, room * kInspectorShare / 100});
  }
}

void TMainForm::BuildMacPage() {
  AddLabel(Mac, "labCalcMacBSize", "BlockSize", {8, 8});
  AddLabel(Mac, "labCalcMacBNum", "MacCalls", {64, 8});
  AddLabel(Mac, "labCalcMacFSize", "ByteCount", {152, 8});
  QFont bold = font();
  bold.setBold(true);
  for (const FigureRow& row : kFigureRows) {
    const Edit edits[3] = {row.blockSize, row.calls, row.bytes};
    const int lefts[3] = {8, 56, 152};
    const int widths[3] = {49, 97, 65};
    for (int i = 0; i < 3; ++i) {
      const std::string name(EditName(edits[i]));
      edits_[static_cast<int>(edits[i])] = AddElidingEdit(Mac, name.c_str(), {lefts[i], row.top, widths[i], 21});
    }
    AddLabel(Mac, row.labelName, row.label, {224, row.top})->setFont(bold);
  }
  for (std::size_t i = 0; i < std::size(kResultRows); ++i) {
    const ResultRow& row = kResultRows[i];
    const std::string name(EditName(row.edit));
    edits_[static_cast<int>(row.edit)] = AddElidingEdit(Mac, name.c_str(), {8, row.top, 73, 21});
    AddLabel(Mac, row.labelName, row.label, {96, row.top + 8});
    ResultMarks[i] = new QLabel(Mac);
    ResultMarks[i]->setObjectName(QStringLiteral("labMark%1").arg(i + 1));
    ResultMarks[i]->setGeometry(83, row.top + 2, 12, 17);
  }
  labVerdict = new QLabel(Mac);
  labVerdict->setObjectName("labVerdict");
  labVerdict->setGeometry(8, 214, 570, 17);
  labKcvVerdict = new QLabel(Mac);
  labKcvVerdict->setObjectName("labKcvVerdict");
  labKcvVerdict->setGeometry(8, 234, 570, 17);
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
  chain.push_back(bbtnCheckFormat);
  chain.push_back(btnConfig);
  for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
}

// Creation: version, grid set-up, Clear, the file edit, the settings.
void TMainForm::FormCreate() {
  VersionText = app_text::kVersionText;
  StartUpState(*check_, *surface_);
  surface_->flush();
  txtINFile->setText(executableStem_);
  IniFile ini;
  ini.Load(settingsPath_);
  ApplySettings(ReadSettings(ini));
  gridTools_->readSettings(ini);
  recentFiles_.read(ini);
  FillRecentFilesMenu();
  cardNumberMask_->readSettings(ini);
}

void TMainForm::ApplySettings(const WindowSettings& s) {
  move(s.left, s.top);
  resize(s.width, s.height);
  setWindowTitle(Latin1(s.caption));
  setWindowState(s.initMax ? Qt::WindowMaximized : Qt::WindowNoState);
  txtCHECKKey->setText(Latin1(s.key));
  txtCHECKKey->setCursorPosition(0);  // a key longer than the edit shows its start
}

// The window's bounds without the window manager's frame, which Qt only
// knows once the window is shown; what is written is what is applied.
WindowSettings TMainForm::CurrentSettings() const {
  WindowSettings s;
  s.top = pos().y();
  s.left = pos().x();
  s.height = height();
  s.width = width();
  s.caption = Bytes(windowTitle());
  s.initMax = isMaximized();
  s.key = Bytes(txtCHECKKey->text());
  return s;
}

// Caption with the version, then the settings; false keeps the window open.
bool TMainForm::FormClose() {
  setWindowTitle(app_text::kCaptionStem + VersionText);
  ++settingsWrites_;
  bool written = false;
  try {
    written = WriteSettingsFile(settingsPath_, CurrentSettings(), [this](IniFile& ini) {
      gridTools_->writeSettings(ini);
      recentFiles_.write(ini);  // a section of its own, after the window's entries
      cardNumberMask_->writeSettings(ini);
    });
  } catch (const std::exception&) {
    written = false;
  }
  if (written) return true;
  // A settings file that cannot be written must not keep the tool from closing.
  const QString path = QFile::decodeName(QByteArray::fromStdString(settingsPath_.string()));
  return dialogs_->closeWithoutSaving(this, app_text::kUnableToWrite + path);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (verifying_) {
    stopVerify_ = true;
    closeAfterRun_ = true;
    event->ignore();
    return;
  }
  if (check_->Running() || macRunning_) {
    // Inside the check's event pump: stop it, and close once it has returned.
    check_->RequestStop();
    stopMac_ = true;
    closeAfterRun_ = true;
    event->ignore();
    return;
  }
  if (!FormClose()) {
    event->ignore();
    return;
  }
  if (about_ != nullptr) about_->close();
  event->accept();
}

template <class Handler>
void TMainForm::Guarded(Handler&& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    dialogs_->showError(this, ErrorText(error));
  } catch (...) {
    dialogs_->showError(this, app_text::kUnknownError);
  }
}

void TMainForm::bbtnFileOpenClick() {
  Guarded([this] {
    // The dialog opens in the current file's folder when there is one.
    const QFileInfo current(txtINFile->text());
    const QString folder = !txtINFile->text().isEmpty() && current.absoluteDir().exists() ? current.absolutePath() : QString();
    txtINFile->setText(executableStem_);
    const std::optional<QString> chosen = dialogs_->chooseFile(this, folder.isEmpty() ? txtINFile->text() : folder);
    if (chosen) openDialogFileName_ = *chosen;
    txtINFile->setText(openDialogFileName_);
  });
}

void TMainForm::bbtnExitClick() { close(); }

void TMainForm::cmbShortNameChange() {
  txtCHECKKey->setEnabled(true);
  txtCHECKKcv->setEnabled(true);
}

void TMainForm::bbtnCheckFormatClick() {
  if (check_->Running() || macRunning_) return;  // only the disabled buttons stand between a check and a second one
  Guarded([this] {
    BusyState busy(CommandButtons(), *surface_, bbtnCheckFormat);
    NoteCommandFile(txtINFile->text());
    const QByteArray path = QFile::encodeName(txtINFile->text());
    Inspector->clear();
    checkedPath_ = path.toStdString();
    checkedFile_ = FileIdentity::Of(checkedPath_);
    IsoCommand(*check_, *surface_, std::string_view(path.constData(), static_cast<std::size_t>(path.size())));
  });
  if (EndStoppedCommand(app_text::kFormatStopped)) return;
  Guarded([this] { SelectBadPrefix(); });
}

// After a command that closing the window, Clear or Escape stopped: the
// close or the clear it waited for, and a word that the results are not a
// finished check. False when the command ran to its end.
bool TMainForm::EndStoppedCommand(const char* stoppedText) {
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    clearAfterRun_ = false;
    close();
    return true;
  }
  if (!clearAfterRun_) return false;
  clearAfterRun_ = false;
  bbtnClearClick();
  surface_->setStatus(kCommandPanel, stoppedText);
  surface_->flush();
  return true;
}

void TMainForm::bbtnCheckMacClick() {
  if (check_->Running() || macRunning_ || verifying_) return;
  QString keyKcv;
  Guarded([this, &keyKcv] {
    BusyState busy(CommandButtons(), *surface_, bbtnCheckMac);
    ClearVerdict();
    NoteCommandFile(txtINFile->text());
    const QByteArray path = QFile::encodeName(txtINFile->text());
    const std::string kcv = Bytes(txtCHECKKcv->text());
    const std::string key = Bytes(txtCHECKKey->text());
    std::array<char, 17> keyKcvText{};
    if (CreateKCV(keyKcvText.data(), key, 8) != 0) keyKcv = QString::fromLatin1(keyKcvText.data(), 8);
    macRunning_ = true;
    stopMac_ = false;
    struct Running {
      bool& running;
      ~Running() { running = false; }
    } running{macRunning_};
    MacOutcome outcome;
    MacCommand(*surface_, std::string_view(path.constData(), static_cast<std::size_t>(path.size())), kcv, key, outcome,
               &stopMac_);
  });
  if (EndStoppedCommand(app_text::kMacStopped)) return;
  Guarded([this, &keyKcv] {
    ShowVerdict(keyKcv);
    pgResult->setCurrentWidget(Mac);
  });
}

void TMainForm::VELDRUM1Click() {
  if (about_ == nullptr) return;
  about_->show();
  about_->raise();
  about_->activateWindow();
}

void TMainForm::bbtnClearClick() {
  if (check_->Running() || macRunning_) {
    // Inside the check's event pump: stop it first; the clear follows once
    // it has returned, so no result of it lands in the cleared window.
    check_->RequestStop();
    stopMac_ = true;
    clearAfterRun_ = true;
    return;
  }
  Guarded([this] {
    ClearCommand(*check_, *surface_);
    Inspector->clear();
    ClearVerdict();
    StatusReason->clear();
    for (QLabel* panel : StatusPanels) panel->setToolTip({});
    surface_->flush();
  });
}

void TMainForm::btnConfigClick() {
  if (config_ != nullptr) config_->exec();
}

void TMainForm::setVerifyRunner(VerifyRunner runner) {
  verifyRunner_ = std::move(runner);
  Verify->setEnabled(static_cast<bool>(verifyRunner_));
}

// Tool > Verify: the verify pass over the file in the file edit under the
// key in the key edit, busy and with progress as the format check is.
void TMainForm::VerifyClick() {
  if (check_->Running() || macRunning_ || verifying_ || !verifyRunner_) return;
  Guarded([this] {
    BusyState busy(CommandButtons(), *surface_, nullptr);
    verifying_ = true;
    stopVerify_ = false;
    const QByteArray path = QFile::encodeName(txtINFile->text());
    surface_->setStatus(2, findings_text::kVerifying);
    surface_->setProgressMin(0);
    surface_->setProgressPosition(0);
    const auto progress = [this](std::int64_t done, std::int64_t total) {
      // The bar counts bytes while they fit its range, thousandths beyond.
      const bool fits = total <= std::numeric_limits<int>::max();
      surface_->setProgressMax(fits ? static_cast<int>(total) : 1000);
      surface_->setProgressPosition(fits ? static_cast<int>(done) : static_cast<int>(done * 1000 / std::max<std::int64_t>(total, 1)));
      surface_->processEvents();
      return !stopVerify_;
    };
    const bool read = Findings->run(verifyRunner_, path.toStdString(), Bytes(txtCHECKKey->text()), progress);
    verifying_ = false;
    surface_->setStatus(2, read ? findings_text::kVerified : findings_text::kVerifyFailed);
    pgResult->setCurrentWidget(Findings);
  });
  verifying_ = false;
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void TMainForm::ShowFinding(std::int64_t record, int element) {
  if (record <= 0) return;
  const bool gridHoldsFile = gridModel_->gridRowOffset(1) != kNoRowOffset && checkedPath_ == Findings->path();
  if (!gridHoldsFile) {
    txtINFile->setText(QFile::decodeName(QByteArray::fromStdString(Findings->path())));
    bbtnCheckFormatClick();
  }
  if (record >= gridModel_->gridRowCount()) {
    // The format check stops at a bad length prefix; verify reads on.
    Findings->showNote(QString(findings_text::kPastTheGrid).arg(record));
    return;
  }
  const QModelIndex index = gridTools_->reveal(static_cast<int>(record), element);
  if (!index.isValid()) return;
  pgResult->setCurrentWidget(Format);
  inspectorClosed_ = false;
  InspectGridCell(index);
  if (element != kNoFindingElement) Inspector->selectPart(element);
}

void TMainForm::HelpClick() {
  if (Help == nullptr) Help = new HelpForm(this);
  Help->show();
  Help->raise();
  Help->activateWindow();
}

void TMainForm::BuildShortcuts() {
  setAcceptDrops(true);
  txtINFile->setAcceptDrops(false);  // a file dropped on the edit is the window's drop
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(escape, &QShortcut::activated, this, [this] {
    if (check_->Running() || macRunning_) bbtnClearClick();
  });
  auto* open = new QShortcut(QKeySequence::Open, this);
  connect(open, &QShortcut::activated, this, [this] {
    if (bbtnFileOpen->isEnabled()) bbtnFileOpenClick();
  });
  connect(txtINFile, &QLineEdit::returnPressed, this, [this] {
    if (bbtnCheckFormat->isEnabled()) bbtnCheckFormatClick();
  });
}

namespace {
QString DroppedFile(const QMimeData* data) {
  if (data == nullptr || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) return url.toLocalFile();
  }
  return {};
}
}  // namespace

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
  if (!DroppedFile(event->mimeData()).isEmpty() && bbtnFileOpen->isEnabled()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
  const QString file = DroppedFile(event->mimeData());
  if (file.isEmpty() || !bbtnFileOpen->isEnabled()) return;
  txtINFile->setText(QDir::toNativeSeparators(file));
  event->acceptProposedAction();
}

void TMainForm::SelectBadPrefix() {
  const std::int64_t error = check_->ErrorOffset();
  if (error < 0) return;
  const int fixed = gridModel_->gridFixedRows();
  for (int row = gridRowCount() - 1; row >= fixed; --row) {
    const std::int64_t offset = gridRowOffset(row);
    if (offset == kNoRowOffset || offset > error) continue;
    QAbstractItemModel* model = FormatGrid->model();
    FormatGrid->setCurrentIndex(model->index(row - fixed, 0));  // the inspector decodes the message
    const DecodedMessage& message = Inspector->message();
    if (message.stop != DecodeStop::BadPrefix || message.elements.empty()) return;
    const int element = message.elements.back().number;
    const int column = kElementColumns[static_cast<std::size_t>(element)];
    if (column > 0) FormatGrid->setCurrentIndex(model->index(row - fixed, column));
    Inspector->selectPart(element);
    FormatGrid->scrollTo(FormatGrid->currentIndex());
    return;
  }
}

void TMainForm::ShowVerdict(const QString& keyKcv) {
  const QString match = Utf8(app_text::kMatchMark);
  const QString mismatch = Utf8(app_text::kMismatchMark);
  const QString declared = txtINFileMac->text();
  QStringList matching;
  int computed = 0;
  for (std::size_t i = 0; i < std::size(kMacResultEdits); ++i) {
    const QString result = edit(kMacResultEdits[i])->text();
    if (result.isEmpty()) {
      ResultMarks[i]->clear();
      continue;
    }
    ++computed;
    const bool same = result == declared;
    ResultMarks[i]->setText(same ? match : mismatch);
    SetTextColour(ResultMarks[i], same ? kVerdictGreen : kVerdictRed);
    if (same) matching << QString::fromLatin1(kFigureRows[i].label);
  }
  if (computed == 0) {
    QStringList said;
    for (int panel : {2, 1}) {
      const QString text = StatusPanels[static_cast<std::size_t>(panel)]->text();
      if (!text.isEmpty()) said << text;
    }
    labVerdict->setText(Utf8(app_text::kVerdictNoMac).arg(mismatch, said.join(QStringLiteral(", "))));
    SetTextColour(labVerdict, kVerdictRed);
  } else if (matching.isEmpty()) {
    labVerdict->setText(Utf8(app_text::kVerdictNoMatch).arg(mismatch, declared));
    SetTextColour(labVerdict, kVerdictRed);
  } else {
    QString names = matching.front();
    for (qsizetype i = 1; i < matching.size(); ++i) {
      names += (i + 1 == matching.size() ? QStringLiteral(" and ") : QStringLiteral(", ")) + matching[i];
    }
    names += matching.size() == 1 ? QStringLiteral(" equals") : QStringLiteral(" equal");
    labVerdict->setText(Utf8(app_text::kVerdictMatch).arg(match, names, declared));
    SetTextColour(labVerdict, kVerdictGreen);
  }

  const QString fileKcv = txtINFileKcv->text();
  if (keyKcv.isEmpty()) {
    labKcvVerdict->setText(Utf8(app_text::kKcvNone).arg(mismatch));
    SetTextColour(labKcvVerdict, kVerdictRed);
  } else if (fileKcv.isEmpty()) {
    labKcvVerdict->setText(Utf8(app_text::kKcvNotDeclared).arg(keyKcv));
    SetTextColour(labKcvVerdict, kBlack);
  } else if (fileKcv.compare(keyKcv, Qt::CaseInsensitive) == 0) {
    labKcvVerdict->setText(Utf8(app_text::kKcvSame).arg(match, keyKcv));
    SetTextColour(labKcvVerdict, kVerdictGreen);
  } else {
    labKcvVerdict->setText(Utf8(app_text::kKcvDiffers).arg(mismatch, keyKcv, fileKcv));
    SetTextColour(labKcvVerdict, kVerdictRed);
  }
}

void TMainForm::ClearVerdict() {
  for (QLabel* mark : ResultMarks) mark->clear();
  labVerdict->clear();
  labKcvVerdict->clear();
}

void TMainForm::NoteCommandFile(const QString& file) {
  QString reason;
  const QByteArray path = QFile::encodeName(file);
  if (path.isEmpty()) {
    reason = Utf8(app_text::kNoFileNamed);
  } else {
    reason = QString::fromLocal8Bit(OpenFailureReason(path.toStdString()));
  }
  const QString said = reason.isEmpty() ? QString() : file.isEmpty() ? reason : file + QStringLiteral(": ") + reason;
  StatusReason->setText(said);
  for (QLabel* panel : StatusPanels) panel->setToolTip(said);
  if (!reason.isEmpty()) return;
  recentFiles_.add(QFileInfo(file).absoluteFilePath());
  FillRecentFilesMenu();
}

void TMainForm::FillRecentFilesMenu() {
  RecentFilesMenu->clear();
  for (const QString& file : recentFiles_.files()) {
    QAction* action = RecentFilesMenu->addAction(file);
    connect(action, &QAction::triggered, this, [this, file] {
      if (bbtnFileOpen->isEnabled()) txtINFile->setText(file);
    });
  }
  RecentFilesMenu->setEnabled(!recentFiles_.files().isEmpty());
}

std::array<QPushButton*, 4> TMainForm::CommandButtons() const {
  return {bbtnFileOpen, bbtnCheckFormat, bbtnCheckMac, bbtnExit};
}

const RowStore& TMainForm::gridRows() const { return gridModel_->rows(); }
int TMainForm::gridRowCount() const { return surface_->gridRowCount(); }
int TMainForm::gridColCount() const { return surface_->gridColCount(); }
std::string TMainForm::gridCell(int col, int row) const { return surface_->gridCell(col, row); }
std::int64_t TMainForm::gridRowOffset(int row) const { return surface_->gridRowOffset(row); }
void TMainForm::setEventPumpInterval(int milliseconds) { surface_->setEventPumpInterval(milliseconds); }
long long TMainForm::eventPumps() const { return surface_->eventPumps(); }
qint64 TMainForm::longestPumpGap() const { return surface_->longestPumpGap(); }
long long TMainForm::gridPumps() const { return surface_->gridPumps(); }

}  // namespace kalvrin
