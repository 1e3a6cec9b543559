// The find bar's search over the packed grid rows.
#include "app/grid_search.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "app/grid_model.h"

namespace kalvrin {

namespace {

// Latin-1 case folding: A-Z and the accented capitals (0xC0-0xDE but 0xD7).
constexpr std::array<unsigned char, 256> FoldTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) {
    const bool capital = (c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7);
    table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(capital ? c + 0x20 : c);
  }
  return table;
}
constexpr std::array<unsigned char, 256> kFold = FoldTable();

unsigned char Fold(char c) { return kFold[static_cast<unsigned char>(c)]; }

constexpr int kMaxColumns = 256;  // what a grid row can hold

}  // namespace

TextMatcher::TextMatcher(std::string_view needle) {
  needle_.reserve(needle.size());
  for (const char c : needle) needle_ += static_cast<char>(Fold(c));
}

TextMatcher TextMatcher::FromTyped(const QString& typed) {
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(typed.size()));
  bool impossible = false;
  for (const QChar c : typed) {
    if (c.unicode() > 0xFF) impossible = true;
    bytes += static_cast<char>(c.unicode() & 0xFF);
  }
  TextMatcher matcher(bytes);
  matcher.impossible_ = impossible;
  return matcher;
}

bool TextMatcher::In(std::string_view text) const {
  if (impossible_) return false;
  const std::size_t n = needle_.size();
  if (n == 0) return true;
  if (text.size() < n) return false;
  const auto first = static_cast<unsigned char>(needle_[0]);
  // Only a letter has a second byte that folds to it; anything else (the
  // digits of card numbers and amounts, mostly) is found by memchr.
  const bool hasCapital = (first >= 'a' && first <= 'z') || (first >= 0xE0 && first <= 0xFE && first != 0xF7);
  const char* data = text.data();
  const std::size_t last = text.size() - n;
  for (std::size_t at = 0; at <= last; ++at) {
    if (!hasCapital) {
      const void* hit = std::memchr(data + at, first, last - at + 1);
      if (hit == nullptr) return false;
      at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
    } else if (Fold(data[at]) != first) {
      continue;
    }
    std::size_t i = 1;
    while (i < n && Fold(data[at + i]) == static_cast<unsigned char>(needle_[i])) ++i;
    if (i == n) return true;
  }
  return false;
}

std::optional<GridPlace> FindInGrid(const GridModel& grid, const SearchArea& area, const TextMatcher& matcher,
                                    GridPlace from, bool forwards) {
  const int rows = area.viewRows;
  const int shown = static_cast<int>(area.columns.size());
  if (rows <= 0 || shown == 0) return std::nullopt;
  // Where `from` stands among the shown columns; one before the first (or
  // after the last) column when it is outside, so its row is searched whole.
  int fromRow = from.viewRow;
  int fromSlot = -1;
  if (fromRow < 0 || fromRow >= rows) {
    fromRow = forwards ? 0 : rows - 1;
    fromSlot = forwards ? -1 : shown;
  } else {
    const auto it = std::find(area.columns.begin(), area.columns.end(), from.column);
    fromSlot = it == area.columns.end() ? (forwards ? -1 : shown) : static_cast<int>(it - area.columns.begin());
  }

  std::array<std::string_view, kMaxColumns> cells{};
  const std::span<std::string_view> rowCells(cells.data(), static_cast<std::size_t>(grid.gridColCount()));
  const int step = forwards ? 1 : -1;
  // Every row once, starting with the rest of `from`'s row, and then the
  // part of that row before `from`, `from` included.
  for (int pass = 0; pass <= rows; ++pass) {
    const int viewRow = ((fromRow + step * pass) % rows + rows) % rows;
    grid.gridRowView(area.gridRowOf(viewRow), rowCells);
    int firstSlot = forwards ? 0 : shown - 1;
    int endSlot = forwards ? shown : -1;
    if (pass == 0) firstSlot = fromSlot + step;
    if (pass == rows) endSlot = fromSlot + step;
    for (int slot = firstSlot; slot != endSlot; slot += step) {
      if (slot < 0 || slot >= shown) break;
      const int column = area.columns[static_cast<std::size_t>(slot)];
      if (column < 0 || column >= static_cast<int>(rowCells.size())) continue;
      if (matcher.In(cells[static_cast<std::size_t>(column)])) return GridPlace{viewRow, column};
    }
  }
  return std::nullopt;
}

}  // namespace kalvrin
