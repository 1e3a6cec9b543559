// The window surface on the main window's widgets, with its batched updates
// and its coalesced pumps of the event loop.
#include "app/form_surface.h"

#include <QColor>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>

#include <algorithm>
#include <chrono>
#include <thread>

#include "app/busy_state.h"
#include "app/grid/grid_model.h"
#include "app/widget_helpers.h"
#include "iso/char_scan.h"

namespace kalvrin {

namespace {
const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);

std::string Bytes(const QString& text) { return text.toLatin1().toStdString(); }
}  // namespace

FormSurface::FormSurface(const Widgets& widgets, GridModel& model, const CommandState& commands)
    : widgets_(widgets), model_(model), commands_(commands) {
  pumpClock_.start();
}

bool FormSurface::Throttled() const { return !commands_.idle(); }

void FormSurface::startRun() {
  pumps_ = 0;
  longestGap_ = 0;
  pumpStride_ = pumpCountdown_ = 1;
  lastClockCheck_ = 0;
  gridPumps_ = 0;
  gridInterval_ = kMinGridIntervalNs;
  slowestPump_ = 0;
  pumpClock_.start();
  gridClock_.start();
}

void FormSurface::endRun() {
  longestGap_ = std::max(longestGap_, pumpClock_.elapsed());
  flush();
}

void FormSurface::setEventPumpInterval(int milliseconds) {
  pumpInterval_ = std::max(milliseconds, 0);
  pumpStride_ = pumpCountdown_ = 1;
}

// --- the grid ------------------------------------------------------------

int FormSurface::gridRowCount() const { return model_.gridRowCount(); }
void FormSurface::setGridRowCount(int rows) { model_.setGridRowCount(rows); }
void FormSurface::setGridFixedRows(int rows) {
  model_.setGridFixedRows(rows);
  widgets_.grid->horizontalHeader()->setVisible(model_.gridFixedRows() > 0);
}
void FormSurface::setGridColCount(int cols) { model_.setGridColCount(cols); }
void FormSurface::setGridColWidth(int col, int width) {
  if (col >= 0 && col < model_.gridColCount()) widgets_.grid->setColumnWidth(col, std::max(width, 0));
}
void FormSurface::setGridCell(int col, int row, std::string_view text) { model_.setGridCell(col, row, text); }
void FormSurface::setGridRowOffset(int row, std::int64_t offset) { model_.setGridRowOffset(row, offset); }
std::int64_t FormSurface::gridRowOffset(int row) const { return model_.gridRowOffset(row); }
std::string FormSurface::gridCell(int col, int row) const { return model_.gridCell(col, row); }
int FormSurface::gridColCount() const { return model_.gridColCount(); }

void FormSurface::repaintGrid() {
  model_.flush();
  if (!Throttled()) widgets_.grid->repaint();
}

// --- status, progress, edits -------------------------------------------------

void FormSurface::setStatus(int panel, std::string_view text) {
  if (panel < 0 || panel > 2) return;
  AssignText(status_[static_cast<std::size_t>(panel)], text);
  statusDirty_[static_cast<std::size_t>(panel)] = true;
}

void FormSurface::repaintStatus() {
  if (Throttled()) return;  // the next pump shows it
  flush();
  widgets_.statusBar->repaint();
}

void FormSurface::setProgressMin(int value) {
  progressMin_ = value;
  progressDirty_ = true;
}
void FormSurface::setProgressMax(int value) {
  progressMax_ = value;
  progressDirty_ = true;
}
void FormSurface::setProgressPosition(int value) {
  progressPosition_ = value;
  progressDirty_ = true;
}

std::string FormSurface::editText(Edit which) const {
  return Bytes(widgets_.edits[static_cast<std::size_t>(which)]->text());
}
void FormSurface::setEditText(Edit which, std::string_view text) {
  widgets_.edits[static_cast<std::size_t>(which)]->setText(Latin1(text));
}
void FormSurface::setEditColour(Edit which, TextColour colour) {
  QLineEdit* edit = widgets_.edits[static_cast<std::size_t>(which)];
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Text, colour == TextColour::Red ? kRed : colour == TextColour::Green ? kGreen : kBlack);
  edit->setPalette(palette);
}

