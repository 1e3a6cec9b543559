// MainForm: the tool's window. It holds the inputs, the values read from the
// file's MAC records, the result grid, the MAC page and the Findings page,
// the command buttons, the progress bar and the status bar, and runs one
// command at a time. The checks write into its FormSurface (form_surface.h);
// its widgets are laid out in main_form_layout.cpp, Tool > Verify's window
// side is in findings/verify_command.cpp, the MAC page's Explain in
// explain_command.cpp.
#pragma once

#include <QByteArray>
#include <QMainWindow>
#include <QString>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/busy_state.h"
#include "io/file_identity.h"
#include "app/findings/findings_page.h"
#include "app/differences/differences_page.h"
#include "app/summary/summary_page.h"
#include "app/recent_files.h"
#include "settings/settings.h"
#include "app/dialogs/user_dialogs.h"
#include "defines.h"

class QAction;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QModelIndex;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableView;

namespace kalvrin {

struct MacOutcome;

class FormSurface;
class FormatCheck;
class GridModel;
class GridRowFilter;
class GridTools;
class TestCopyTools;
class HelpForm;
class RowStore;
class MessageInspector;
class CardNumberMask;
class TAboutForm;
class TConfigForm;

class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  // `executablePath` stands for the running executable: the file edit and
  // the settings file are derived from it. Runs FormCreate.
  explicit TMainForm(const QString& executablePath,
                     std::unique_ptr<UserDialogs> dialogs = MakeStandardDialogs(),
                     QWidget* parent = nullptr);
  ~TMainForm() override;

  // The About box and the configuration dialog, created after the window.
  void AttachDialogs(TAboutForm* about, TConfigForm* config);

  QString VersionText;

  // Keys
  QGroupBox* Keys = nullptr;
  QLabel* labShortName = nullptr;
  QComboBox* cmbShortName = nullptr;
  QLabel* labINKey = nullptr;
  QLineEdit* txtCHECKKey = nullptr;
  QLabel* labINKcv = nullptr;
  QLineEdit* txtCHECKKcv = nullptr;
  // File (the MAC values the file declares)
  QGroupBox* File = nullptr;
  QLineEdit* txtINFileKcv = nullptr;
  QLineEdit* txtINFileMacVer = nullptr;
  QLineEdit* txtINFileMacMeth = nullptr;
  QLineEdit* txtINFileMac = nullptr;
  // Result
  QGroupBox* Result = nullptr;
  QTabWidget* pgResult = nullptr;
  QWidget* Format = nullptr;
  QTableView* FormatGrid = nullptr;
  // Below the grid, hidden until a row is first selected: the selected
  // row's message, element by element.
  QSplitter* FormatSplitter = nullptr;
  MessageInspector* Inspector = nullptr;
  // The third page: what Tool > Verify found.
  FindingsPage* Findings = nullptr;
  // Another page: what Tool > Compare with... found.
  DifferencesPage* Differences = nullptr;
  // Another page: the last verify's figures and charts.
  SummaryPage* Summary = nullptr;
  // The Edits page, Tool > Save test copy as... and the edits' context items.
  TestCopyTools* TestCopy = nullptr;
  QWidget* Mac = nullptr;
  QLineEdit* txtCalcMacAll = nullptr;
  QLineEdit* txtCalcMacNHD = nullptr;
  QLineEdit* txtCalcMacNSP = nullptr;
  QLabel* labCalcMac1 = nullptr;
  QLabel* labCalcMac2 = nullptr;
  QLabel* labCalcMac3 = nullptr;
  // Beside each computed MAC, a mark that says what its colour says; below
  // them, the MAC check's verdict and the key's check value against the file's.
  std::array<QLabel*, 3> ResultMarks{};
  QLabel* labVerdict = nullptr;
  QLabel* labKcvVerdict = nullptr;
  // Below them, shown after a red MAC under the right key in a file too
  // large to explain at once: explains it as a command of its own.
  QPushButton* ExplainButton = nullptr;
  // commands, file, progress, status
  QPushButton* bbtnCheckMac = nullptr;
  QPushButton* bbtnClear = nullptr;
  QPushButton* btnConfig = nullptr;
  QPushButton* bbtnCheckFormat = nullptr;
  QPushButton* bbtnExit = nullptr;
  QPushButton* bbtnFileOpen = nullptr;
  QLineEdit* txtINFile = nullptr;
  QProgressBar* ProgressBar1 = nullptr;
  QStatusBar* StatusBar = nullptr;
  std::array<QLabel*, 3> StatusPanels{};
  // The rest of the status line: why the last command could not open its file.
  QLabel* StatusReason = nullptr;
  // menu
  QAction* ISO85831 = nullptr;
  QAction* SaveShortName = nullptr;
  QAction* VELDRUM1 = nullptr;
  QAction* Verify = nullptr;  // Tool > Verify
  QAction* GoToOffset = nullptr;  // Tool > Go to offset...
  QAction* CompareWith = nullptr;  // Tool > Compare with...
  QAction* SaveReport = nullptr;  // Tool > Save report...
  QMenu* RecentFilesMenu = nullptr;  // Tool ▸ Recent files
  QAction* HelpAction = nullptr;     // About ▸ Help, F1
  HelpForm* Help = nullptr;          // created when first shown

