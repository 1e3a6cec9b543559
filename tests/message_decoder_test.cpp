// The message decoder and where things stand in the file: element offsets
// and byte counts, the stops, agreement with the format check's grid on
// generated files, the grid rows' offsets, and kalvrin-check iso --elements.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testgen/filegen.h"
#include "headless/check_app.h"
#include "headless/headless_surface.h"
#include "io/transaction_file.h"
#include "iso/element_table.h"
#include "iso/format_check.h"
#include "iso/grid_csv.h"
#include "iso/iso_commands.h"
#include "iso/message_decoder.h"
#include "iso/result_grid.h"
#include "support/check_runner.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::TempFile;

// A window right after start-up, on which the ISO button is pressed.
struct Window {
  HeadlessSurface surface;
  FormatCheck check{surface};
  Window() { StartUpState(check, surface); }
  int Iso(const std::string& path) { return IsoCommand(check, surface, path); }
  int DataRows() const { return surface.gridRowCount() - 1; }
};

// A file written piece by piece; each piece that is a part of a message
// (MTI, bitmap, element) remembers where its bytes land.
struct FileBuilder {
  std::string bytes;
  std::map<std::string, FileSpan> spans;  // "m1.mti", "m1.35", ...

  FileBuilder& Put(std::string_view raw) {
    bytes.append(raw);
    return *this;
  }
  // A piece that starts and ends with a character of the message, whatever
  // control characters stand inside it.
  FileBuilder& Part(const std::string& name, std::string_view raw) {
    spans[name] = {static_cast<std::int64_t>(bytes.size()), static_cast<std::int64_t>(raw.size())};
    return Put(raw);
  }
};

std::string Bitmaps(const std::vector<int>& elements) {
  std::map<int, std::string> marked;
  for (int element : elements) marked[element] = "";
  return filegen::EncodeBitmaps(marked);
}

struct ExpectedElement {
  int number;
  ElementFormat format;
  std::string prefix;
  std::int32_t length;
  std::string value;
};

// ---- offsets and byte counts ------------------------------------------------

