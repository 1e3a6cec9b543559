// MainForm: layout, commands, settings at start and close, and the window
// surface with its coalesced updates.
#include "app/main_form.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "app/about_form.h"
#include "app/app_texts.h"
#include "app/config_form.h"
#include "app/grid_model.h"
#include "app/inspector.h"
#include "app/version.h"
#include "app/widget_helpers.h"
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

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kGreyText(128, 128, 128);

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

// The busy state of a command: busy cursor, then Open, ISO, MAC and Exit
// disabled in that order; undone in the same order whatever the command did.
class BusyState {
 public:
  explicit BusyState(TMainForm& form) : form_(form) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    for (QPushButton* button : Buttons()) button->setEnabled(false);
    form_.StartPumpClock();
  }
  ~BusyState() {
    form_.longestGap_ = std::max(form_.longestGap_, form_.pumpClock_.elapsed());
    form_.FlushSurface();
    for (QPushButton* button : Buttons()) button->setEnabled(true);
    QApplication::restoreOverrideCursor();
  }
  BusyState(const BusyState&) = delete;
  BusyState& operator=(const BusyState&) = delete;

 private:
  std::array<QPushButton*, 4> Buttons() const {
    return {form_.bbtnFileOpen, form_.bbtnCheckFormat, form_.bbtnCheckMac, form_.bbtnExit};
  }
  TMainForm& form_;
};

TMainForm::TMainForm(const QString& executablePath, std::unique_ptr<UserDialogs> dialogs, QWidget* parent)
    : QMainWindow(parent),
      dialogs_(std::move(dialogs)),
      gridModel_(std::make_unique<GridModel>()),
      executableStem_(QString::fromStdString(ExecutableStem(executablePath.toStdString()))),
      settingsPath_(SettingsPathFor(std::filesystem::path(QFile::encodeName(executablePath).toStdString()))) {
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
  SetTabOrder();

  check_ = std::make_unique<FormatCheck>(*this);
  pumpClock_.start();
  FormCreate();
}

TMainForm::~TMainForm() {
  // The view goes with the window's children; the model and the check after it.
  if (FormatGrid != nullptr) FormatGrid->setModel(nullptr);
}

void TMainForm::AttachDialogs(TAboutForm* about, TConfigForm* config) {
  about_ = about;
  config_ = config;
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
  FormatGrid->setModel(gridModel_.get());
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
  // The grid as it stands until the format check lays out its columns.
  setGridColCount(5);
  setGridRowCount(2);
  setGridFixedRows(1);

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
  const int row = current.row() + gridModel_->gridFixedRows();
  const std::int64_t offset = gridModel_->gridRowOffset(row);
  if (offset == kNoRowOffset || checkedPath_.empty()) {
    Inspector->clear();
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
      edits_[static_cast<int>(edits[i])] = AddEdit(Mac, name.c_str(), {lefts[i], row.top, widths[i], 21});
    }
    AddLabel(Mac, row.labelName, row.label, {224, row.top})->setFont(bold);
  }
  for (const ResultRow& row : kResultRows) {
    const std::string name(EditName(row.edit));
    edits_[static_cast<int>(row.edit)] = AddEdit(Mac, name.c_str(), {8, row.top, 73, 21});
    AddLabel(Mac, row.labelName, row.label, {96, row.top + 8});
  }
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
  QMenu* about = bar->addMenu("About");
  about->setObjectName("About1");
  VELDRUM1 = about->addAction("KALVRIN");
  VELDRUM1->setObjectName("VELDRUM1");
  connect(VELDRUM1, &QAction::triggered, this, &TMainForm::VELDRUM1Click);
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
  StartUpState(*check_, *this);
  FlushSurface();
  txtINFile->setText(executableStem_);
  ApplySettings(ReadSettingsFile(settingsPath_));
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
    written = WriteSettingsFile(settingsPath_, CurrentSettings());
  } catch (const std::exception&) {
    written = false;
  }
  if (written) return true;
  // A settings file that cannot be written must not keep the tool from closing.
  const QString path = QFile::decodeName(QByteArray::fromStdString(settingsPath_.string()));
  return dialogs_->closeWithoutSaving(this, app_text::kUnableToWrite + path);
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (check_->Running()) {
    // Inside the check's event pump: stop it, and close once it has returned.
    check_->RequestStop();
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
    dialogs_->showError(this, QString::fromLocal8Bit(error.what()));
  } catch (...) {
    dialogs_->showError(this, app_text::kUnknownError);
  }
}

