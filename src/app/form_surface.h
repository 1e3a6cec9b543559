// FormSurface: the window surface that the format check and the MAC check
// write into, on the main window's widgets.
//
// Writes are cheap and the widgets follow in batches: status texts and the
// progress bar are kept here and handed to their widgets at flushes, grid
// rows and cells go into the packed GridModel, which tells the view about
// them at the same flushes. A flush happens at every pump of the event loop,
// at every repaint the core asks for outside a running format check, and at
// the end of each command. While a format check runs, the core's many
// requests to let the event loop run are coalesced to at most one pump per
// interval (20 ms by default). The grid's new rows and changed cells go to
// the view at fewer of those pumps, at least 100 ms apart (longer when the
// window is so large that its grid's repaint takes more than a tenth of
// that): a grid's repaint costs many times the rest of a pump.
#pragma once

#include <QElapsedTimer>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "defines.h"
#include "iso/format_check.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QTableView;
class QWidget;

namespace kalvrin {

class CommandState;
class GridModel;

class FormSurface final : public WindowSurface {
 public:
  // The widgets the surface writes into; all belong to the window.
  struct Widgets {
    QWidget* window = nullptr;  // repainted as a whole
    QTableView* grid = nullptr;  // shows `model`
    QWidget* statusBar = nullptr;  // repainted with its panels
    std::array<QLabel*, 3> status{};
    QProgressBar* progress = nullptr;
    std::array<QLineEdit*, kEditCount> edits{};
  };
  // While `commands` says a command runs, paints wait for the next pump of
  // the event loop.
  FormSurface(const Widgets& widgets, GridModel& model, const CommandState& commands);

  // The pump clock of one command: started when the window goes busy,
  // stopped (with a last flush) when it goes idle again.
  void startRun();
  void endRun();
  // Hands pending status, progress and grid changes to the widgets.
  void flush();

  // How often a format check lets the event loop run: at most once per
  // `milliseconds` of work (20 by default; 0 pumps at every call).
  void setEventPumpInterval(int milliseconds);
  // Of the last command: how often the event loop ran, the longest
  // stretch of work without it, and how often the grid's changes went to
  // the view at a pump.
  long long eventPumps() const { return pumps_; }
  qint64 longestPumpGap() const { return longestGap_; }
  long long gridPumps() const { return gridPumps_; }

  // The grid as the core sees it, title row included.
  std::string gridCell(int col, int row) const;
  int gridColCount() const;
  std::int64_t gridRowOffset(int row) const;

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
  std::size_t processEventsFor(std::size_t characters) override;
  void pauseAfterError() override;

 private:
  bool Throttled() const;  // while a command runs
  void Pump();
  void FlushPanels();  // status texts and the progress bar

  Widgets widgets_;
  GridModel& model_;
  const CommandState& commands_;

  // Status and progress as the core last set them; the widgets follow at flushes.
  std::array<std::string, 3> status_;
  std::array<bool, 3> statusDirty_{};
  int progressMin_ = 0;
  int progressMax_ = 100;
  int progressPosition_ = 0;
  bool progressDirty_ = false;

  // The clock is read once every pumpStride_ calls (or characters counted
  // at once by processEventsFor), a stride that follows how long they take:
  // about kPumpCheckNs of work between readings.
  static constexpr qint64 kPumpCheckNs = 200'000;
  static constexpr std::size_t kMaxPumpStride = std::size_t{1} << 16;
  void CheckPumpClock();

  QElapsedTimer pumpClock_;
  int pumpInterval_ = 20;
  std::size_t pumpStride_ = 1;
  std::size_t pumpCountdown_ = 1;  // calls until the clock is read; never 0 between calls
  qint64 lastClockCheck_ = 0;  // on pumpClock_, in nanoseconds
  long long pumps_ = 0;
  qint64 longestGap_ = 0;

  static constexpr qint64 kMinGridIntervalNs = 100'000'000;
  static constexpr qint64 kMaxGridIntervalNs = 1'000'000'000;
  static constexpr qint64 kGridCostShare = 10;  // the grid's repaint takes at most about a tenth of the time
  QElapsedTimer gridClock_;  // since the grid last went to the view at a pump
  qint64 gridInterval_ = kMinGridIntervalNs;
  qint64 slowestPump_ = 0;  // since then, in nanoseconds: mostly the grid's repaint
  long long gridPumps_ = 0;
};

}  // namespace kalvrin