// Two messages back to back, the first with CR LF inside its MTI, between
// its bitmaps, inside element data and inside a prefix, a zero-length
// prefix, an LLL element and secondary elements; the second ends at the
// file's last byte.
TEST(DecoderOffsets, ElementsAcrossLineEndsAndMessagesBackToBack) {
  FileBuilder file;
  const std::string maps = Bitmaps({2, 35, 44, 48, 65, 71, 128});
  file.Put("HEADER\r\n");
  file.Part("m1.mti", "11\r\n40").Part("m1.pmap", maps.substr(0, 16)).Put("\r\n").Part("m1.smap", maps.substr(16));
  file.Part("m1.2", "164111111\r\n111111111").Put("\r\n");
  file.Part("m1.35", "0\r\n5ABCDE").Part("m1.44", "00").Part("m1.48", "003XYZ");
  file.Part("m1.65", "ABCDEFGH").Part("m1.71", "0000\r\n0001").Part("m1.128", "4F47F843");
  const std::string second = filegen::BuildMessage("1240", {{3, "000000"}, {43, "SHOP\xC9"}});
  file.Part("m2.mti", second.substr(0, 4)).Part("m2.pmap", second.substr(4, 16)).Part("m2.smap", second.substr(20, 16));
  file.Part("m2.3", second.substr(36, 6)).Part("m2.43", second.substr(42));
  const TempFile temp(file.bytes);

  Window w;
  ASSERT_NE(w.Iso(temp.str()), 0);
  ASSERT_EQ(w.DataRows(), 2);

  const std::map<std::string, std::vector<ExpectedElement>> expected = {
      {"m1",
       {{2, ElementFormat::LL, "16", 16, "4111111111111111"},
        {35, ElementFormat::LL, "05", 5, "ABCDE"},
        {44, ElementFormat::LL, "00", 0, ""},
        {48, ElementFormat::LLL, "003", 3, "XYZ"},
        {65, ElementFormat::Fixed, "", 8, "ABCDEFGH"},
        {71, ElementFormat::Fixed, "", 8, "00000001"},
        {128, ElementFormat::Fixed, "", 8, "4F47F843"}}},
      {"m2", {{3, ElementFormat::Fixed, "", 6, "000000"}, {43, ElementFormat::LL, "05", 5, "SHOP\xC9"}}},
  };
  MessageReader reader(temp.str());
  for (int row = 1; row <= 2; ++row) {
    const std::string m = "m" + std::to_string(row);
    SCOPED_TRACE(m);
    const FileSpan mti = file.spans[m + ".mti"];
    ASSERT_EQ(w.surface.gridRowOffset(row), mti.offset);
    const DecodedMessage message = reader.Decode(mti.offset);
    EXPECT_EQ(message.stop, DecodeStop::Complete);
    EXPECT_EQ(message.mti, w.surface.cell(kTCodeColumn, row));
    for (const auto& [name, span] : {std::pair{".mti", message.mtiSpan}, std::pair{".pmap", message.primarySpan},
                                     std::pair{".smap", message.secondarySpan}}) {
      EXPECT_EQ(span.offset, file.spans[m + name].offset) << name;
      EXPECT_EQ(span.bytes, file.spans[m + name].bytes) << name;
    }
    const std::vector<ExpectedElement>& elements = expected.at(m);
    ASSERT_EQ(message.elements.size(), elements.size());
    FileSpan last{};
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const DecodedElement& got = message.elements[i];
      const ExpectedElement& want = elements[i];
      SCOPED_TRACE("element " + std::to_string(want.number));
      EXPECT_EQ(got.number, want.number);
      EXPECT_EQ(got.format, want.format);
      EXPECT_EQ(got.prefix, want.prefix);
      EXPECT_EQ(got.length, want.length);
      EXPECT_EQ(got.value, want.value);
      EXPECT_TRUE(got.complete);
      const FileSpan span = file.spans[m + "." + std::to_string(want.number)];
      EXPECT_EQ(got.span.offset, span.offset);
      EXPECT_EQ(got.span.bytes, span.bytes);
      last = span;
    }
    // The message runs from its MTI's first digit to its last element's last byte.
    EXPECT_EQ(message.span.offset, mti.offset);
    EXPECT_EQ(message.span.offset + message.span.bytes, last.offset + last.bytes);
  }
}

// ---- where decoding stops ------------------------------------------------------

