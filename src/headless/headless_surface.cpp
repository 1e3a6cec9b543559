// Plain-container window surface.
#include "headless/headless_surface.h"

#include <cstring>

namespace kalvrin {

namespace {
constexpr std::size_t kEntryHead = 5;  // column byte + 32-bit length
// A row that holds any text starts with one bit per column telling which
// columns have an entry, so that a write or read need not walk the row.
constexpr std::size_t kMaskBytes = 32;

bool HasEntry(const std::string& packed, int col) {
  return packed.size() >= kMaskBytes && ((static_cast<unsigned char>(packed[static_cast<std::size_t>(col) >> 3]) >> (col & 7)) & 1) != 0;
}

void MarkEntry(std::string& packed, int col, bool present) {
  auto& byte = packed[static_cast<std::size_t>(col) >> 3];
  const auto bit = static_cast<unsigned char>(1u << (col & 7));
  byte = static_cast<char>(present ? (static_cast<unsigned char>(byte) | bit) : (static_cast<unsigned char>(byte) & ~bit));
}

std::uint32_t EntryLength(const std::string& packed, std::size_t at) {
  std::uint32_t length = 0;
  std::memcpy(&length, packed.data() + at + 1, sizeof length);
  return length;
}
}  // namespace

void HeadlessSurface::setGridRowCount(int rows) {
  if (rows < 0) rows = 0;
  if (rows < firstHeldRow_) rows = firstHeldRow_;  // streamed rows cannot come back
  rows_.resize(static_cast<std::size_t>(rows - firstHeldRow_));
  offsets_.resize(rows_.size(), kNoRowOffset);
  const int grown = rows > rowCount_;
  rowCount_ = rows;
  if (grown && sink_) StreamUpTo(rowCount_ - liveRows_);
}

void HeadlessSurface::setGridColCount(int cols) {
  if (cols < 0) cols = 0;
  colCount_ = cols;
  colWidths_.resize(static_cast<std::size_t>(cols), 64);
  for (auto& packed : rows_) {
    // drop the texts of columns that no longer exist
    if (packed.empty()) continue;
    std::string kept(kMaskBytes, '\0');
    for (std::size_t at = kMaskBytes; at < packed.size();) {
      const std::size_t size = kEntryHead + EntryLength(packed, at);
      const int col = static_cast<unsigned char>(packed[at]);
      if (col < cols) {
        kept.append(packed, at, size);
        MarkEntry(kept, col, true);
      }
      at += size;
    }
    packed.swap(kept);
  }
}

void HeadlessSurface::setGridColWidth(int col, int width) {
  if (col >= 0 && col < colCount_) colWidths_[static_cast<std::size_t>(col)] = width;
}

int HeadlessSurface::gridColWidth(int col) const {
  return col >= 0 && col < colCount_ ? colWidths_[static_cast<std::size_t>(col)] : 0;
}

std::string* HeadlessSurface::HeldRow(int row) {
  if (row < firstHeldRow_ || row >= rowCount_) return nullptr;
  return &rows_[static_cast<std::size_t>(row - firstHeldRow_)];
}

const std::string* HeadlessSurface::HeldRow(int row) const {
  if (row < firstHeldRow_ || row >= rowCount_) return nullptr;
  return &rows_[static_cast<std::size_t>(row - firstHeldRow_)];
}

std::string HeadlessSurface::CellOf(const std::string& packed, int col) {
  if (!HasEntry(packed, col)) return {};
  for (std::size_t at = kMaskBytes; at < packed.size();) {
    const std::uint32_t length = EntryLength(packed, at);
    if (static_cast<unsigned char>(packed[at]) == col) return packed.substr(at + kEntryHead, length);
    at += kEntryHead + length;
  }
  return {};
}

void HeadlessSurface::PutCell(std::string& packed, int col, std::string_view text) {
  if (HasEntry(packed, col)) {
    for (std::size_t at = kMaskBytes; at < packed.size();) {
      const std::size_t size = kEntryHead + EntryLength(packed, at);
      if (static_cast<unsigned char>(packed[at]) == col) {
        packed.erase(at, size);
        break;
      }
      at += size;
    }
    MarkEntry(packed, col, false);
  }
  if (text.empty()) return;
  if (packed.empty()) {
    packed.reserve(256);  // room for a typical row's texts at once
    packed.assign(kMaskBytes, '\0');
  }
  MarkEntry(packed, col, true);
  const auto length = static_cast<std::uint32_t>(text.size());
  char head[kEntryHead];
  head[0] = static_cast<char>(col);
  std::memcpy(head + 1, &length, sizeof length);
  packed.append(head, kEntryHead);
  packed.append(text);
}

void HeadlessSurface::setGridCell(int col, int row, std::string_view text) {
  if (col < 0 || col >= colCount_ || col > 255) return;
  if (std::string* packed = HeldRow(row)) PutCell(*packed, col, text);
}

void HeadlessSurface::setGridRowOffset(int row, std::int64_t offset) {
  if (row >= firstHeldRow_ && row < rowCount_) offsets_[static_cast<std::size_t>(row - firstHeldRow_)] = offset;
}

std::int64_t HeadlessSurface::gridRowOffset(int row) const {
  if (row < firstHeldRow_ || row >= rowCount_) return kNoRowOffset;
  return offsets_[static_cast<std::size_t>(row - firstHeldRow_)];
}

std::string HeadlessSurface::cell(int col, int row) const {
  const std::string* packed = HeldRow(row);
  if (packed == nullptr || col < 0 || col >= colCount_) return {};
  return CellOf(*packed, col);
}

std::vector<std::string> HeadlessSurface::row(int row) const {
  std::vector<std::string> cells(static_cast<std::size_t>(colCount_));
  if (const std::string* packed = HeldRow(row)) {
    for (int col = 0; col < colCount_; ++col) cells[static_cast<std::size_t>(col)] = CellOf(*packed, col);
  }
  return cells;
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
  while (firstHeldRow_ < endRow && !rows_.empty()) {
    sink_(firstHeldRow_, row(firstHeldRow_));
    rows_.pop_front();
    offsets_.pop_front();
    ++firstHeldRow_;
  }
}

void HeadlessSurface::flushRows() {
  if (sink_) StreamUpTo(rowCount_);
}

}  // namespace kalvrin