void TMainForm::bbtnFileOpenClick() {
  Guarded([this] {
    txtINFile->setText(executableStem_);
    const std::optional<QString> chosen = dialogs_->chooseFile(this, txtINFile->text());
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
  if (check_->Running()) return;  // only the disabled buttons stand between a check and a second one
  Guarded([this] {
    BusyState busy(*this);
    const QByteArray path = QFile::encodeName(txtINFile->text());
    Inspector->clear();
    checkedPath_ = path.toStdString();
    IsoCommand(*check_, *this, std::string_view(path.constData(), static_cast<std::size_t>(path.size())));
  });
  if (closeAfterRun_) {
    closeAfterRun_ = false;
    close();
  }
}

void TMainForm::bbtnCheckMacClick() {
  if (check_->Running()) return;
  Guarded([this] {
    BusyState busy(*this);
    const QByteArray path = QFile::encodeName(txtINFile->text());
    const std::string kcv = Bytes(txtCHECKKcv->text());
    const std::string key = Bytes(txtCHECKKey->text());
    MacCommand(*this, std::string_view(path.constData(), static_cast<std::size_t>(path.size())), kcv, key);
  });
}

void TMainForm::VELDRUM1Click() {
  if (about_ == nullptr) return;
  about_->show();
  about_->raise();
  about_->activateWindow();
}

void TMainForm::bbtnClearClick() {
  Guarded([this] {
    ClearCommand(*check_, *this);
    Inspector->clear();
    FlushSurface();
  });
}

void TMainForm::btnConfigClick() {
  if (config_ != nullptr) config_->exec();
}

// --- the surface -------------------------------------------------------

int TMainForm::gridRowCount() const { return gridModel_->gridRowCount(); }
void TMainForm::setGridRowCount(int rows) { gridModel_->setGridRowCount(rows); }
void TMainForm::setGridFixedRows(int rows) {
  gridModel_->setGridFixedRows(rows);
  FormatGrid->horizontalHeader()->setVisible(gridModel_->gridFixedRows() > 0);
}
void TMainForm::setGridColCount(int cols) { gridModel_->setGridColCount(cols); }
void TMainForm::setGridColWidth(int col, int width) {
  if (col >= 0 && col < gridModel_->gridColCount()) FormatGrid->setColumnWidth(col, std::max(width, 0));
}
void TMainForm::setGridCell(int col, int row, std::string_view text) { gridModel_->setGridCell(col, row, text); }
void TMainForm::setGridRowOffset(int row, std::int64_t offset) { gridModel_->setGridRowOffset(row, offset); }
std::int64_t TMainForm::gridRowOffset(int row) const { return gridModel_->gridRowOffset(row); }
std::string TMainForm::gridCell(int col, int row) const { return gridModel_->gridCell(col, row); }
int TMainForm::gridColCount() const { return gridModel_->gridColCount(); }

void TMainForm::repaintGrid() {
  gridModel_->flush();
  if (!Throttled()) FormatGrid->repaint();
}

void TMainForm::setStatus(int panel, std::string_view text) {
  if (panel < 0 || panel > 2) return;
  status_[static_cast<std::size_t>(panel)] = text;
  statusDirty_[static_cast<std::size_t>(panel)] = true;
}

void TMainForm::repaintStatus() {
  if (Throttled()) return;  // the next pump shows it
  FlushSurface();
  StatusBar->repaint();
}

void TMainForm::setProgressMin(int value) {
  progressMin_ = value;
  progressDirty_ = true;
}
void TMainForm::setProgressMax(int value) {
  progressMax_ = value;
  progressDirty_ = true;
}
void TMainForm::setProgressPosition(int value) {
  progressPosition_ = value;
  progressDirty_ = true;
}

std::string TMainForm::editText(Edit which) const { return Bytes(edit(which)->text()); }
void TMainForm::setEditText(Edit which, std::string_view text) { edit(which)->setText(Latin1(text)); }
void TMainForm::setEditColour(Edit which, TextColour colour) {
  QPalette palette = edit(which)->palette();
  palette.setColor(QPalette::Text, colour == TextColour::Red ? kRed : colour == TextColour::Green ? kGreen : kBlack);
  edit(which)->setPalette(palette);
}

void TMainForm::repaint() {
  if (Throttled()) return;
  FlushSurface();
  QMainWindow::repaint();
}

// While a format check runs, paints wait for the next pump of the event loop.
bool TMainForm::Throttled() const { return check_ && check_->Running(); }

void TMainForm::processEvents() {
  if (++pumpCalls_ < pumpCheckEvery_) return;
  pumpCalls_ = 0;
  if (pumpClock_.elapsed() < pumpInterval_) return;
  Pump();
}

// Long enough to notice, short enough not to hold the user up.
void TMainForm::pauseAfterError() { std::this_thread::sleep_for(std::chrono::milliseconds(22)); }

void TMainForm::Pump() {
  longestGap_ = std::max(longestGap_, pumpClock_.restart());
  ++pumps_;
  FlushSurface();
  QCoreApplication::processEvents();
}

void TMainForm::StartPumpClock() {
  pumps_ = 0;
  longestGap_ = 0;
  pumpCalls_ = 0;
  pumpClock_.start();
}

void TMainForm::setEventPumpInterval(int milliseconds) {
  pumpInterval_ = std::max(milliseconds, 0);
  pumpCheckEvery_ = pumpInterval_ == 0 ? 1 : 64;
}

void TMainForm::FlushSurface() {
  for (std::size_t panel = 0; panel < 3; ++panel) {
    if (!statusDirty_[panel]) continue;
    StatusPanels[panel]->setText(Latin1(status_[panel]));
    statusDirty_[panel] = false;
  }
  if (progressDirty_) {
    // The bar shows what its range can; the position itself is kept as set.
    ProgressBar1->setRange(progressMin_, std::max(progressMin_, progressMax_));
    ProgressBar1->setValue(std::clamp(progressPosition_, ProgressBar1->minimum(), ProgressBar1->maximum()));
    progressDirty_ = false;
  }
  gridModel_->flush();
}

}  // namespace kalvrin