TEST(DecoderStops, BadPrefixesNameTheFormatChecksTextAndOffset) {
  struct Case {
    const char* name;
    int element;
    std::string raw;  // the bad element as the file holds it
    std::string status;
  };
  const Case cases[] = {
      {"a letter in an LL prefix", 35, "1A4111", "Error Process P 35 Len: '1A'"},
      {"an LL prefix beyond the element's maximum", 35, "38" + std::string(38, '1'), "Error Process P 35 Len: '38'"},
      {"a secondary LLL prefix", 72, "0A1XYZ", "Error Process S 72 Len: '0A1'"},
      {"CR LF inside the bad prefix", 72, "0\r\nA1XYZ", "Error Process S 72 Len: '0A1'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FileBuilder file;
    file.Put(filegen::BuildMessage("1644", {{24, "692"}}) + "  \r\n");
    const std::string maps = Bitmaps({3, c.element});
    file.Part("mti", "1240").Put(maps).Part("3", "000000").Part("bad", c.raw).Put("  more bytes");
    const TempFile temp(file.bytes);

    Window w;
    EXPECT_EQ(w.Iso(temp.str()), 0);
    ASSERT_EQ(w.DataRows(), 2);
    EXPECT_EQ(w.surface.status(kCommandPanel), c.status);
    EXPECT_EQ(w.check.ErrorOffset(), file.spans["bad"].offset);

    const DecodedMessage message = DecodeMessageAt(temp.str(), w.surface.gridRowOffset(2));
    EXPECT_EQ(message.stop, DecodeStop::BadPrefix);
    EXPECT_EQ(message.error, c.status);
    EXPECT_EQ(message.errorOffset, file.spans["bad"].offset);
    ASSERT_EQ(message.elements.size(), 2u);
    EXPECT_TRUE(message.elements[0].complete);
    EXPECT_FALSE(message.elements[1].complete);
    EXPECT_EQ(message.elements[1].span.offset, file.spans["bad"].offset);
  }
}

TEST(DecoderStops, EndOfFileMissingMessagesAndUnreadableFiles) {
  const std::string cut = filegen::BuildMessage("1140", {{3, "000000"}, {43, "SAMPLE SHOP"}});
  const std::string bytes = "  " + cut.substr(0, cut.size() - 4);  // the file ends inside element 43
  const TempFile temp(bytes);
  const auto size = static_cast<std::int64_t>(bytes.size());

  const DecodedMessage ended = DecodeMessageAt(temp.str(), 2);
  EXPECT_EQ(ended.stop, DecodeStop::EndOfFile);
  EXPECT_EQ(ended.errorOffset, size);
  ASSERT_EQ(ended.elements.size(), 2u);
  EXPECT_FALSE(ended.elements[1].complete);
  EXPECT_EQ(ended.elements[1].value, "SAMPLE ");
  EXPECT_EQ(ended.span.offset + ended.span.bytes, size);

  struct Case {
    const char* name;
    std::string path;
    std::int64_t offset;
    DecodeStop stop;
  };
  const Case cases[] = {
      {"an offset inside the bitmap", temp.str(), 8, DecodeStop::NoMessage},
      {"an offset before the MTI", temp.str(), 0, DecodeStop::NoMessage},
      {"an offset three bytes before the end", temp.str(), size - 3, DecodeStop::NoMessage},
      {"an offset past the end", temp.str(), size + 10, DecodeStop::NoMessage},
      {"a negative offset", temp.str(), -5, DecodeStop::NoMessage},
      {"a file that is not there", temp.str() + ".missing", 2, DecodeStop::CannotRead},
      {"a folder", temp.path().parent_path().string(), 0, DecodeStop::CannotRead},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DecodedMessage message = DecodeMessageAt(c.path, c.offset);
    EXPECT_EQ(message.stop, c.stop);
    EXPECT_TRUE(message.elements.empty());
  }
}

// ---- agreement with the format check -------------------------------------------

// What the grid row of a decoded message must hold, column by column: the
// MTI, complete bitmaps, and each complete element with data in its column
// (the later of two elements sharing a column wins).
std::map<int, std::string> ExpectedCells(const DecodedMessage& message) {
  std::map<int, std::string> cells;
  cells[kTCodeColumn] = message.mti;
  if (message.primaryBitmap.size() == 16) cells[kPrimaryMapColumn] = message.primaryBitmap;
  if (message.secondaryBitmap.size() == 16) cells[kSecondaryMapColumn] = message.secondaryBitmap;
  for (const DecodedElement& element : message.elements) {
    if (!element.complete || element.value.empty()) continue;
    const int column = kElementColumns[static_cast<std::size_t>(element.number)];
    if (column >= 0) cells[column] = element.value;
    if (element.number == kFunctionCodeElement) cells[kFunctionCodeColumn] = element.value;
  }
  return cells;
}

std::int64_t DataCharacters(const DecodedMessage& message) {
  std::int64_t count = 0;
  for (const DecodedElement& element : message.elements) count += static_cast<std::int64_t>(element.value.size());
  return count;
}

// Runs the format check on the file and decodes every row's message from
// its offset; each row must show exactly what the decoder found.
void ExpectDecoderAgreesWithGrid(const std::string& bytes, int expectedRows = -1) {
  const TempFile temp(bytes);
  Window w;
  const int result = w.Iso(temp.str());
  if (expectedRows >= 0) {
    ASSERT_EQ(w.DataRows(), expectedRows);
  }
  MessageReader reader(temp.str());
  for (int row = 1; row <= w.DataRows(); ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const std::int64_t offset = w.surface.gridRowOffset(row);
    ASSERT_GE(offset, 0);
    const DecodedMessage message = reader.Decode(offset);
    const bool lastRow = row == w.DataRows();
    if (!lastRow) {
      EXPECT_EQ(message.stop, DecodeStop::Complete);
    }
    const std::map<int, std::string> cells = ExpectedCells(message);
    for (int col = kTCodeColumn; col < kPadColumn; ++col) {
      const auto found = cells.find(col);
      EXPECT_EQ(w.surface.cell(col, row), found == cells.end() ? "" : found->second) << kGridColumns[col].title;
    }
    if (const std::string size = w.surface.cell(kSizeColumn, row); !size.empty()) {
      EXPECT_EQ(size, std::to_string(36 + DataCharacters(message) + 1));
    }
    if (lastRow && message.stop == DecodeStop::BadPrefix) {
      EXPECT_EQ(result, 0);
      EXPECT_EQ(message.error, w.surface.status(kCommandPanel));
      EXPECT_EQ(message.errorOffset, w.check.ErrorOffset());
    }
    if (lastRow && message.stop == DecodeStop::EndOfFile) {
      EXPECT_EQ(result, 0);
    }
  }
}

TEST(DecoderAgreement, GeneratedBatchFiles) {
  for (std::uint32_t seed : {1u, 7u, 42u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    filegen::FileSummary summary;
    const std::string bytes = filegen::GenerateFileBytes({.size = 256 * 1024, .seed = seed}, &summary);
    ExpectDecoderAgreesWithGrid(bytes, static_cast<int>(summary.messages));
  }
}

// Files no generator of batch files would write: random elements from the
// whole table, line ends anywhere (inside MTIs, bitmaps, prefixes and data),
// lower-case bitmap characters, empty and full-length elements, bytes above
// 0x7F, gaps with digits, messages back to back, and a last message that a
// bad prefix or the end of the file cuts short.
std::string MessyFile(std::uint32_t seed) {
  std::mt19937 random(seed);
  auto below = [&random](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const std::string characters = "0123456789 ABCDEFabcdef=/-.\xC9\xFF";
  constexpr const char* kTypes[] = {"1140", "1240", "1440", "1542", "1644", "1844"};
  std::string file = "HEADER RECORD\r\n";
  auto withLineEnds = [&](const std::string& raw) {
    std::string out;
    for (char c : raw) {
      out += c;
      if (below(40) == 0) out += below(2) == 0 ? "\r\n" : "\t";
    }
    return out;
  };
  for (int m = 0; m < 60; ++m) {
    std::map<int, std::string> elements;
    const int count = below(10);
    for (int i = 0; i < count; ++i) {
      const int element = 2 + below(127);
      const ElementLayout layout = kElementLayouts[static_cast<std::size_t>(element)];
      const int length = layout.prefixDigits == 0 ? layout.maxLength
                         : below(4) == 0         ? 0
                                                 : 1 + below(std::min(layout.maxLength, 120));
      std::string value;
      for (int k = 0; k < length; ++k) value += characters[static_cast<std::size_t>(below(static_cast<int>(characters.size())))];
      elements[element] = value;
    }
    std::string message = filegen::BuildMessage(kTypes[below(6)], elements);
    if (below(8) == 0) message[static_cast<std::size_t>(4 + below(32))] = 'a';  // a bitmap character that marks nothing
    file += withLineEnds(message);
    switch (below(4)) {
      case 0: break;  // the next MTI follows at once
      case 1: file += std::string(static_cast<std::size_t>(below(12)), ' ') + "\r\n"; break;
      case 2: file += " 98 7\r\n"; break;  // digits in the gap feed the MTI search only
      default: file += "  X\t\r\n"; break;
    }
  }
  if (seed % 2 == 0) {
    file += filegen::BuildRawMessage("1240", {{3, "000000"}, {35, "1A4111"}}) + " after";
  } else {
    file += filegen::BuildMessage("1140", {{2, "4111111111111111"}}).substr(0, 40);
  }
  return file;
}

TEST(DecoderAgreement, MessyFiles) {
  for (std::uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    ExpectDecoderAgreesWithGrid(MessyFile(seed));
  }
}

// ---- the grid rows' offsets ------------------------------------------------------

TEST(RowOffsets, RowsLoseTheirOffsetsWhenTheGridIsSetUpAgain) {
  const std::string message = filegen::BuildMessage("1140", {{3, "000000"}});
  const TempFile temp("  " + message + "  " + message);
  Window w;
  ASSERT_NE(w.Iso(temp.str()), 0);
  EXPECT_EQ(w.surface.gridRowOffset(0), kNoRowOffset);  // the title row
  EXPECT_EQ(w.surface.gridRowOffset(1), 2);
  EXPECT_EQ(w.surface.gridRowOffset(2), static_cast<std::int64_t>(4 + message.size()));
  ClearCommand(w.check, w.surface);
  EXPECT_EQ(w.surface.gridRowOffset(1), kNoRowOffset);
  // A run that cannot open its file leaves no offset behind either.
  w.Iso(temp.str() + ".missing");
  EXPECT_EQ(w.surface.gridRowOffset(1), kNoRowOffset);
}

// ---- kalvrin-check iso --elements ---------------------------------------------------

using test::Check;
using test::Printed;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string WithoutControlCharacters(std::string_view bytes) {
  std::string kept;
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7F) kept += c;
  }
  return kept;
}

// Every element's offset and byte count, read back from the sample file,
// hold its prefix and value.
TEST(CheckElements, JsonLinesPointAtTheElementsBytes) {
  for (const char* sample : {"batch-nsp.dat", "batch-nhd.dat", "batch-bad-prefix.dat"}) {
    SCOPED_TRACE(sample);
    const std::string path = test::SamplePath(sample).string();
    const std::string bytes = test::ReadFileBytes(path);
    const Printed printed = Check({"iso", path, "--elements", "--json"});
    const std::vector<std::string> lines = Lines(printed.out);
    const Printed grid = Check({"iso", path, "--json"});
    const auto rows = nlohmann::json::parse(grid.out)["grid"];
    ASSERT_EQ(lines.size() + 1, rows.size());  // one object per grid row below the title
    EXPECT_EQ(printed.exitCode, grid.exitCode);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const auto message = nlohmann::json::parse(lines[i]);
      EXPECT_EQ(message["record"], i + 1);
      EXPECT_EQ(message["mti"], rows[i + 1][kTCodeColumn]);
      for (const auto& element : message["elements"]) {
        SCOPED_TRACE(element.dump());
        const auto offset = element["offset"].get<std::size_t>();
        const auto count = element["bytes"].get<std::size_t>();
        ASSERT_LE(offset + count, bytes.size());
        const std::string held = WithoutControlCharacters(std::string_view(bytes).substr(offset, count));
        if (element["complete"].get<bool>()) {
          EXPECT_EQ(held, element["prefix"].get<std::string>() + element["value"].get<std::string>());
        } else {
          EXPECT_EQ(held, element["prefix"].get<std::string>());
        }
      }
    }
  }
}

