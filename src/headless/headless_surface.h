// A window surface made of plain containers: what kalvrin-check prints and
// what the core's tests read back.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "defines.h"
#include "grid/row_store.h"

namespace kalvrin {

class HeadlessSurface : public WindowSurface {
 public:
  // The state right after start-up: empty grid, empty edits and panels in
  // black, progress bar 0..100 at 0. The grid's layout is the format
  // check's to set up.
  HeadlessSurface() = default;

  // WindowSurface
  int gridRowCount() const override { return rows_.rowCount(); }
  void setGridRowCount(int rows) override;
  void setGridFixedRows(int rows) override { fixedRows_ = rows; }
  void setGridColCount(int cols) override;
  void setGridColWidth(int col, int width) override;
  void setGridCell(int col, int row, std::string_view text) override;
  void repaintGrid() override {}
  void setGridRowOffset(int row, std::int64_t offset) override;
  void setStatus(int panel, std::string_view text) override;
  void repaintStatus() override {}
  int progressMin() const override { return progressMin_; }
  void setProgressMin(int value) override { progressMin_ = value; }
  int progressMax() const override { return progressMax_; }
  void setProgressMax(int value) override { progressMax_ = value; }
  int progressPosition() const override { return progressPosition_; }
  void setProgressPosition(int value) override { progressPosition_ = value; }
  std::string editText(Edit edit) const override { return edits_[Index(edit)]; }
  void setEditText(Edit edit, std::string_view text) override { edits_[Index(edit)] = text; }
  void setEditColour(Edit edit, TextColour colour) override { colours_[Index(edit)] = colour; }
  void repaint() override { ++repaints_; }
  void processEvents() override {}
  bool hasEventLoop() const override { return false; }  // nothing waits for events here

  // What the window would show.
  int gridFixedRows() const { return fixedRows_; }
  int gridColCount() const { return colCount_; }
  int gridColWidth(int col) const;
  std::string cell(int col, int row) const;     // empty outside the grid or for a streamed row
  std::vector<std::string> row(int row) const;  // one text per column
  // The file offset of the row's message; kNoRowOffset outside the grid, for
  // a row without one and for a streamed row (a row sink may still ask).
  std::int64_t gridRowOffset(int row) const;
  std::string status(int panel) const;
  TextColour editColour(Edit edit) const { return colours_[Index(edit)]; }
  long long repaintCount() const { return repaints_; }

  // Streaming: once set, every time the grid grows, the rows that lie more
  // than liveRows rows above its end (the title row too) are handed to the
  // sink in order and released; they can no longer be read or written. The
  // sink gets one text per column, valid for the call only.
  using RowSink = std::function<void(int row, std::span<const std::string_view> cells)>;
  void setRowSink(RowSink sink, int liveRows);
  // Hands every row not yet streamed to the sink (at the end of a run).
  void flushRows();

  // Card numbers masked as they are written (below the fixed title row), so
  // that every output made from the grid shows them masked.
  void setMaskCardNumbers(bool mask) { maskCardNumbers_ = mask; }

 private:
  static int Index(Edit edit) { return static_cast<int>(edit); }
  // Hands the rows below `endRow` to the sink and releases them, one by one,
  // so that a sink that fails leaves the rows it did not take.
  void StreamUpTo(int endRow);
  void SetMaskedCell(int col, int row, std::string_view text);

  int fixedRows_ = 0;
  int colCount_ = 0;
  std::vector<int> colWidths_;
  // The grid's rows, in the row store the window uses too; blocks that
  // settle behind a growing grid are encoded on its worker thread.
  RowStore rows_;
  std::array<std::string, 3> status_;
  int progressMin_ = 0;
  int progressMax_ = 100;
  int progressPosition_ = 0;
  std::array<std::string, kEditCount> edits_;
  std::array<TextColour, kEditCount> colours_{};
  long long repaints_ = 0;
  RowSink sink_;
  std::vector<std::string_view> sinkCells_;  // the texts of the row being handed over
  int liveRows_ = 0;
  bool maskCardNumbers_ = false;
};

}  // namespace kalvrin
