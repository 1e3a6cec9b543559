// MainForm: the tool's window. It holds the inputs, the values read from the
// file's MAC records, the result grid and the MAC page, the command buttons,
// the progress bar and the status bar, and it is the surface that the format
// check and the MAC check write into.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QString>

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "app/settings.h"
#include "app/user_dialogs.h"
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

class FormatCheck;
class GridModel;
class MessageInspector;
class TAboutForm;
class TConfigForm;

class TMainForm : public QMainWindow, public WindowSurface {
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
  QWidget* Mac = nullptr;
  QLineEdit* txtCalcMacAll = nullptr;
  QLineEdit* txtCalcMacNHD = nullptr;
  QLineEdit* txtCalcMacNSP = nullptr;
  QLabel* labCalcMac1 = nullptr;
  QLabel* labCalcMac2 = nullptr;
  QLabel* labCalcMac3 = nullptr;
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
  // menu
  QAction* ISO85831 = nullptr;
  QAction* SaveShortName = nullptr;
  QAction* VELDRUM1 = nullptr;

  QLineEdit* edit(Edit which) const { return edits_[static_cast<int>(which)]; }
  const std::filesystem::path& settingsPath() const { return settingsPath_; }

  // How often a format check lets the event loop run: at most once per
  // `milliseconds` of work (15 by default; 0 pumps at every call).
  void setEventPumpInterval(int milliseconds);
  // Of the last command: how often the event loop ran, and the longest
  // stretch of work without it.
  long long eventPumps() const { return pumps_; }
  qint64 longestPumpGap() const { return longestGap_; }
  // How often FormClose has written the settings.
  int settingsWrites() const { return settingsWrites_; }

  // WindowSurface
  int gridRowCount() const override;
  void setGridRowCount(int rows) override;
  void setGridFixedRows(int rows) override;
  void setGridColCount(int cols) override;
  void setGridColWidth(int col, int width) override;
  void setGridCell(int col, int row, std::string_view text) override;
  void repaintGrid() override;
  void setGridRowOffset(int row, std::int64_t offset) override;
  void setStatus(int panel, std::string_view text) override;
  void repaintStatus() override;
  int progressMin() const override { return progressMin_; }
  void setProgressMin(int value) override;
  int progressMax() const override { return progressMax_; }
  void setProgressMax(int value) override;
  int progressPosition() const override { return progressPosition_; }
  void setProgressPosition(int value) override;
  std::string editText(Edit which) const override;
  void setEditText(Edit which, std::string_view text) override;
  void setEditColour(Edit which, TextColour colour) override;
  void repaint() override;
  void processEvents() override;
  void pauseAfterError() override;

  // The grid as the core sees it, title row included.
  std::string gridCell(int col, int row) const;
  int gridColCount() const;
  std::int64_t gridRowOffset(int row) const;

 public slots:
  void bbtnFileOpenClick();
  void bbtnExitClick();
  void cmbShortNameChange();
  void bbtnCheckFormatClick();
  void bbtnCheckMacClick();
  void VELDRUM1Click();
  void bbtnClearClick();
  void btnConfigClick();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class BusyState;

  void BuildKeys(QWidget* client);
  void BuildFile(QWidget* client);
  void BuildResult(QWidget* client);
  void BuildInspector();
  // A grid cell became current: its row's message goes into the inspector,
  // with the cell's element selected.
  void InspectGridCell(const QModelIndex& current);
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
  template <class Handler>
  void Guarded(Handler&& handler);
  // Hands pending status, progress and grid changes to the widgets.
  void FlushSurface();
  void StartPumpClock();
  void Pump();
  bool Throttled() const;

  std::unique_ptr<UserDialogs> dialogs_;
  std::unique_ptr<GridModel> gridModel_;
  std::unique_ptr<FormatCheck> check_;
  TAboutForm* about_ = nullptr;
  TConfigForm* config_ = nullptr;
  std::array<QLineEdit*, kEditCount> edits_{};
  QString executableStem_;
  std::filesystem::path settingsPath_;
  QString openDialogFileName_;  // kept from one use of the dialog to the next
  std::string checkedPath_;     // the file of the last format check, which the grid's offsets point into
  bool inspectorClosed_ = false;  // the user dragged the inspector shut

  // Status and progress as the core last set them; the widgets follow at flushes.
  std::array<std::string, 3> status_;
  std::array<bool, 3> statusDirty_{};
  int progressMin_ = 0;
  int progressMax_ = 100;
  int progressPosition_ = 0;
  bool progressDirty_ = false;

  QElapsedTimer pumpClock_;
  int pumpInterval_ = 15;
  int pumpCheckEvery_ = 64;
  int pumpCalls_ = 0;
  long long pumps_ = 0;
  qint64 longestGap_ = 0;

  bool closeAfterRun_ = false;
  int settingsWrites_ = 0;
};

}  // namespace kalvrin
