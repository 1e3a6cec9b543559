// Plain-container window surface.
#include "headless/headless_surface.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "iso/char_scan.h"
#include "iso/pan_mask.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {
constexpr std::size_t kEntryHead = 5;  // column byte + 32-bit length
// A row that holds any text starts with one bit per column telling which
// columns have an entry, so that a write or read need not walk the row.
constexpr std::size_t kMaskBytes = 32;
// The rows at the grid's end that stay mutable when it grows: the format
// check writes into the one before the last.
constexpr int kMutableRows = 4;
// Small enough for the allocator to serve from its heap and reuse.
constexpr std::size_t kBlockSize = std::size_t{64} << 10;

bool HasEntry(std::string_view packed, int col) {
  return packed.size() >= kMaskBytes && ((static_cast<unsigned char>(packed[static_cast<std::size_t>(col) >> 3]) >> (col & 7)) & 1) != 0;
}

void MarkEntry(char* packed, int col, bool present) {
  auto& byte = packed[static_cast<std::size_t>(col) >> 3];
  const auto bit = static_cast<unsigned char>(1u << (col & 7));
  byte = static_cast<char>(present ? (static_cast<unsigned char>(byte) | bit) : (static_cast<unsigned char>(byte) & ~bit));
}

std::uint32_t EntryLength(std::string_view packed, std::size_t at) {
  std::uint32_t length = 0;
  std::memcpy(&length, packed.data() + at + 1, sizeof length);
  return length;
}
}  // namespace

void HeadlessSurface::setGridRowCount(int rows) {
  ForgetHotRow();
  if (rows < 0) rows = 0;
  if (rows < firstHeldRow_) rows = firstHeldRow_;  // streamed rows cannot come back
  const std::size_t end = rowsHead_ + static_cast<std::size_t>(rows - firstHeldRow_);
  for (std::size_t at = end; at < rows_.size(); ++at) ReleaseLive(rows_[at]);
  rows_.resize(end);
  frozenUpTo_ = std::min(frozenUpTo_, rows);
  const bool grown = rows > rowCount_;
  rowCount_ = rows;
  if (!grown) return;
  if (sink_) StreamUpTo(rowCount_ - liveRows_);
  FreezeUpTo(rowCount_ - kMutableRows);
}

void HeadlessSurface::setGridColCount(int cols) {
  ForgetHotRow();
  if (cols < 0) cols = 0;
  colCount_ = cols;
  colWidths_.resize(static_cast<std::size_t>(cols), 64);
  for (std::size_t at = rowsHead_; at < rows_.size(); ++at) {
    // drop the texts of columns that no longer exist
    Row& row = rows_[at];
    if (row.live >= 0) {
      LiveRow& live = live_[static_cast<std::size_t>(row.live)];
      for (std::size_t col = static_cast<std::size_t>(cols); col < live.places.size(); ++col) live.Put(col, {});
      live.places.resize(static_cast<std::size_t>(cols));
      continue;
    }
    const std::string_view packed = FrozenOf(row);
    for (std::size_t entry = packed.empty() ? 0 : kMaskBytes; entry < packed.size();) {
      if (static_cast<unsigned char>(packed[entry]) >= cols) {
        Mutable(row);  // takes only the columns that remain
        break;
      }
      entry += kEntryHead + EntryLength(packed, entry);
    }
  }
}

void HeadlessSurface::setGridColWidth(int col, int width) {
  if (col >= 0 && col < colCount_) colWidths_[static_cast<std::size_t>(col)] = width;
}

int HeadlessSurface::gridColWidth(int col) const {
  return col >= 0 && col < colCount_ ? colWidths_[static_cast<std::size_t>(col)] : 0;
}

HeadlessSurface::Row* HeadlessSurface::HeldRow(int row) {
  if (row < firstHeldRow_ || row >= rowCount_) return nullptr;
  return &rows_[rowsHead_ + static_cast<std::size_t>(row - firstHeldRow_)];
}

const HeadlessSurface::Row* HeadlessSurface::HeldRow(int row) const {
  if (row < firstHeldRow_ || row >= rowCount_) return nullptr;
  return &rows_[rowsHead_ + static_cast<std::size_t>(row - firstHeldRow_)];
}

