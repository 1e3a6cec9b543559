// The grid's rows in the order of a column: numbers by value, texts byte by
// byte, empty cells last, ties in row order; checked on chosen cases and
// against a plain stable sort of whole texts on random columns, with texts
// that tie over the sort's first pieces and differ far into them.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "grid/row_order.h"
#include "grid/row_store.h"

namespace kalvrin {
namespace {

// A store of one title row and one column holding `cells` below it.
void Fill(RowStore& store, const std::vector<std::string>& cells) {
  store.setColCount(2);
  store.setRowCount(static_cast<int>(cells.size()) + 1);
  store.setCell(0, 0, "title");
  for (std::size_t i = 0; i < cells.size(); ++i) store.setCell(0, static_cast<int>(i) + 1, cells[i]);
  store.freezeSettled();
}

std::vector<std::string> Sorted(const std::vector<std::string>& cells, SortDirection direction,
                                const ShownCell& shown = {}) {
  RowStore store(RowStore::Freezing::OnCaller);
  Fill(store, cells);
  std::vector<std::string> texts;
  for (const int row : SortRows(store, 0, 1, store.rowCount(), direction, shown)) {
    texts.push_back(cells[static_cast<std::size_t>(row - 1)] + "@" + std::to_string(row));
  }
  return texts;
}

// The rule written plainly, over whole texts.
bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

int PlainCompare(const std::string& a, const std::string& b) {
  const int kindA = a.empty() ? 2 : IsNumber(a) ? 0 : 1;
  const int kindB = b.empty() ? 2 : IsNumber(b) ? 0 : 1;
  if (kindA != kindB) return kindA < kindB ? -1 : 1;
  if (kindA == 0) {
    const std::string x = a.substr(std::min(a.find_first_not_of('0'), a.size()));
    const std::string y = b.substr(std::min(b.find_first_not_of('0'), b.size()));
    if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
    return x.compare(y) < 0 ? -1 : x.compare(y) > 0 ? 1 : 0;
  }
  return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
}

std::vector<std::string> PlainSorted(const std::vector<std::string>& cells, SortDirection direction) {
  std::vector<int> rows(cells.size());
  std::iota(rows.begin(), rows.end(), 0);
  std::stable_sort(rows.begin(), rows.end(), [&](int x, int y) {
    const std::string& a = cells[static_cast<std::size_t>(x)];
    const std::string& b = cells[static_cast<std::size_t>(y)];
    if (a.empty() != b.empty()) return b.empty();
    const int c = PlainCompare(a, b);
    return direction == SortDirection::Ascending ? c < 0 : c > 0;
  });
  std::vector<std::string> texts;
  for (const int row : rows) texts.push_back(cells[static_cast<std::size_t>(row)] + "@" + std::to_string(row + 1));
  return texts;
}

TEST(RowOrder, NumbersByValueThenTextsThenEmptyCells) {
  const std::vector<std::string> cells = {"10", "", "9", "B", "0010", "A", "000", "1", "a", "9x", "AB", "A\x01"};
  EXPECT_EQ(Sorted(cells, SortDirection::Ascending),
            (std::vector<std::string>{"000@7", "1@8", "9@3", "10@1", "0010@5", "9x@10", "A@6", "A\x01@12", "AB@11",
                                      "B@4", "a@9", "@2"}));
  // Turned round, but the empty cell stays last and ties keep their rows' order.
  EXPECT_EQ(Sorted(cells, SortDirection::Descending),
            (std::vector<std::string>{"a@9", "B@4", "AB@11", "A\x01@12", "A@6", "9x@10", "10@1", "0010@5", "9@3",
                                      "1@8", "000@7", "@2"}));
}

TEST(RowOrder, RowsOutsideTheStoreAndAnEmptyRangeGiveWhatIsThere) {
  RowStore store(RowStore::Freezing::OnCaller);
  Fill(store, {"3", "1", "2"});
  EXPECT_EQ(SortRows(store, 0, 1, 100, SortDirection::Ascending), (std::vector<int>{2, 3, 1}));
  EXPECT_EQ(SortRows(store, 0, -5, 2, SortDirection::Ascending), (std::vector<int>{1, 0}));  // "3", then "title"
  EXPECT_TRUE(SortRows(store, 0, 3, 3, SortDirection::Ascending).empty());
  // No such column: every cell empty, the rows as they were.
  EXPECT_EQ(SortRows(store, 7, 1, 4, SortDirection::Ascending), (std::vector<int>{1, 2, 3}));
}

TEST(RowOrder, SortsWhatTheGridShows) {
  // Card numbers masked in the middle: rows that differ only there tie.
  const ShownCell masked = [](std::string_view stored, std::string& room) -> std::string_view {
    room.assign(stored);
    if (room.size() > 10) std::fill(room.begin() + 6, room.end() - 4, '*');
    return room;
  };
  EXPECT_EQ(Sorted({"4111119999991111", "4111110000001111", "4000000000000002"}, SortDirection::Ascending, masked),
            (std::vector<std::string>{"4000000000000002@3", "4111119999991111@1", "4111110000001111@2"}));
}

TEST(RowOrder, AgreesWithAPlainSortOnRandomColumns) {
  std::mt19937 random(20261209);
  const std::string letters = "0000123456789AaBZ \x80\xFF";
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    const int rows = 1 + static_cast<int>(random() % 300);
    // Long texts that share a beginning of 0 to 200 bytes, so that ties run past one piece or several.
    const std::string shared(random() % 200, static_cast<char>('A' + random() % 3));
    const std::string digits(random() % 150, static_cast<char>('0' + random() % 10));
    std::vector<std::string> cells;
    for (int row = 0; row < rows; ++row) {
      std::string text;
      switch (random() % 4) {
        case 0: break;  // empty
        case 1: text = std::to_string(random() % 1000); break;
        case 2: text = shared; break;
        default: text = random() % 2 == 0 ? shared : std::string(); break;
      }
      const std::size_t more = random() % 5;
      for (std::size_t i = 0; i < more; ++i) text += letters[random() % letters.size()];
      if (random() % 8 == 0) text = std::string(random() % 30, '0') + std::to_string(random() % 100);
      // Numbers too long for 64 bits, tied over their first pieces.
      if (random() % 8 == 0) text = std::to_string(1 + random() % 9) + digits + std::to_string(random() % 1000);
      cells.push_back(text);
    }
    for (const SortDirection direction : {SortDirection::Ascending, SortDirection::Descending}) {
      EXPECT_EQ(Sorted(cells, direction), PlainSorted(cells, direction));
    }
  }
}

// Enough rows that the two halves are sorted at once and merged: ties
// across the halves keep their rows' order.
TEST(RowOrder, ManyRowsSortInHalvesAndMergeAsOne) {
  std::mt19937 random(7);
  std::vector<std::string> cells(70'000);
  for (std::string& text : cells) {
    switch (random() % 3) {
      case 0: text = std::to_string(random() % 500); break;
      case 1: text = std::string(1 + random() % 20, static_cast<char>('A' + random() % 4)); break;
      default: break;  // empty
    }
  }
  for (const SortDirection direction : {SortDirection::Ascending, SortDirection::Descending}) {
    EXPECT_EQ(Sorted(cells, direction), PlainSorted(cells, direction));
  }
}

}  // namespace
}  // namespace kalvrin
