// Plain-container window surface.
#include "headless/headless_surface.h"

#include <algorithm>
#include <cstring>

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
  if (cols < 0) cols = 0;
  colCount_ = cols;
  colWidths_.resize(static_cast<std::size_t>(cols), 64);
  for (std::size_t at = rowsHead_; at < rows_.size(); ++at) {
    // drop the texts of columns that no longer exist
    const std::string_view packed = Packed(rows_[at]);
    if (packed.empty()) continue;
    std::string kept(kMaskBytes, '\0');
    for (std::size_t entry = kMaskBytes; entry < packed.size();) {
      const std::size_t size = kEntryHead + EntryLength(packed, entry);
      const int col = static_cast<unsigned char>(packed[entry]);
      if (col < cols) {
        kept.append(packed.substr(entry, size));
        MarkEntry(kept.data(), col, true);
      }
      entry += size;
    }
    if (kept.size() != packed.size()) Mutable(rows_[at]).Assign(kept);
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

std::string_view HeadlessSurface::Packed(const Row& row) const {
  if (row.live >= 0) return live_[static_cast<std::size_t>(row.live)].view();
  return {row.frozen, row.frozenSize};
}

void HeadlessSurface::LiveRow::Reserve(std::size_t wanted) {
  if (wanted <= capacity) return;
  const std::size_t grown = std::max({wanted, 2 * capacity, std::size_t{256}});  // 256: a typical row's texts at once
  auto larger = std::make_unique_for_overwrite<char[]>(grown);
  if (size != 0) std::memcpy(larger.get(), bytes.get(), size);
  bytes = std::move(larger);
  capacity = grown;
}

void HeadlessSurface::LiveRow::Assign(std::string_view packed) {
  Reserve(packed.size());
  if (!packed.empty()) std::memcpy(bytes.get(), packed.data(), packed.size());
  size = packed.size();
}

// The row's buffer, taken from the spare ones (so that a new row seldom
// allocates) and holding its frozen texts, if any.
HeadlessSurface::LiveRow& HeadlessSurface::Mutable(Row& row) {
  if (row.live >= 0) return live_[static_cast<std::size_t>(row.live)];
  if (spareLive_.empty()) {
    row.live = static_cast<std::int32_t>(live_.size());
    live_.emplace_back();
  } else {
    row.live = spareLive_.back();
    spareLive_.pop_back();
  }
  LiveRow& packed = live_[static_cast<std::size_t>(row.live)];
  packed.Assign({row.frozen, row.frozenSize});
  row.frozen = nullptr;
  row.frozenSize = 0;
  return packed;
}

void HeadlessSurface::ReleaseLive(Row& row) {
  if (row.live < 0) return;
  live_[static_cast<std::size_t>(row.live)].size = 0;
  spareLive_.push_back(row.live);
  row.live = -1;
}

// Copies a mutable row's texts to the end of the last block and gives its
// string back.
void HeadlessSurface::Freeze(int row) {
  Row& held = *HeldRow(row);
  if (held.live < 0) return;
  const std::string_view packed = live_[static_cast<std::size_t>(held.live)].view();
  if (!packed.empty()) {
    if (blocks_.empty() || blocks_.back().capacity - blocks_.back().used < packed.size()) {
      Block& block = blocks_.emplace_back();
      block.capacity = std::max(kBlockSize, packed.size());
      block.bytes = std::make_unique_for_overwrite<char[]>(block.capacity);
      block.lastRow = row;
    }
    Block& block = blocks_.back();
    char* const at = block.bytes.get() + block.used;
    std::memcpy(at, packed.data(), packed.size());
    block.used += packed.size();
    block.lastRow = std::max(block.lastRow, row);
    held.frozen = at;
    held.frozenSize = static_cast<std::uint32_t>(packed.size());
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

void HeadlessSurface::PutCell(LiveRow& packed, int col, std::string_view text) {
  if (HasEntry(packed.view(), col)) {
    for (std::size_t at = kMaskBytes; at < packed.size;) {
      const std::size_t size = kEntryHead + EntryLength(packed.view(), at);
      if (static_cast<unsigned char>(packed.bytes[at]) == col) {
        std::memmove(packed.bytes.get() + at, packed.bytes.get() + at + size, packed.size - at - size);
        packed.size -= size;
        break;
      }
      at += size;
    }
    MarkEntry(packed.bytes.get(), col, false);
  }
  if (text.empty()) return;
  const std::size_t start = packed.size == 0 ? kMaskBytes : packed.size;
  packed.Reserve(start + kEntryHead + text.size());
  char* const bytes = packed.bytes.get();
  if (packed.size == 0) std::memset(bytes, 0, kMaskBytes);
  MarkEntry(bytes, col, true);
  const auto length = static_cast<std::uint32_t>(text.size());
  bytes[start] = static_cast<char>(col);
  std::memcpy(bytes + start + 1, &length, sizeof length);
  std::memcpy(bytes + start + kEntryHead, text.data(), text.size());
  packed.size = start + kEntryHead + text.size();
}

void HeadlessSurface::setGridCell(int col, int row, std::string_view text) {
  if (col < 0 || col >= colCount_ || col > 255) return;
  std::string masked;
  if (maskCardNumbers_ && row >= fixedRows_ && GridColumnHoldsCardNumber(col)) {
    masked = MaskElement(kGridColumns[static_cast<std::size_t>(col)].element, text);
    text = masked;
  }
  Row* held = HeldRow(row);
  if (held == nullptr) return;
  if (held->live >= 0) {
    PutCell(live_[static_cast<std::size_t>(held->live)], col, text);
  } else if (!text.empty() || HasEntry(Packed(*held), col)) {  // else nothing to clear
    PutCell(Mutable(*held), col, text);
  }
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
  return CellOf(Packed(*held), col);
}

void HeadlessSurface::CellViews(std::string_view packed, std::vector<std::string_view>& cells) const {
  cells.assign(static_cast<std::size_t>(colCount_), {});
  for (std::size_t at = packed.empty() ? 0 : kMaskBytes; at < packed.size();) {
    const std::uint32_t length = EntryLength(packed, at);
    const auto col = static_cast<unsigned char>(packed[at]);
    if (col < cells.size()) cells[col] = packed.substr(at + kEntryHead, length);
    at += kEntryHead + length;
  }
}

std::vector<std::string> HeadlessSurface::row(int row) const {
  std::vector<std::string_view> views;
  const Row* held = HeldRow(row);
  CellViews(held != nullptr ? Packed(*held) : std::string_view(), views);
  return {views.begin(), views.end()};
}

void HeadlessSurface::setStatus(int panel, std::string_view text) {
  if (panel >= 0 && panel < static_cast<int>(status_.size())) status_[static_cast<std::size_t>(panel)] = text;
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
    CellViews(Packed(rows_[rowsHead_]), sinkCells_);
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
