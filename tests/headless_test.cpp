// The plain-container surface and the decimal reader shared by the core.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "defines.h"
#include "headless/headless_surface.h"

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
  s.setRowSink([&](int row, const std::vector<std::string>& cells) { seen.emplace_back(row, cells[0]); }, 2);
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

}  // namespace
}  // namespace kalvrin