  QLineEdit* edit(Edit which) const { return edits_[static_cast<int>(which)]; }
  const std::filesystem::path& settingsPath() const { return settingsPath_; }

  // The surface the checks write into, and the grid as the core sees it,
  // title row included.
  FormSurface& surface() const { return *surface_; }
  // The grid's rows as stored, title row included.
  const RowStore& gridRows() const;
  int gridRowCount() const;
  int gridColCount() const;
  std::string gridCell(int col, int row) const;
  std::int64_t gridRowOffset(int row) const;

  // How often a format check lets the event loop run: at most once per
  // `milliseconds` of work (20 by default; 0 pumps at every call).
  void setEventPumpInterval(int milliseconds);
  // Of the last command: how often the event loop ran, the longest
  // stretch of work without it, and at how many of those runs the grid's
  // changes went to the view.
  long long eventPumps() const;
  qint64 longestPumpGap() const;
  long long gridPumps() const;
  // How often FormClose has written the settings.
  int settingsWrites() const { return settingsWrites_; }
  const RecentFiles& recentFiles() const { return recentFiles_; }

  // Find, filter, copy, export and the columns' choice and widths.
  GridTools& gridTools() const { return *gridTools_; }
  GridModel& gridModel() const { return *gridModel_; }
  // Tool > Mask card numbers.
  CardNumberMask& cardNumberMask() const { return *cardNumberMask_; }
  // The verify pass that Tool > Verify runs.
  void setVerifyRunner(VerifyRunner runner);
  // The command that runs now, Command::None between commands.
  Command runningCommand() const { return commands_.running(); }
  // A file given on the command line, dropped or picked from the recent
  // files: into the file edit, and the file a cancelled Open dialog puts back.
  void chooseFile(const QString& file);
  // A red MAC under the right key is explained as the MAC check ends for a
  // file up to this many bytes; a larger one gets the Explain button.
  static constexpr std::int64_t kExplainAtOnce = std::int64_t{64} << 20;
  void setExplainAtOnceLimit(std::int64_t bytes) { explainAtOnce_ = bytes; }

 public slots:
  void bbtnFileOpenClick();
  void bbtnExitClick();
  void cmbShortNameChange();
  void bbtnCheckFormatClick();
  void bbtnCheckMacClick();
  void VELDRUM1Click();
  void bbtnClearClick();
  void btnConfigClick();
  void VerifyClick();
  // Asks for an offset and shows the message that starts there.
  void GoToOffsetClick();
  // Asks for a second file and compares the file in the file edit with it.
  void CompareWithClick();
  // Asks where to, and writes the findings shown as CSV there.
  void ExportFindingsClick();
  // Asks where to, and writes the last verify's HTML report there.
  void SaveReportClick();
  // Shows the help text beside the window.
  void HelpClick();
  // The MAC page's Explain: the explanation of the red MAC the verdict shows.
  void ExplainClick();