TEST(CheckElements, OffsetsAreDecimalThenCapitalHexadecimal) {
  EXPECT_EQ(OffsetText(0), "0 (0x0)");
  EXPECT_EQ(OffsetText(1234), "1234 (0x4D2)");
  EXPECT_EQ(OffsetText(4294967306), "4294967306 (0x10000000A)");  // beyond 32 bits
  EXPECT_EQ(OffsetText(std::numeric_limits<std::int64_t>::max()), "9223372036854775807 (0x7FFFFFFFFFFFFFFF)");
  std::string line = "at ";
  AppendOffsetText(line, 0xABCDEF);
  EXPECT_EQ(line, "at 11259375 (0xABCDEF)");
}

// The JSON library's writing of a text with the C1 controls (U+0080 to
// U+009F) escaped, as the listing writes them so that no reader that splits
// lines on Unicode line ends (U+0085) breaks a line.
std::string WithC1Escaped(const std::string& dumped) {
  std::string out;
  for (std::size_t i = 0; i < dumped.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dumped[i]);
    const auto next = i + 1 < dumped.size() ? static_cast<unsigned char>(dumped[i + 1]) : 0;
    if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[next >> 4];
      out += kHex[next & 15];
      ++i;
    } else {
      out += dumped[i];
    }
  }
  return out;
}

