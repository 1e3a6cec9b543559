// Plain-container window surface; the grid's rows live in the row store.
#include "headless/headless_surface.h"

#include <algorithm>
#include <functional>
#include <utility>

#include "iso/char_scan.h"
#include "iso/pan_mask.h"
#include "iso/result_grid.h"

namespace kalvrin {

// Rows that the sink is about to take go before the grid grows, so that the
// store does not encode a block that is released the moment it settles.
void HeadlessSurface::setGridRowCount(int rows) {
  rows = std::max({rows, 0, rows_.firstRow()});  // streamed rows cannot come back
  const int before = rows_.rowCount();
  if (rows <= before) {
    rows_.setRowCount(rows);
    return;
  }
  if (sink_) StreamUpTo(std::min(rows - liveRows_, before));
  rows_.setRowCount(rows);
  if (sink_) StreamUpTo(rows - liveRows_);
  rows_.freezeSettled();  // a block that a late write opened again
}

void HeadlessSurface::setGridColCount(int cols) {
  colCount_ = std::max(cols, 0);
  colWidths_.resize(static_cast<std::size_t>(colCount_), 64);
  rows_.setColCount(colCount_);
}

void HeadlessSurface::setGridColWidth(int col, int width) {
  if (col >= 0 && col < colCount_) colWidths_[static_cast<std::size_t>(col)] = width;
}

int HeadlessSurface::gridColWidth(int col) const {
  return col >= 0 && col < colCount_ ? colWidths_[static_cast<std::size_t>(col)] : 0;
}

void HeadlessSurface::setGridCell(int col, int row, std::string_view text) {
  if (col < 0 || col >= colCount_) return;
  if (maskCardNumbers_ && row >= fixedRows_ && GridColumnHoldsCardNumber(col)) {
    SetMaskedCell(col, row, text);
    return;
  }
  rows_.setCell(col, row, text);  // a jump: the masked text's room stays out of this path
}

void HeadlessSurface::SetMaskedCell(int col, int row, std::string_view text) {
  rows_.setCell(col, row, MaskElement(kGridColumns[static_cast<std::size_t>(col)].element, text));
}

void HeadlessSurface::setGridRowOffset(int row, std::int64_t offset) { rows_.setOffset(row, offset); }

std::int64_t HeadlessSurface::gridRowOffset(int row) const { return rows_.offset(row); }

std::string HeadlessSurface::cell(int col, int row) const {
  if (col < 0 || col >= colCount_) return {};
  return std::string(rows_.cell(col, row));
}

std::vector<std::string> HeadlessSurface::row(int row) const {
  std::vector<std::string> cells = rows_.row(row);
  cells.resize(static_cast<std::size_t>(colCount_));  // the store holds at most 256 columns
  return cells;
}

void HeadlessSurface::setStatus(int panel, std::string_view text) {
  if (panel < 0 || panel >= static_cast<int>(status_.size())) return;
  AssignText(status_[static_cast<std::size_t>(panel)], text);
}

std::string HeadlessSurface::status(int panel) const {
  if (panel < 0 || panel >= static_cast<int>(status_.size())) return {};
  return status_[static_cast<std::size_t>(panel)];
}

void HeadlessSurface::setRowSink(RowSink sink, int liveRows) {
  sink_ = std::move(sink);
  liveRows_ = liveRows < 0 ? 0 : liveRows;
}

void HeadlessSurface::StreamUpTo(int endRow) {
  endRow = std::min(endRow, rows_.rowCount());
  sinkCells_.resize(static_cast<std::size_t>(colCount_));
  for (int row = rows_.firstRow(); row < endRow; ++row) {
    rows_.rowCells(row, sinkCells_);
    sink_(row, sinkCells_);
    rows_.releaseRowsBelow(row + 1);
  }
}

void HeadlessSurface::flushRows() {
  if (sink_) StreamUpTo(rows_.rowCount());
}

}  // namespace kalvrin