 protected:
  void closeEvent(QCloseEvent* event) override;
  // A file dropped onto the window goes into the file edit.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // main_form_layout.cpp: the widgets, the menus and the tab order.
  void BuildLayout();
  void BuildKeys(QWidget* client);
  void BuildFile(QWidget* client);
  void BuildResult(QWidget* client);
  void BuildInspector();
  // A grid cell became current: its row's message goes into the inspector,
  // with the cell's element selected.
  void InspectGridCell(const QModelIndex& current);
  // A finding's message in the grid and the inspector, checking the file
  // first when the grid does not hold it.
  void ShowFinding(std::int64_t record, int element);
  // A difference's message of the old or the new file in the inspector.
  void ShowDifference(bool oldFile, std::int64_t record, std::int64_t offset, int element);
  // inspector/locate_command.cpp: Go to offset, and a message found by its
  // record or offset as verify frames it, in the grid where the grid holds
  // it, else in the inspector alone.
  void BuildGoToOffset();
  // summary/summary_command.cpp: the Summary page, its clicks and Save report.
  void BuildSummary();
  void ShowFormatCheckSummary();
  bool CheckUnlessGridHolds(const QString& file);
  void ShowMessageOf(const std::string& path, bool byRecord, std::int64_t target, int element);
  bool ShowGridRow(int row, int element);
  void OpenInspector();
  void BuildMacPage();
  void BuildCommands(QWidget* client);
  void BuildStatusBar();
  void BuildMenu();
  void SetTabOrder();
  void FormCreate();
  void ApplySettings(const WindowSettings& settings);
  WindowSettings CurrentSettings() const;
  bool FormClose();
  // Runs a handler; an error that escapes it is shown and the window goes on.
  void Guarded(const std::function<void()>& handler);
  // What a running command holds still: Open, ISO, MAC and Exit, Verify,
  // the key and file edits, the grid.
  BusyWidgets CommandWidgets() const;
  void BuildShortcuts();
  // After a format check that stopped on a bad length prefix: the broken
  // message's row selected, the inspector on its prefix.
  void SelectBadPrefix();
  bool EndStoppedCommand(const char* stoppedText);
  // Verify's progress on the bar and in the status; false once asked to stop.
  bool VerifyProgress(VerifyPhase phase, std::int64_t done, std::int64_t total);
  // After a MAC check: the marks, the verdict and the check values compared.
  void ShowVerdict(const QString& keyKcv);
  // A red MAC under the right key in a file too large to explain at once:
  // what the Explain button explains, as the MAC check left it.
  struct ExplainOffer {
    QByteArray path;
    FileIdentity file;
    std::string key;
    std::array<std::string, 3> known;  // MACALL's, MACNHD's and MACNSP's MAC
  };
  // Explains the red MAC at once, or returns what the Explain button needs.
  std::optional<ExplainOffer> ExplainMacMismatch(const QByteArray& path, const std::string& key,
                                                 const MacOutcome& outcome, const QString& keyKcv);
  // The Explain button shown for `offer`, or taken away without one.
  void OfferExplanation(std::optional<ExplainOffer> offer);
  // A command's bytes done of bytes to do on the progress bar, with the
  // window's events; false once asked to stop.
  bool ShowCommandProgress(std::int64_t done, std::int64_t total);
  void ClearVerdict();
  // A command starts on `file`: what the window shows of another file goes
  // (the MAC page, the findings, the status bar's figures), and the title
  // names `file`. A MAC check also takes away the MACs of the key before.
  void StartCommandOn(const QString& file, Command command);
  void ClearMacResults(bool declaredToo);
  // The key was edited after a MAC check: the verdict is greyed and names
  // the file and the key's check value it was for.
  void MarkVerdictStale();
  void UpdateTitle();
  // The file of a command into the recent files, or why it cannot be opened
  // into the status line.
  void NoteCommandFile(const QString& file);
  void FillRecentFilesMenu();

  std::unique_ptr<UserDialogs> dialogs_;
  std::unique_ptr<GridModel> gridModel_;
  std::unique_ptr<GridRowFilter> gridRows_;  // the rows FormatGrid shows
  std::unique_ptr<GridTools> gridTools_;
  CommandState commands_;  // before the surface, which reads it
  CardNumberMask* cardNumberMask_ = nullptr;  // owned by the Tool menu
  std::unique_ptr<FormSurface> surface_;
  std::unique_ptr<FormatCheck> check_;
  TAboutForm* about_ = nullptr;
  TConfigForm* config_ = nullptr;
  std::array<QLineEdit*, kEditCount> edits_{};
  QString executableStem_;
  std::filesystem::path settingsPath_;
  QString openDialogFileName_;  // kept from one use of the dialog to the next
  std::string checkedPath_;     // the file of the last format check, which the grid's offsets point into
  FileIdentity checkedFile_;    // its size and modification time when the check began
  QString caption_;       // the title without the file's name, as the settings keep it
  QString resultsFile_;   // the file the results shown are of
  QString verdictFile_;   // the verdict's file and key check value, for when the key changes
  QString verdictKcv_;
  QString macExplanation_;  // why the last MAC check's MAC differs, when it was explained
  std::optional<ExplainOffer> explainOffer_;  // what the Explain button shown explains
  std::int64_t explainAtOnce_ = kExplainAtOnce;
  bool verdictStale_ = false;
  bool inspectorClosed_ = false;  // the user dragged the inspector shut

  VerifyRunner verifyRunner_;
  RecentFiles recentFiles_;
  int settingsWrites_ = 0;
};

}  // namespace kalvrin