// Each line is the JSON library's own writing of the object it holds, its
// fields in order, with C1 controls escaped, whatever bytes the file's texts
// hold: quotes, backslashes, Latin-1 letters, bytes above 0x7F that are not
// letters; and a file that ends inside a message and one with a bad prefix.
TEST(CheckElements, JsonLinesAreWrittenAsTheLibraryWritesThem) {
  const std::string awkward = "say \"hi\" \\ caf\xE9 \xFF\x80 \\u0041 /";
  const std::string message = filegen::BuildMessage("1240", {{3, "000000"}, {48, awkward}, {43, std::string(40, '\'')}});
  const std::string files[] = {
      message + "  " + message,
      message + message.substr(0, message.size() - 10),  // cut inside element 48
      message + "1240" + filegen::EncodeBitmaps({{4, ""}, {35, ""}}) + "4444444444441A",
  };
  for (const std::string& bytes : files) {
    const TempFile file(bytes);
    const Printed printed = Check({"iso", file.str(), "--elements", "--json"});
    const std::vector<std::string> lines = Lines(printed.out);
    ASSERT_EQ(lines.size(), 2u) << printed.out;
    for (const std::string& line : lines) {
      const auto parsed = nlohmann::ordered_json::parse(line);
      EXPECT_EQ(WithC1Escaped(parsed.dump()), line);
    }
    const auto first = nlohmann::ordered_json::parse(lines[0]);
    std::vector<std::string> fields;
    for (const auto& [name, value] : first.items()) fields.push_back(name);
    EXPECT_EQ(fields, (std::vector<std::string>{"record", "offset", "bytes", "mti", "primaryBitmap", "secondaryBitmap",
                                                "elements", "stop"}));
    const auto& element48 = first["elements"][2];
    EXPECT_EQ(element48["element"], 48);
    EXPECT_EQ(element48["value"], Latin1ToUtf8(awkward));
    EXPECT_EQ(element48["complete"], true);
  }
}

