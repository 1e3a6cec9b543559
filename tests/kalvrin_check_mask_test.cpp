// kalvrin-check --mask-pan: no card number of a generated file shows whole in
// any output, and every masked output has the rows and columns of the clear
// one: the masked text differs only where it shows '*'.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "testgen/filegen.h"
#include "iso/result_grid.h"
#include "support/check_runner.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::ChildProcess;

constexpr char kMask = '*';
const int kPanColumn = kElementColumns[2];
const int kTrack2Column = kElementColumns[35];

std::vector<std::string> CsvCells(std::string_view line) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
      cells.back() += '"';
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      cells.emplace_back();
    } else {
      cells.back() += c;
    }
  }
  return cells;
}

// The cells of a CSV line without quoted fields (the generated grid has
// none: no cell holds a comma or a quotation mark).
std::vector<std::string_view> PlainCsvCells(std::string_view line) {
  std::vector<std::string_view> cells;
  cells.reserve(kGridColumnCount);
  for (std::size_t at = 0;;) {
    const std::size_t end = line.find(',', at);
    cells.push_back(line.substr(at, end - at));
    if (end == std::string_view::npos) return cells;
    at = end + 1;
  }
}

// The card numbers of one clear row of the grid: element 2, and the number
// before the separator of element 35.
template <typename Cell>
std::vector<std::string> CardNumbersOf(const std::vector<Cell>& cells) {
  std::vector<std::string> numbers;
  if (!cells[kPanColumn].empty()) numbers.emplace_back(cells[kPanColumn]);
  const std::string_view track = cells[kTrack2Column];
  if (const std::size_t end = track.find('='); end != std::string::npos && end > 0) numbers.emplace_back(track.substr(0, end));
  return numbers;
}

// The same line, masked: as long, and unlike only where it shows '*'.
::testing::AssertionResult MaskedLike(std::string_view clear, std::string_view masked) {
  if (clear.size() != masked.size()) {
    return ::testing::AssertionFailure() << "lengths " << clear.size() << " and " << masked.size() << ":\n"
                                         << clear << "\n" << masked;
  }
  for (std::size_t i = 0; i < clear.size(); ++i) {
    if (clear[i] != masked[i] && masked[i] != kMask) {
      return ::testing::AssertionFailure() << "at " << i << ":\n" << clear << "\n" << masked;
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return lines;
}

// Every run of digits in the text that is as long as a card number.
bool HoldsAnyOf(std::string_view text, const std::unordered_set<std::string>& numbers) {
  for (std::size_t i = 0; i < text.size();) {
    std::size_t end = i;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    for (std::size_t length = 12; length <= 19 && i + length <= end; ++length) {
      for (std::size_t at = i; at + length <= end; ++at) {
        if (numbers.count(std::string(text.substr(at, length))) != 0) return true;
      }
    }
    i = end == i ? i + 1 : end;
  }
  return false;
}

// Every output form on a file of some thousand messages, in-process.
TEST(KalvrinCheckMaskPan, EveryOutputHidesEveryCardNumber) {
  filegen::FileOptions options;
  options.size = 3000 * filegen::kRecordLength;
  options.seed = 35;
  const test::TempFile file(filegen::GenerateFileBytes(options));

  // All the file's card numbers, from the clear grid.
  const test::Printed clearCsv = test::Check({"iso", file.str(), "--csv"});
  std::unordered_set<std::string> numbers;
  for (std::string_view line : Lines(clearCsv.out)) {
    for (std::string& number : CardNumbersOf(CsvCells(line))) numbers.insert(std::move(number));
  }
  ASSERT_GT(numbers.size(), 2400u);  // element 2 in every transaction; the 1542 closing each batch has none
  ASSERT_TRUE(HoldsAnyOf(clearCsv.out, numbers));

  const std::vector<std::vector<std::string>> forms = {
      {"iso"}, {"iso", "--csv"}, {"iso", "--json"}, {"iso", "--elements"}, {"iso", "--elements", "--json"}, {"mac"},
      {"mac", "--json"}};
  for (const std::vector<std::string>& form : forms) {
    SCOPED_TRACE(testing::PrintToString(form));
    std::vector<std::string> args = form;
    args.insert(args.begin() + 1, file.str());
    const test::Printed clear = test::Check(args);
    args.push_back("--mask-pan");
    const test::Printed masked = test::Check(args);
    EXPECT_EQ(masked.exitCode, clear.exitCode);
    EXPECT_EQ(masked.err, clear.err);
    EXPECT_FALSE(HoldsAnyOf(masked.out, numbers));
    const std::vector<std::string_view> clearLines = Lines(clear.out);
    const std::vector<std::string_view> maskedLines = Lines(masked.out);
    ASSERT_EQ(maskedLines.size(), clearLines.size());
    for (std::size_t i = 0; i < clearLines.size(); ++i) ASSERT_TRUE(MaskedLike(clearLines[i], maskedLines[i]));
  }
}

// A million messages through the built program: the masked grid beside the
// clear one, row by row, as both come out of their pipes.
TEST(KalvrinCheckMaskPan, AMillionMessages) {
  filegen::FileOptions options;
  options.size = 1'000'000 * filegen::kRecordLength;
  options.seed = 8583;
  filegen::FileSummary summary;
  const test::TempFile file("");
  ASSERT_TRUE(filegen::WriteGeneratedFile(file.path(), options, &summary));
  ASSERT_EQ(summary.messages, 1'000'000u);

  const std::string program = test::CheckProgramPath();
  ChildProcess clear({program, "iso", file.str(), "--csv"});
  ChildProcess masked({program, "iso", file.str(), "--csv", "--mask-pan"});
  std::string clearLine;
  std::string maskedLine;
  std::uint64_t rows = 0;
  std::uint64_t numbers = 0;
  while (clear.ReadLine(clearLine)) {
    ASSERT_TRUE(masked.ReadLine(maskedLine)) << "the masked grid ends at row " << rows;
    ASSERT_EQ(clearLine.find('"'), std::string::npos) << clearLine;
    const std::vector<std::string_view> cells = PlainCsvCells(clearLine);
    ASSERT_EQ(cells.size(), static_cast<std::size_t>(kGridColumnCount)) << clearLine;
    ASSERT_TRUE(MaskedLike(clearLine, maskedLine));
    if (rows > 0) {
      for (const std::string& number : CardNumbersOf(cells)) {
        ASSERT_EQ(maskedLine.find(number), std::string::npos) << maskedLine;
        ++numbers;
      }
    }
    ++rows;
  }
  EXPECT_FALSE(masked.ReadLine(maskedLine)) << "the masked grid has more rows";
  EXPECT_EQ(clear.Wait(), 0);
  EXPECT_EQ(masked.Wait(), 0);
  EXPECT_EQ(rows, 1'000'001u);  // the title row and one row per message
  EXPECT_GT(numbers, 1'000'000u);  // element 2 in each batch message, element 35 in about half
}

}  // namespace
}  // namespace kalvrin
