// A window surface made of plain containers: what kalvrin-check prints and
// what the core's tests read back.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "defines.h"

namespace kalvrin {

class HeadlessSurface : public WindowSurface {
 public:
  // The state right after start-up: empty grid, empty edits and panels in
  // black, progress bar 0..100 at 0. The grid's layout is the format
  // check's to set up.
  HeadlessSurface() = default;

  // WindowSurface
  int gridRowCount() const override { return rowCount_; }
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
  // The rows near the grid's end, where texts are written, are mutable: each
  // text appended to the row's buffer as it is written, with where each
  // column's text stands. The rows above them are frozen into large shared
  // blocks, each as one packed string: a mask of the columns it holds (32
  // bytes), then entries of column (1 byte), length (4 bytes), text. A write
  // to a frozen row makes it mutable again.
  struct Row {
    const char* frozen = nullptr;  // the packed texts of a frozen row
    std::uint32_t frozenSize = 0;
    std::int32_t live = -1;        // its entry in live_ while mutable, -1 for none
    std::int64_t offset = kNoRowOffset;
  };
  struct Block {
    std::unique_ptr<char[]> bytes;
    std::size_t used = 0;
    std::size_t capacity = 0;
    int lastRow = 0;  // the last row frozen into it
  };
  // A mutable row's texts; its storage stays with it from row to row.
  struct LiveRow {
    struct Slot {
      std::uint32_t at = 0;
      std::uint32_t length = 0;  // 0: an empty cell
    };
    std::unique_ptr<char[]> bytes;
    std::size_t size = 0;      // bytes appended, including texts since overwritten
    std::size_t capacity = 0;
    std::vector<Slot> places;   // one per column (not "slots": Qt takes that word)
    std::string_view Text(std::size_t col) const {
      return {bytes.get() + places[col].at, places[col].length};
    }
    void Put(std::size_t col, std::string_view text);
    void Clear(std::size_t columns);
    void Load(std::string_view packed, std::size_t columns);

   private:
    void Grow(std::size_t more);
  };
  static std::string CellOf(std::string_view packed, int col);
  // Every column's text of a row, in one pass over it.
  void CellViews(const Row& row, std::vector<std::string_view>& cells) const;
  static std::string_view FrozenOf(const Row& row) { return {row.frozen, row.frozenSize}; }
  LiveRow& Mutable(Row& row);
  void ForgetHotRow() { hotRow_ = -1; }
  void ReleaseLive(Row& row);
  void Freeze(int row);
  void FreezeUpTo(int endRow);
  Row* HeldRow(int row);
  const Row* HeldRow(int row) const;
  void StreamUpTo(int endRow);
  void DropStreamedBlocks();

  int rowCount_ = 0;
  int fixedRows_ = 0;
  int colCount_ = 0;
  std::vector<int> colWidths_;
  int firstHeldRow_ = 0;      // rows below it have gone to the sink
  std::vector<Row> rows_;     // from rowsHead_ on: rows firstHeldRow_ .. rowCount_-1
  std::size_t rowsHead_ = 0;  // entries before it belong to streamed rows
  int frozenUpTo_ = 0;        // rows below it have been through Freeze
  std::vector<LiveRow> live_;            // the texts of mutable rows
  std::vector<std::int32_t> spareLive_;  // entries of live_ free for a row, emptied but keeping their storage
  std::deque<Block> blocks_;  // frozen rows, in row order
  std::array<std::string, 3> status_;
  int progressMin_ = 0;
  int progressMax_ = 100;
  int progressPosition_ = 0;
  std::array<std::string, kEditCount> edits_;
  std::array<TextColour, kEditCount> colours_{};
  long long repaints_ = 0;
  // The mutable row written last: the check writes a row's cells one after
  // the other, and each write then goes straight to its texts. Forgotten
  // whenever rows or their buffers move.
  int hotRow_ = -1;
  LiveRow* hot_ = nullptr;
  RowSink sink_;
  std::vector<std::string_view> sinkCells_;  // the texts of the row being handed over
  int liveRows_ = 0;
  bool maskCardNumbers_ = false;
};

}  // namespace kalvrin