void HeadlessSurface::LiveRow::Grow(std::size_t more) {
  // Into a larger buffer, leaving behind the texts no slot points at.
  std::size_t held = 0;
  for (const Slot& slot : places) held += slot.length;
  const std::size_t grown = std::max({held + more, 2 * capacity, std::size_t{256}});  // 256: a typical row's texts at once
  auto larger = std::make_unique_for_overwrite<char[]>(grown);
  std::size_t used = 0;
  for (Slot& slot : places) {
    if (slot.length == 0) continue;
    std::memcpy(larger.get() + used, bytes.get() + slot.at, slot.length);
    slot.at = static_cast<std::uint32_t>(used);
    used += slot.length;
  }
  bytes = std::move(larger);
  capacity = grown;
  size = used;
}

void HeadlessSurface::LiveRow::Put(std::size_t col, std::string_view text) {
  if (text.empty()) {
    places[col] = {};
    return;
  }
  // A text that does not fit moves every other one: the old text of this
  // column goes along, to be left behind at the next move.
  if (capacity - size < text.size()) Grow(text.size());
  CopyBytes(bytes.get() + size, text.data(), text.size());
  places[col] = {static_cast<std::uint32_t>(size), static_cast<std::uint32_t>(text.size())};
  size += text.size();
}

void HeadlessSurface::LiveRow::Clear(std::size_t columns) {
  size = 0;
  places.assign(columns, {});
}

void HeadlessSurface::LiveRow::Load(std::string_view packed, std::size_t columns) {
  Clear(columns);
  for (std::size_t at = packed.empty() ? 0 : kMaskBytes; at < packed.size();) {
    const std::uint32_t length = EntryLength(packed, at);
    const auto col = static_cast<unsigned char>(packed[at]);
    if (col < columns) Put(col, packed.substr(at + kEntryHead, length));
    at += kEntryHead + length;
  }
}

// The row's buffer, taken from the spare ones (so that a new row seldom
// allocates) and holding its frozen texts, if any.
HeadlessSurface::LiveRow& HeadlessSurface::Mutable(Row& row) {
  if (row.live >= 0) return live_[static_cast<std::size_t>(row.live)];
  if (spareLive_.empty()) {
    ForgetHotRow();  // live_ may move
    row.live = static_cast<std::int32_t>(live_.size());
    live_.emplace_back();
  } else {
    row.live = spareLive_.back();
    spareLive_.pop_back();
  }
  LiveRow& live = live_[static_cast<std::size_t>(row.live)];
  live.Load(FrozenOf(row), static_cast<std::size_t>(colCount_));
  row.frozen = nullptr;
  row.frozenSize = 0;
  return live;
}

void HeadlessSurface::ReleaseLive(Row& row) {
  if (row.live < 0) return;
  ForgetHotRow();
  spareLive_.push_back(row.live);
  row.live = -1;
}

// Packs a mutable row's texts, in column order, at the end of the last
// block and gives its buffer back.
void HeadlessSurface::Freeze(int row) {
  Row& held = *HeldRow(row);
  if (held.live < 0) return;
  const LiveRow& live = live_[static_cast<std::size_t>(held.live)];
  std::size_t size = 0;
  for (const LiveRow::Slot& slot : live.places) size += slot.length == 0 ? 0 : kEntryHead + slot.length;
  if (size != 0) {
    size += kMaskBytes;
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < size) {
      Block& block = blocks_.emplace_back();
      block.capacity = std::max(kBlockSize, size);
      block.bytes = std::make_unique_for_overwrite<char[]>(block.capacity);
      block.lastRow = row;
    }
    Block& block = blocks_.back();
    char* const start = block.bytes.get() + block.used;
    std::memset(start, 0, kMaskBytes);
    char* at = start + kMaskBytes;
    for (std::size_t col = 0; col < live.places.size(); ++col) {
      const LiveRow::Slot& slot = live.places[col];
      if (slot.length == 0) continue;
      MarkEntry(start, static_cast<int>(col), true);
      *at = static_cast<char>(col);
      std::memcpy(at + 1, &slot.length, sizeof slot.length);
      std::memcpy(at + kEntryHead, live.bytes.get() + slot.at, slot.length);
      at += kEntryHead + slot.length;
    }
    block.used += size;
    block.lastRow = std::max(block.lastRow, row);
    held.frozen = start;
    held.frozenSize = static_cast<std::uint32_t>(size);
  }
  ReleaseLive(held);
}

