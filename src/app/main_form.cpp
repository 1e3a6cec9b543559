// MainForm: the commands and their one busy state, Clear and Escape, the
// settings at start and close, the inspector beside the grid, drops, recent
// files and the MAC check's verdict. The widgets are laid out in
// main_form_layout.cpp, the surface the checks write into is
// form_surface.cpp, the running command and its stop busy_state.cpp.
#include "app/main_form.h"
#include "app/tools/test_copy.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
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
#include <functional>

#include "app/dialogs/about_form.h"
#include "mac/mac_explain.h"
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

const QColor kBlack(0, 0, 0);
const QColor kVerdictRed(255, 0, 0);
const QColor kVerdictGreen(0, 128, 0);
const QColor kVerdictStale(128, 128, 128);

std::string Bytes(const QString& text) { return text.toLatin1().toStdString(); }

QString Utf8(const char* text) { return QString::fromUtf8(text); }

void SetTextColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

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

  BuildLayout();
  gridTools_ = std::make_unique<GridTools>(*this, *gridModel_, *gridRows_);  // before the tab order: it moves the grid
  connect(gridTools_.get(), &GridTools::inspectRequested, this, [this](const QModelIndex& index) {
    inspectorClosed_ = false;
    Guarded([&] { InspectGridCell(index); });
  });
  Findings = new FindingsPage;
  pgResult->addTab(Findings, findings_text::kCaption);
  connect(Findings, &FindingsPage::findingActivated, this,
          [this](qint64 record, int element) { Guarded([&] { ShowFinding(record, element); }); });
  connect(Findings, &FindingsPage::exportRequested, this, &TMainForm::ExportFindingsClick);
  Verify = menuBar()->findChild<QMenu*>("Tool1")->addAction("Verify");
  Verify->setObjectName("Verify");
  connect(Verify, &QAction::triggered, this, &TMainForm::VerifyClick);
  BuildSummary();
  BuildGoToOffset();
  Differences = new DifferencesPage;
  pgResult->addTab(Differences, differences_text::kCaption);
  connect(Differences, &DifferencesPage::differenceActivated, this,
          [this](bool oldFile, qint64 record, qint64 offset, int element) {
            Guarded([&] { ShowDifference(oldFile, record, offset, element); });
          });
  connect(Differences, &DifferencesPage::captionChanged, this,
          [this](const QString& caption) { pgResult->setTabText(pgResult->indexOf(Differences), caption); });
  CompareWith = menuBar()->findChild<QMenu*>("Tool1")->addAction(differences_text::kMenuItem);
  CompareWith->setObjectName("CompareWith");
  connect(CompareWith, &QAction::triggered, this, &TMainForm::CompareWithClick);
  TestCopy = new TestCopyTools(*this);
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
  surface_ = std::make_unique<FormSurface>(widgets, *gridModel_, commands_);
  // The grid as it stands until the format check lays out its columns.
  surface_->setGridColCount(5);
  surface_->setGridRowCount(2);
  surface_->setGridFixedRows(1);
  check_ = std::make_unique<FormatCheck>(*surface_);
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
  OpenInspector();
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
  // A settings file too large to be one is not read: the status line says
  // why the window starts with the defaults.
  if (!ini.Refusal().empty()) {
    surface_->setStatus(kCommandPanel, ini.Refusal());
    surface_->flush();
  }
  gridTools_->readSettings(ini);
  recentFiles_.read(ini);
  FillRecentFilesMenu();
  cardNumberMask_->readSettings(ini);
}

void TMainForm::ApplySettings(const WindowSettings& s) {
  // Bounds saved on a larger screen, or written by hand, are kept to the
  // size of the screen the window opens on, and a window wholly off it is
  // brought onto it; one partly off it (a negative top) stays where it was.
  QRect bounds(s.left, s.top, s.width, s.height);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect room = screen->availableGeometry();
    bounds.setSize(bounds.size().boundedTo(room.size()));
    if (!room.intersects(bounds)) bounds.moveTopLeft(room.topLeft());
  }
  move(bounds.topLeft());
  resize(bounds.size());
  caption_ = Latin1(s.caption);
  UpdateTitle();
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
  s.caption = Bytes(caption_);
  s.initMax = isMaximized();
  s.key = Bytes(txtCHECKKey->text());
  return s;
}

// Caption with the version, then the settings; false keeps the window open.
bool TMainForm::FormClose() {
  caption_ = app_text::kCaptionStem + VersionText;
  UpdateTitle();
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
  // Inside a running command's event pump: stop it, and close once it has returned.
  if (commands_.stop(AfterStop::Close)) {
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

void TMainForm::Guarded(const std::function<void()>& handler) {
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
    if (chosen) openDialogFileName_ = *chosen;  // cancelled: the file chosen last
    txtINFile->setText(openDialogFileName_);
  });
}