TEST(CheckElements, BadPrefixIsNamedWithItsOffset) {
  const std::string path = test::SamplePath("batch-bad-prefix.dat").string();
  const Printed json = Check({"iso", path, "--elements", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 3u);
  const auto last = nlohmann::json::parse(lines.back());
  EXPECT_EQ(last["stop"], "bad prefix");
  EXPECT_EQ(last["error"], "Error Process P 35 Len: '1A'");
  const auto offset = last["errorOffset"].get<std::size_t>();
  EXPECT_EQ(test::ReadFileBytes(path).substr(offset, 2), "1A");
  EXPECT_EQ(last["elements"].back()["element"], 35);
  const std::string named = "at offset " + std::to_string(offset);
  EXPECT_NE(json.err.find("kalvrin-check: Error Process P 35 Len: '1A' " + named), std::string::npos) << json.err;

  const Printed text = Check({"iso", path, "--elements"});
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_EQ(text.err, json.err);
  EXPECT_NE(text.out.find("error: Error Process P 35 Len: '1A' at " + std::to_string(offset)), std::string::npos);
}

TEST(CheckElements, TextListingShowsEveryMessageAndElement) {
  const std::string path = test::SamplePath("batch-nsp.dat").string();
  const Printed printed = Check({"iso", path, "--elements"});
  EXPECT_EQ(printed.exitCode, 0);
  EXPECT_TRUE(printed.err.empty());
  int messages = 0;
  bool macShown = false;
  for (const std::string& line : Lines(printed.out)) {
    if (line.rfind("message ", 0) == 0) ++messages;
    if (line.rfind("  S128 ", 0) == 0) macShown = line.ends_with(" 4F47F843");
  }
  EXPECT_EQ(messages, 8);
  EXPECT_TRUE(macShown) << printed.out;
  EXPECT_EQ(Check({"iso", path, "--elements", "--csv"}).exitCode, 2);  // one output format at a time
}

}  // namespace
}  // namespace kalvrin