void HeadlessSurface::FreezeUpTo(int endRow) {
  for (int row = std::max(frozenUpTo_, firstHeldRow_); row < endRow; ++row) Freeze(row);
  frozenUpTo_ = std::max(frozenUpTo_, endRow);
}

std::string HeadlessSurface::CellOf(std::string_view packed, int col) {
  if (!HasEntry(packed, col)) return {};
  for (std::size_t at = kMaskBytes; at < packed.size();) {
    const std::uint32_t length = EntryLength(packed, at);
    if (static_cast<unsigned char>(packed[at]) == col) return std::string(packed.substr(at + kEntryHead, length));
    at += kEntryHead + length;
  }
  return {};
}

void HeadlessSurface::setGridCell(int col, int row, std::string_view text) {
  if (col < 0 || col >= colCount_ || col > 255) return;
  std::string masked;
  if (maskCardNumbers_ && row >= fixedRows_ && GridColumnHoldsCardNumber(col)) {
    masked = MaskElement(kGridColumns[static_cast<std::size_t>(col)].element, text);
    text = masked;
  }
  if (row == hotRow_) {
    hot_->Put(static_cast<std::size_t>(col), text);
    return;
  }
  Row* held = HeldRow(row);
  if (held == nullptr) return;
  if (held->live < 0 && text.empty() && !HasEntry(FrozenOf(*held), col)) return;  // nothing to clear
  LiveRow& live = Mutable(*held);
  live.Put(static_cast<std::size_t>(col), text);
  hotRow_ = row;
  hot_ = &live;
}

void HeadlessSurface::setGridRowOffset(int row, std::int64_t offset) {
  if (Row* held = HeldRow(row)) held->offset = offset;
}

std::int64_t HeadlessSurface::gridRowOffset(int row) const {
  const Row* held = HeldRow(row);
  return held != nullptr ? held->offset : kNoRowOffset;
}

std::string HeadlessSurface::cell(int col, int row) const {
  const Row* held = HeldRow(row);
  if (held == nullptr || col < 0 || col >= colCount_) return {};
  if (held->live >= 0) return std::string(live_[static_cast<std::size_t>(held->live)].Text(static_cast<std::size_t>(col)));
  return CellOf(FrozenOf(*held), col);
}

void HeadlessSurface::CellViews(const Row& row, std::vector<std::string_view>& cells) const {
  cells.assign(static_cast<std::size_t>(colCount_), {});
  if (row.live >= 0) {
    const LiveRow& live = live_[static_cast<std::size_t>(row.live)];
    for (std::size_t col = 0; col < cells.size() && col < live.places.size(); ++col) cells[col] = live.Text(col);
    return;
  }
  const std::string_view packed = FrozenOf(row);
  for (std::size_t at = packed.empty() ? 0 : kMaskBytes; at < packed.size();) {
    const std::uint32_t length = EntryLength(packed, at);
    const auto col = static_cast<unsigned char>(packed[at]);
    if (col < cells.size()) cells[col] = packed.substr(at + kEntryHead, length);
    at += kEntryHead + length;
  }
}

std::vector<std::string> HeadlessSurface::row(int row) const {
  std::vector<std::string_view> views;
  if (const Row* held = HeldRow(row)) {
    CellViews(*held, views);
  } else {
    views.resize(static_cast<std::size_t>(colCount_));
  }
  return {views.begin(), views.end()};
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
  while (firstHeldRow_ < endRow && rowsHead_ < rows_.size()) {
    CellViews(rows_[rowsHead_], sinkCells_);
    sink_(firstHeldRow_, sinkCells_);
    ReleaseLive(rows_[rowsHead_]);
    ++rowsHead_;
    ++firstHeldRow_;
  }
  // The streamed rows' entries go once they are half of the vector.
  if (rowsHead_ >= 1024 && 2 * rowsHead_ >= rows_.size()) {
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(rowsHead_));
    rowsHead_ = 0;
  }
  DropStreamedBlocks();
}

// A block goes once every row frozen into it has been streamed.
void HeadlessSurface::DropStreamedBlocks() {
  while (!blocks_.empty() && blocks_.front().lastRow < firstHeldRow_) blocks_.pop_front();
}

void HeadlessSurface::flushRows() {
  if (sink_) StreamUpTo(rowCount_);
}

}  // namespace kalvrin
