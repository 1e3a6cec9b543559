// The plain-container surface, and the decimal reader and writer shared by the core.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "decimal_text.h"
#include "defines.h"
#include "headless/headless_surface.h"
#include "iso/grid_csv.h"

namespace kalvrin {
namespace {

TEST(TextToNumber, ReadsLikeAtol) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"", 0},       {"abc", 0},          {"42", 42},           {"  \t+17x", 17},
      {"-05", -5},   {"- 5", 0},          {"+-3", 0},           {"07", 7},
      {"12 34", 12}, {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"99999999999999999999", 2147483647}, {"-99999999999999999999", -2147483647 - 1}};
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(TextToNumber(text), expected);
  }
}

// Copies and moves read as the original, also once it is gone or was
// made from another number.
TEST(DecimalText, CopiesReadAsTheOriginal) {
  const std::int64_t values[] = {0, -7, 42, 1'000'000, INT64_MAX, INT64_MIN};
  std::vector<DecimalText> kept;
  for (const std::int64_t value : values) kept.push_back(DecimalText(value));  // moved in, copied as the vector grows
  const std::string_view expected[] = {"0", "-7", "42", "1000000", "9223372036854775807", "-9223372036854775808"};
  for (std::size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i].view(), expected[i]);
  DecimalText copy = kept.back();
  kept.clear();
  EXPECT_EQ(copy.view(), "-9223372036854775808");
  copy = DecimalText(12);
  EXPECT_EQ(copy.view(), "12");
}

TEST(HeadlessSurface, StartsAsTheWindowDoes) {
  HeadlessSurface s;
  EXPECT_EQ(s.progressMin(), 0);
  EXPECT_EQ(s.progressMax(), 100);
  EXPECT_EQ(s.progressPosition(), 0);
  EXPECT_EQ(s.gridRowCount(), 0);
  EXPECT_EQ(s.editText(Edit::CalcMacNSP), "");
  EXPECT_EQ(s.editColour(Edit::CalcMacAll), TextColour::Black);
}

TEST(HeadlessSurface, CellsOutsideTheGridAreDropped) {
  HeadlessSurface s;
  s.setGridColCount(3);
  s.setGridRowCount(2);
  s.setGridCell(1, 1, "x");
  s.setGridCell(3, 1, "outside");
  s.setGridCell(0, 2, "outside");
  s.setGridCell(-1, 0, "outside");
  EXPECT_EQ(s.row(1), (std::vector<std::string>{"", "x", ""}));
  s.setGridCell(1, 1, "longer text\xE9");
  s.setGridCell(0, 1, "a");
  EXPECT_EQ(s.cell(1, 1), "longer text\xE9");
  s.setGridCell(1, 1, "");
  EXPECT_EQ(s.row(1), (std::vector<std::string>{"a", "", ""}));
  s.setGridRowCount(1);
  s.setGridRowCount(2);
  EXPECT_EQ(s.cell(0, 1), "") << "a row that comes back starts empty";
  s.setGridColCount(1);
  s.setGridColCount(3);
  EXPECT_EQ(s.cell(0, 0), "");
}

TEST(HeadlessSurface, StreamsRowsThatNoLongerChange) {
  HeadlessSurface s;
  std::vector<std::pair<int, std::string>> seen;
  s.setGridColCount(2);
  s.setRowSink([&](int row, std::span<const std::string_view> cells) { seen.emplace_back(row, cells[0]); }, 2);
  s.setGridRowCount(2);
  s.setGridCell(0, 0, "title");
  s.setGridCell(0, 1, "one");
  EXPECT_TRUE(seen.empty());
  s.setGridRowCount(3);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], (std::pair<int, std::string>{0, "title"}));
  s.setGridCell(0, 2, "two");
  s.setGridRowCount(4);
  s.setGridCell(0, 1, "late write to a streamed row");
  s.setGridRowCount(3);
  s.flushRows();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1], (std::pair<int, std::string>{1, "one"}));
  EXPECT_EQ(seen[2], (std::pair<int, std::string>{2, "two"}));
  EXPECT_EQ(s.cell(0, 1), "");
}

// A grid grown a row at a time, as the format check grows it, past many
// rows and several hundred kilobytes of texts.
std::string TextOf(int row, int col) { return "row " + std::to_string(row) + " col " + std::to_string(col) + std::string(static_cast<std::size_t>(row % 90), '#'); }

void GrowAndFill(HeadlessSurface& s, int rows) {
  for (int row = 1; row < rows; ++row) {
    s.setGridRowCount(row + 2);  // one empty row beyond the one written, as in a run
    for (int col = 0; col < 3; ++col) s.setGridCell(col, row, TextOf(row, col));
    s.setGridRowOffset(row, 1000 + row);
  }
}

