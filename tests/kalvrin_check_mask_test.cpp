// kalvrin-check --mask-pan: no card number of a generated file shows whole in
// any output, and every masked output has the rows and columns of the clear
// one: the masked text differs only where it shows '*'.
#include <gtest/gtest.h>

#include <cctype>
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

// Every output form on a file of some thousand messages, in-process; the
// faults make verify quote card numbers in its findings.
TEST(KalvrinCheckMaskPan, EveryOutputHidesEveryCardNumber) {
  filegen::FileOptions options;
  options.size = 3000 * filegen::kRecordLength;
  options.seed = 35;
  for (const char* rule : {"element.pan-luhn", "batch.duplicate", "element.track2-mismatch"}) {
    for (int i = 0; i < 5; ++i) options.faults.push_back({rule, 0});
  }
  const test::TempFile file(filegen::GenerateFileBytes(options));

  // All the file's card numbers, from the clear grid.
  const test::Printed clearCsv = test::Check({"iso", file.str(), "--csv"});
  std::unordered_set<std::string> numbers;
  for (std::string_view line : Lines(clearCsv.out)) {
    for (std::string& number : CardNumbersOf(CsvCells(line))) numbers.insert(std::move(number));
  }
  ASSERT_GT(numbers.size(), 2500u);  // element 2 in every transaction message
  ASSERT_TRUE(HoldsAnyOf(clearCsv.out, numbers));

  const std::vector<std::vector<std::string>> forms = {
      {"iso"}, {"iso", "--csv"}, {"iso", "--json"}, {"iso", "--elements"}, {"iso", "--elements", "--json"}, {"mac"},
      {"mac", "--json"}, {"verify"}, {"verify", "--json"}, {"verify", "--csv"}};
  for (const std::vector<std::string>& form : forms) {
    SCOPED_TRACE(testing::PrintToString(form));
    std::vector<std::string> args = form;
    args.insert(args.begin() + 1, file.str());
    const test::Printed clear = test::Check(args);
    args.push_back("--mask-pan");
    const test::Printed masked = test::Check(args);
    if (form[0] == "verify") {
      // the faults were found, and the card numbers they quote are hidden
      EXPECT_TRUE(HoldsAnyOf(clear.out, numbers)) << clear.out;
    }
    EXPECT_EQ(masked.exitCode, clear.exitCode);
    EXPECT_EQ(masked.err, clear.err);
    EXPECT_FALSE(HoldsAnyOf(masked.out, numbers));
    const std::vector<std::string_view> clearLines = Lines(clear.out);
    const std::vector<std::string_view> maskedLines = Lines(masked.out);
    ASSERT_EQ(maskedLines.size(), clearLines.size());
    for (std::size_t i = 0; i < clearLines.size(); ++i) ASSERT_TRUE(MaskedLike(clearLines[i], maskedLines[i]));
  }
}

// report masks by default in every form it writes, and shows the numbers
// only when asked.
TEST(KalvrinCheckMaskPan, ReportHidesEveryCardNumberUnlessAsked) {
  filegen::FileOptions options;
  options.size = 1000 * filegen::kRecordLength;
  options.seed = 36;
  for (const char* rule : {"element.pan-luhn", "batch.duplicate", "element.track2-mismatch"}) {
    for (int i = 0; i < 5; ++i) options.faults.push_back({rule, 0});
  }
  const test::TempFile file(filegen::GenerateFileBytes(options));
  std::unordered_set<std::string> numbers;
  const std::string grid = test::Check({"iso", file.str(), "--csv"}).out;  // outlives the lines that view it
  for (std::string_view line : Lines(grid)) {
    for (std::string& number : CardNumbersOf(CsvCells(line))) numbers.insert(std::move(number));
  }
  ASSERT_GT(numbers.size(), 500u);
  const std::string html = file.str() + ".html";
  const std::string junit = file.str() + ".xml";
  const auto written = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"report", file.str(), "--html", html, "--junit", junit};
    args.insert(args.end(), extra.begin(), extra.end());
    const test::Printed printed = test::Check(args);
    return printed.out + test::ReadFileBytes(html) + test::ReadFileBytes(junit);
  };
  EXPECT_FALSE(HoldsAnyOf(test::Check({"report", file.str()}).out, numbers));
  EXPECT_FALSE(HoldsAnyOf(written({"--json"}), numbers));
  EXPECT_TRUE(HoldsAnyOf(written({"--json", "--no-mask-pan"}), numbers));
}