void TMainForm::chooseFile(const QString& file) {
  txtINFile->setText(file);
  openDialogFileName_ = file;
}

void TMainForm::bbtnExitClick() { close(); }

void TMainForm::cmbShortNameChange() {
  txtCHECKKey->setEnabled(true);
  txtCHECKKcv->setEnabled(true);
}

void TMainForm::bbtnCheckFormatClick() {
  if (!commands_.idle()) return;  // a call that got past the disabled buttons
  pgResult->setCurrentWidget(Format);  // before the busy state, which gives the grid the focus
  Guarded([this] {
    BusyState busy(commands_, Command::FormatCheck, CommandWidgets(), *surface_, bbtnCheckFormat,
                   [this] { check_->RequestStop(); });
    NoteCommandFile(txtINFile->text());
    StartCommandOn(txtINFile->text(), Command::FormatCheck);
    const QByteArray path = QFile::encodeName(txtINFile->text());
    Inspector->clear();
    checkedPath_ = path.toStdString();
    checkedFile_ = FileIdentity::Of(checkedPath_);
    IsoCommand(*check_, *surface_, std::string_view(path.constData(), static_cast<std::size_t>(path.size())));
  });
  if (EndStoppedCommand(app_text::kFormatStopped)) return;
  Guarded([this] {
    SelectBadPrefix();
    gridTools_->afterCheck();
    ShowFormatCheckSummary();
  });
}

// After a command that closing the window, Clear or Escape stopped: the
// close or the clear it waited for (Escape keeps what the window shows),
// and a word that the results are not a finished command. False when no
// stop was asked for.
bool TMainForm::EndStoppedCommand(const char* stoppedText) {
  switch (commands_.takeAfterStop()) {
    case AfterStop::Nothing:
      return false;
    case AfterStop::Close:
      close();
      return true;
    case AfterStop::Clear:
      bbtnClearClick();
      break;
    case AfterStop::Keep:
      surface_->setProgressPosition(surface_->progressMin());
      break;
  }
  surface_->setStatus(kCommandPanel, stoppedText);
  surface_->flush();
  return true;
}