// A cell written over and over, longer and shorter, among cells written
// once: the row's buffer grows and drops what was written over, and every
// other text stays as it was, before and after the row is frozen.
TEST(HeadlessSurface, RewrittenCellsLeaveTheOthersAlone) {
  HeadlessSurface s;
  s.setGridColCount(4);
  s.setGridRowCount(2);
  s.setGridCell(0, 1, "first");
  s.setGridCell(3, 1, std::string(300, 'z'));
  std::string last;
  std::string other;
  for (int round = 0; round < 1998; ++round) {
    last = std::string(static_cast<std::size_t>(round % 700), static_cast<char>('a' + round % 26));
    s.setGridCell(1, 1, last);
    if (round % 3 == 0) {
      other = round % 2 == 0 ? "" : std::to_string(round);
      s.setGridCell(2, 1, other);
    }
  }
  ASSERT_FALSE(last.empty());
  ASSERT_EQ(other, "1995");
  const std::vector<std::string> expected{"first", last, other, std::string(300, 'z')};
  EXPECT_EQ(s.row(1), expected);
  s.setGridRowCount(40);  // frozen into a block
  EXPECT_EQ(s.row(1), expected);
  s.setGridCell(0, 1, "again");  // mutable once more, from the frozen texts
  EXPECT_EQ(s.row(1), (std::vector<std::string>{"again", last, other, std::string(300, 'z')}));
}

// Status texts replace each other whatever their lengths, longer, shorter
// or empty, and a panel's own text cut shorter.
TEST(HeadlessSurface, StatusTextsReplaceEachOther) {
  HeadlessSurface s;
  for (const std::string& text : std::vector<std::string>{"PMAP P: 35", "SMAP S: 128", "x", "", std::string(100, 'L'), "PMAP P: 2"}) {
    s.setStatus(2, text);
    EXPECT_EQ(s.status(2), text);
  }
  s.setStatus(1, "Format processed");
  const std::string before = s.status(1);
  s.setStatus(1, std::string_view(before).substr(7));
  EXPECT_EQ(s.status(1), "processed");
  EXPECT_EQ(s.status(2), "PMAP P: 2");
  s.setStatus(3, "outside");
  EXPECT_EQ(s.status(3), "");
}

TEST(HeadlessSurface, RowsFarAboveTheEndKeepTheirTextsAndTakeLateWrites) {
  constexpr int kRows = 6000;
  HeadlessSurface s;
  s.setGridColCount(3);
  s.setGridRowCount(1);
  GrowAndFill(s, kRows);
  for (const int row : {1, 2, 777, kRows / 2, kRows - 2, kRows - 1}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(s.row(row), (std::vector<std::string>{TextOf(row, 0), TextOf(row, 1), TextOf(row, 2)}));
    EXPECT_EQ(s.gridRowOffset(row), 1000 + row);
  }
  // Writes to an old row: replaced, cleared and kept texts, and it stays so
  // while the grid grows on.
  s.setGridCell(1, 777, "changed");
  s.setGridCell(2, 777, "");
  s.setGridCell(2, 778, "x");
  s.setGridRowCount(kRows + 50);
  EXPECT_EQ(s.row(777), (std::vector<std::string>{TextOf(777, 0), "changed", ""}));
  EXPECT_EQ(s.row(778), (std::vector<std::string>{TextOf(778, 0), TextOf(778, 1), "x"}));
  EXPECT_EQ(s.row(779), (std::vector<std::string>{TextOf(779, 0), TextOf(779, 1), TextOf(779, 2)}));
  // Fewer columns drop the texts of old rows too, and they do not come back.
  s.setGridColCount(1);
  s.setGridColCount(3);
  for (const int row : {2, 777, kRows - 2}) {
    SCOPED_TRACE(row);
    EXPECT_EQ(s.row(row), (std::vector<std::string>{TextOf(row, 0), "", ""}));
  }
}

TEST(HeadlessSurface, StreamsEveryRowOfALargeGridInOrder) {
  constexpr int kRows = 6000;
  for (const int liveRows : {1, 2, 100}) {
    SCOPED_TRACE(liveRows);
    HeadlessSurface s;
    std::vector<std::string> seen;
    int expectedRow = 0;
    s.setGridColCount(3);
    s.setRowSink(
        [&](int row, std::span<const std::string_view> cells) {
          EXPECT_EQ(row, expectedRow++);
          seen.emplace_back(cells[2]);
        },
        liveRows);
    s.setGridRowCount(1);
    GrowAndFill(s, kRows);
    s.setGridRowCount(kRows);  // the trailing empty row goes, as at the end of a run
    s.flushRows();
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(kRows));
    std::size_t matching = 0;
    for (int row = 1; row < kRows; ++row) matching += seen[static_cast<std::size_t>(row)] == TextOf(row, 2);
    // A sink that keeps fewer live rows than the one being written sees rows
    // before their texts arrive.
    EXPECT_EQ(matching, liveRows >= 2 ? static_cast<std::size_t>(kRows - 1) : 0u);
  }
}

}  // namespace
}  // namespace kalvrin

namespace kalvrin {
namespace {

// A record's fields: plain ASCII copied whole, Latin-1 bytes as UTF-8 (also
// inside quotes), quotes doubled, and quotes around any field that holds a
// comma, a quote or a line end.
TEST(CsvRecords, QuoteOnlyWhatNeedsItAndWriteLatin1AsUtf8) {
  const std::vector<std::string_view> cells = {
      "plain", "caf\xE9", "a,b", "say \"hi\"", "line\r\nend", "", "\xFF\"\xE9", "\xC0\xC1"};
  std::string record = "kept|";
  AppendCsvRow(record, cells);
  EXPECT_EQ(record,
            "kept|plain,caf\xC3\xA9,\"a,b\",\"say \"\"hi\"\"\",\"line\r\nend\",,\"\xC3\xBF\"\"\xC3\xA9\","
            "\xC3\x80\xC3\x81\r\n");
}

}  // namespace
}  // namespace kalvrin
