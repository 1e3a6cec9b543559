// The find bar's search over the packed grid rows.
#include "app/grid/grid_search.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <string.h>  // memmem

#include "app/grid/grid_model.h"

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

// Whether a folded byte has a capital that folds to it.
bool HasCapital(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7); }

constexpr int kMaxColumns = 256;  // what a grid row can hold

}  // namespace

TextMatcher::TextMatcher(std::string_view needle) {
  needle_.reserve(needle.size());
  for (const char c : needle) needle_ += static_cast<char>(Fold(c));
  // The anchor is the needle's rarest byte by the grid's nature: digits,
  // blanks and hexadecimal letters fill most cells, other characters few.
  auto commonness = [](unsigned char c) {
    if ((c >= '0' && c <= '9') || c == ' ') return 2;
    if (c >= 'a' && c <= 'f') return 1;
    return 0;
  };
  for (std::size_t i = 1; i < needle_.size(); ++i) {
    if (commonness(static_cast<unsigned char>(needle_[i])) < commonness(static_cast<unsigned char>(needle_[anchor_]))) {
      anchor_ = i;
    }
  }
  const auto anchor = static_cast<unsigned char>(needle_.empty() ? '\0' : needle_[anchor_]);
  anchorHasCapital_ = HasCapital(anchor);
  caseless_ = std::none_of(needle_.begin(), needle_.end(), [](char c) { return HasCapital(static_cast<unsigned char>(c)); });
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
  // Without letters case does not matter, and memmem is quickest.
  if (caseless_) return memmem(text.data(), text.size(), needle_.data(), n) != nullptr;
  // memchr finds the anchor, in both cases when it is a letter; the nearer
  // of the two is tried first.
  const auto anchor = static_cast<unsigned char>(needle_[anchor_]);
  const auto capital = static_cast<unsigned char>(anchorHasCapital_ ? anchor - 0x20 : anchor);
  const char* data = text.data();
  const char* from = data + anchor_;
  const char* end = data + (text.size() - n) + anchor_ + 1;  // where the anchor may stand, at most
  auto next = [end](const char* at, unsigned char c) {
    return at < end ? static_cast<const char*>(std::memchr(at, c, static_cast<std::size_t>(end - at))) : nullptr;
  };
  const char* small = next(from, anchor);
  const char* large = anchorHasCapital_ ? next(from, capital) : nullptr;
  while (small != nullptr || large != nullptr) {
    const bool smallFirst = large == nullptr || (small != nullptr && small < large);
    const char* at = smallFirst ? small : large;
    const char* start = at - anchor_;
    std::size_t i = 0;
    while (i < n && Fold(start[i]) == static_cast<unsigned char>(needle_[i])) ++i;
    if (i == n) return true;
    if (smallFirst) {
      small = next(at + 1, anchor);
    } else {
      large = next(at + 1, capital);
    }
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
    const int gridRow = area.gridRowOf(viewRow);
    // Most rows do not hold the text: one test over the whole row tells,
    // unless masked card numbers show texts the row does not hold.
    if (!grid.maskCardNumbers() && !matcher.In(grid.gridRowBytes(gridRow))) continue;
    grid.gridRowView(gridRow, rowCells);
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