// A million messages through the built program: the masked grid beside the
// clear one, row by row, as both come out of their pipes.
// A lower-case bitmap keeps the decoder from reading the card number as P2,
// so it shows as stray text: masked there too, while the amounts and the
// other elements' digits stay as they are.
TEST(KalvrinCheckMaskPan, CardNumberInStrayTextIsMasked) {
  const std::string card = "4929123456781234";
  const std::string amount = "000000012345";
  std::string message = filegen::BuildMessage("1240", {{2, card}, {3, "200000"}, {4, amount}, {71, "00000002"}});
  const std::size_t bitmap = 4;  // after the MTI
  for (std::size_t at = bitmap; at < bitmap + 16; ++at) message[at] = static_cast<char>(std::tolower(message[at]));
  const std::string first = filegen::BuildMessage("1240", {{3, "200000"}, {4, amount}, {71, "00000001"}});
  const test::TempFile file(first + "\r\n" + message + "\r\n");
  // the card number's first digits are read as S71, the rest is stray text
  const std::string stray = card.substr(6) + "200000";
  const test::Printed clear = test::Check({"verify", file.str()});
  ASSERT_NE(clear.out.find("text '" + stray + "'"), std::string::npos) << clear.out;
  for (const char* form : {"--json", "--csv", "--text"}) {
    SCOPED_TRACE(form);
    std::vector<std::string> args{"verify", file.str(), "--mask-pan"};
    if (std::string(form) != "--text") args.push_back(form);
    const test::Printed masked = test::Check(args);
    EXPECT_EQ(masked.out.find(stray), std::string::npos) << masked.out;
    // the digits run on from S71 through the amount: all the shown ones are inside that run
    EXPECT_NE(masked.out.find("text '" + std::string(16, '*') + "'"), std::string::npos) << masked.out;
    // an element's value is no card number: the message number stays
    EXPECT_NE(masked.out.find("S71 '16" + card.substr(0, 6) + "'"), std::string::npos) << masked.out;
  }
}

// A card number that the stray text holds only in part: split between the
// message's last element and the text after it, or cut where the text's
// first 16 characters end. Neither part has 12 digits, but the run they
// belong to has, and masked output shows no more of it than of a card number.
TEST(KalvrinCheckMaskPan, CardNumberCutAtTheStrayTextsEdgesIsMasked) {
  const std::string card = "4929123456781234";
  const std::string first = filegen::BuildMessage("1240", {{3, "200000"}, {71, "00000001"}});
  const std::string split = filegen::BuildMessage("1240", {{3, "200000"}, {71, card.substr(0, 8)}});
  const test::TempFile file(first + "\r\n" + split + card.substr(8) + " and more\r\n" + first + "\r\nABCDEFGH" + card +
                            " end\r\n" + first + "\r\n");
  const test::Printed clear = test::Check({"verify", file.str()});
  ASSERT_NE(clear.out.find("text '" + card.substr(8) + " and mor'"), std::string::npos) << clear.out;
  ASSERT_NE(clear.out.find("text 'ABCDEFGH" + card.substr(0, 8) + "'"), std::string::npos) << clear.out;
  for (const char* form : {"--json", "--csv", "--text"}) {
    SCOPED_TRACE(form);
    std::vector<std::string> args{"verify", file.str(), "--mask-pan"};
    if (std::string(form) != "--text") args.push_back(form);
    const test::Printed masked = test::Check(args);
    EXPECT_EQ(masked.out.find(card.substr(8)), std::string::npos) << masked.out;
    EXPECT_NE(masked.out.find("text '****" + card.substr(12) + " and mor'"), std::string::npos) << masked.out;
    EXPECT_NE(masked.out.find("text 'ABCDEFGH" + card.substr(0, 6) + "**'"), std::string::npos) << masked.out;
  }
}

// After a bad length prefix the decoder places nothing more of the message:
// --elements lists the element up to its prefix and the error quotes the
// prefix alone, so the card number behind it shows in no output at all.
TEST(KalvrinCheckMaskPan, NothingAfterABadPrefixShows) {
  std::string bytes = test::ReadFileBytes(test::SamplePath("batch-nsp.dat"));
  const std::size_t prefix = bytes.find("16429141");
  ASSERT_NE(prefix, std::string::npos);
  bytes.replace(prefix, 2, "1A");
  const std::string card = bytes.substr(prefix + 2, 16);
  const test::TempFile file(bytes);
  const std::vector<std::vector<std::string>> runs = {
      {"iso", file.str(), "--elements"}, {"iso", file.str(), "--elements", "--json"}, {"iso", file.str()},
      {"iso", file.str(), "--csv"},      {"iso", file.str(), "--json"},                 {"verify", file.str()}};
  for (std::vector<std::string> args : runs) {
    SCOPED_TRACE(args.size() > 2 ? args[0] + " " + args[2] : args[0]);
    args.push_back("--mask-pan");
    const test::Printed printed = test::Check(args);
    // the grid's CSV holds no error text
    if (args[2] != "--csv") {
      EXPECT_NE(printed.out.find("'1A'"), std::string::npos) << printed.out;
    }
    // not even the part that masking would keep
    EXPECT_EQ(printed.out.find(card.substr(0, 6)), std::string::npos) << printed.out;
    EXPECT_EQ(printed.out.find(card.substr(12)), std::string::npos) << printed.out;
  }
}

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