void TMainForm::bbtnCheckMacClick() {
  if (!commands_.idle()) return;
  QString keyKcv;
  std::optional<ExplainOffer> offer;
  Guarded([this, &keyKcv, &offer] {
    BusyState busy(commands_, Command::MacCheck, CommandWidgets(), *surface_, bbtnCheckMac);
    NoteCommandFile(txtINFile->text());
    StartCommandOn(txtINFile->text(), Command::MacCheck);
    const QByteArray path = QFile::encodeName(txtINFile->text());
    const std::string kcv = Bytes(txtCHECKKcv->text());
    const std::string key = Bytes(txtCHECKKey->text());
    std::array<char, 17> keyKcvText{};
    if (CreateKCV(keyKcvText.data(), key, static_cast<int>(kKcvDigits)) != 0) {
      keyKcv = QString::fromLatin1(keyKcvText.data(), static_cast<qsizetype>(kKcvDigits));
    }
    MacOutcome outcome;
    MacCommand(*surface_, std::string_view(path.constData(), static_cast<std::size_t>(path.size())), kcv, key, outcome,
               &commands_.stopFlag());
    offer = ExplainMacMismatch(path, key, outcome, keyKcv);
  });
  if (EndStoppedCommand(app_text::kMacStopped)) return;
  Guarded([this, &keyKcv, &offer] {
    ShowVerdict(keyKcv);
    OfferExplanation(std::move(offer));
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
  // Inside a running command's event pump: stop it first; the clear follows
  // once it has returned, so no result of it lands in the cleared window.
  if (commands_.stop(AfterStop::Clear)) return;
  Guarded([this] {
    ClearCommand(*check_, *surface_);
    Inspector->clear();
    Findings->clear();
    Differences->clear();
    Summary->clear();
    ClearVerdict();
    StatusReason->clear();
    for (QLabel* panel : StatusPanels) panel->setToolTip({});
    resultsFile_.clear();
    UpdateTitle();
    surface_->flush();
  });
}

void TMainForm::btnConfigClick() {
  if (config_ != nullptr) config_->exec();
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
  // Escape stops a running command and keeps what the window shows; Clear stops and clears.
  connect(escape, &QShortcut::activated, this, [this] { commands_.stop(AfterStop::Keep); });
  auto* open = new QShortcut(QKeySequence::Open, this);
  connect(open, &QShortcut::activated, this, [this] {
    if (bbtnFileOpen->isEnabled()) bbtnFileOpenClick();
  });
  connect(txtCHECKKey, &QLineEdit::textEdited, this, &TMainForm::MarkVerdictStale);
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
  chooseFile(QDir::toNativeSeparators(file));
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
  verdictFile_ = QFileInfo(resultsFile_).fileName();
  verdictKcv_ = keyKcv;
  verdictStale_ = false;
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
    if (same) matching << Latin1(kMacVariants[i].caption);
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
    if (!macExplanation_.isEmpty()) labVerdict->setText(labVerdict->text() + QStringLiteral(" ") + macExplanation_);
    labVerdict->setToolTip(macExplanation_);
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

// A red MAC under the right key: the explanation's candidates, read at once
// for files up to explainAtOnce_, with the window's events and its stop
// while they are tried; a larger file is offered to the Explain button.
std::optional<TMainForm::ExplainOffer> TMainForm::ExplainMacMismatch(const QByteArray& path, const std::string& key,
                                                                     const MacOutcome& outcome, const QString& keyKcv) {
  macExplanation_.clear();
  if (outcome.reason != MacReason::Mismatch || keyKcv.isEmpty() ||
      keyKcv.compare(txtINFileKcv->text(), Qt::CaseInsensitive) != 0) {
    return std::nullopt;
  }
  TransactionFile file(std::string_view(path.constData(), static_cast<std::size_t>(path.size())));
  if (!file.IsOpen()) return std::nullopt;
  std::array<std::string, 3> known;
  for (std::size_t i = 0; i < known.size(); ++i) known[i] = Bytes(edit(kMacResultEdits[i])->text());
  if (file.Size() > explainAtOnce_) return ExplainOffer{path, file.Identity(), key, known};
  const MacExplanation explanation = ExplainFileMac(file, key, &known, [this](std::int64_t, std::int64_t) {
    surface_->processEvents();
    return !commands_.stopFlag().load();
  });
  if (!explanation.stopped) macExplanation_ = QString::fromLatin1(ExplanationLine(explanation));
  return std::nullopt;
}

void TMainForm::ClearVerdict() {
  macExplanation_.clear();
  OfferExplanation(std::nullopt);
  labVerdict->setToolTip(QString());
  for (QLabel* mark : ResultMarks) mark->clear();
  labVerdict->clear();
  labKcvVerdict->clear();
  verdictStale_ = false;
}

void TMainForm::MarkVerdictStale() {
  OfferExplanation(std::nullopt);  // it would explain under the key before
  if (verdictStale_ || labVerdict->text().isEmpty()) return;
  verdictStale_ = true;
  labVerdict->setText(verdictKcv_.isEmpty() ? Utf8(app_text::kVerdictOfNoKey).arg(labVerdict->text(), verdictFile_)
                                            : Utf8(app_text::kVerdictOfKey).arg(labVerdict->text(), verdictFile_, verdictKcv_));
  SetTextColour(labVerdict, kVerdictStale);
  SetTextColour(labKcvVerdict, kVerdictStale);
  for (QLabel* mark : ResultMarks) SetTextColour(mark, kVerdictStale);
}

void TMainForm::ClearMacResults(bool declaredToo) {
  for (int e = static_cast<int>(declaredToo ? Edit::INFileKcv : Edit::CalcMac1BSize); e < kEditCount; ++e) {
    surface_->setEditText(static_cast<Edit>(e), {});
  }
  for (Edit result : kMacResultEdits) surface_->setEditColour(result, TextColour::Black);
  ClearVerdict();
}

// The grid stays: it is the format check's, of the file it names in the
// inspector, and Escape on a later command keeps it.
void TMainForm::StartCommandOn(const QString& file, Command command) {
  if (command == Command::MacCheck) ClearMacResults(false);  // a refused key leaves no MAC of the key before
  if (file == resultsFile_) return;
  ClearMacResults(true);
  Findings->clear();
  Summary->clear();
  for (int panel : {kPositionPanel, kTotalsPanel}) surface_->setStatus(panel, {});
  resultsFile_ = file;
  UpdateTitle();
  surface_->flush();
}

void TMainForm::UpdateTitle() {
  const QString name = QFileInfo(resultsFile_).fileName();
  setWindowTitle(name.isEmpty() ? caption_ : caption_ + QString::fromLatin1(app_text::kTitleSeparator) + name);
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
      if (bbtnFileOpen->isEnabled()) chooseFile(file);
    });
  }
  RecentFilesMenu->setEnabled(!recentFiles_.files().isEmpty());
}

BusyWidgets TMainForm::CommandWidgets() const {
  BusyWidgets widgets;
  widgets.buttons = {bbtnFileOpen, bbtnCheckFormat, bbtnCheckMac, bbtnExit};
  widgets.inputs = {txtCHECKKey, txtINFile};
  widgets.menuCommands = {Verify, GoToOffset, CompareWith};
  widgets.grid = FormatGrid;
  widgets.focus = FormatGrid->isVisible() ? static_cast<QWidget*>(FormatGrid) : pgResult;
  widgets.offered = ExplainButton;
  return widgets;
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