// --- the window and its event loop ------------------------------------------

void FormSurface::repaint() {
  if (Throttled()) return;
  flush();
  widgets_.window->repaint();
}

void FormSurface::processEvents() {
  // The format check calls this for a character at a time: most calls only count.
  if (--pumpCountdown_ != 0) return;
  CheckPumpClock();
}

// The same countdown, taken down by all the characters at once, up to the
// call that reads the clock.
std::size_t FormSurface::processEventsFor(std::size_t characters) {
  characters = std::max<std::size_t>(characters, 1);
  if (characters < pumpCountdown_) {
    pumpCountdown_ -= characters;
    return characters;
  }
  const std::size_t made = pumpCountdown_;
  CheckPumpClock();
  return made;
}

void FormSurface::CheckPumpClock() {
  if (pumpInterval_ == 0) {
    Pump();
    return;
  }
  const qint64 now = pumpClock_.nsecsElapsed();
  // Calls that come quickly read the clock more rarely, the stride doubling
  // at each reading; a slow stretch shortens it at once, in proportion.
  const qint64 since = std::max<qint64>(now - lastClockCheck_, 1);
  if (since < kPumpCheckNs / 2) {
    pumpStride_ = std::min(pumpStride_ * 2, kMaxPumpStride);
  } else if (since > kPumpCheckNs * 2) {
    pumpStride_ = static_cast<std::size_t>(
        std::max<qint64>(static_cast<qint64>(pumpStride_) * kPumpCheckNs / since, 1));
  }
  pumpCountdown_ = pumpStride_;
  lastClockCheck_ = now;
  if (now >= qint64{pumpInterval_} * 1'000'000) Pump();
}

// Long enough to notice, short enough not to hold the user up.
void FormSurface::pauseAfterError() { std::this_thread::sleep_for(std::chrono::milliseconds(22)); }

void FormSurface::Pump() {
  longestGap_ = std::max(longestGap_, pumpClock_.restart());
  ++pumps_;
  FlushPanels();
  // With no interval (pumps at every call), the grid goes along every time.
  if (pumpInterval_ == 0 || !gridClock_.isValid() || gridClock_.nsecsElapsed() >= gridInterval_) {
    model_.flush();
    ++gridPumps_;
    // The grid's repaint comes at this pump or the next (when a widget
    // repaints at once, it paints all that waits): the slowest pump since
    // the last time stands for its cost.
    gridInterval_ = std::clamp(slowestPump_ * kGridCostShare, kMinGridIntervalNs, kMaxGridIntervalNs);
    slowestPump_ = 0;
    gridClock_.start();
  }
  QCoreApplication::processEvents();
  // The calls that follow may take longer than those before: the stride
  // grows anew from one.
  pumpStride_ = pumpCountdown_ = 1;
  lastClockCheck_ = pumpClock_.nsecsElapsed();
  slowestPump_ = std::max(slowestPump_, lastClockCheck_);
}

void FormSurface::flush() {
  FlushPanels();
  model_.flush();
}

void FormSurface::FlushPanels() {
  for (std::size_t panel = 0; panel < 3; ++panel) {
    if (!statusDirty_[panel]) continue;
    widgets_.status[panel]->setText(Latin1(status_[panel]));
    statusDirty_[panel] = false;
  }
  if (progressDirty_) {
    // The bar shows what its range can; the position itself is kept as set.
    QProgressBar* bar = widgets_.progress;
    bar->setRange(progressMin_, std::max(progressMin_, progressMax_));
    bar->setValue(std::clamp(progressPosition_, bar->minimum(), bar->maximum()));
    progressDirty_ = false;
  }
}

}  // namespace kalvrin
