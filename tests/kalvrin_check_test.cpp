// kalvrin-check iso: what it prints, in which format, and its exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testgen/filegen.h"
#include "headless/check_app.h"
#include "headless/surface_output.h"
#include "headless/verify_subcommand.h"
#include "iso/iso_commands.h"
#include "mac/mac_command.h"
#include "support/check_runner.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::SamplePath;
using test::TempFile;

using test::Check;
using test::Printed;

std::vector<std::string> Lines(const std::string& text, std::string_view end = "\n") {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t next = text.find(end, at);
    lines.push_back(text.substr(at, next - at));
    at = next == std::string::npos ? text.size() : next + end.size();
  }
  return lines;
}

std::string Sample(const char* name) { return SamplePath(name).string(); }

// The window state as the whole-surface writer prints it, after a run on a
// surface that keeps every row.
nlohmann::json HeldJson(const std::string& command, const std::string& path) {
  HeadlessSurface surface;
  FormatCheck check(surface);
  StartUpState(check, surface);
  const int result = command == "iso" ? IsoCommand(check, surface, path)
                                      : MacCommand(surface, path, "(B690D735)", filegen::kDefaultKey);
  // the object as the whole-surface writer built it before the grid streamed
  nlohmann::json json;
  json["command"] = command;
  json["result"] = result;
  for (int panel = 0; panel < 3; ++panel) json["status"].push_back(Latin1ToUtf8(surface.status(panel)));
  json["progress"] = {{"min", surface.progressMin()}, {"max", surface.progressMax()},
                      {"position", surface.progressPosition()}};
  json["grid"] = nlohmann::json::array();
  for (int row = 0; row < surface.gridRowCount(); ++row) {
    nlohmann::json cells = nlohmann::json::array();
    for (const std::string& cell : surface.row(row)) cells.push_back(Latin1ToUtf8(cell));
    json["grid"].push_back(cells);
  }
  for (int edit = 0; edit < kEditCount; ++edit) {
    json["edits"][std::string(kEditNames[edit])] = Latin1ToUtf8(surface.editText(static_cast<Edit>(edit)));
  }
  constexpr const char* kColours[] = {"black", "red", "green"};
  for (const Edit edit : kMacResultEdits) {
    json["colors"][std::string(EditName(edit))] = kColours[static_cast<int>(surface.editColour(edit))];
  }
  return json;
}

// kalvrin-check writes the grid while the check runs: its object must hold
// the same fields and values as the whole-surface writer's, on the samples
// and on generated files that stop early.
TEST(KalvrinCheckJson, StreamedObjectEqualsTheWholeSurfaceWriters) {
  const std::string generated = filegen::GenerateFileBytes({.size = 2'000'000, .seed = 4});
  std::string badPrefix = generated;
  const std::size_t message = badPrefix.find("1240", 300'000);
  badPrefix.replace(message + 36, 2, "X9");  // its first element's length prefix
  const TempFile whole(generated, "whole.dat");
  const TempFile cut(generated.substr(0, generated.find("1240", 1'000'000) + 200), "cut.dat");
  const TempFile bad(badPrefix, "bad.dat");
  const std::vector<std::string> files = {Sample("batch-nsp.dat"), Sample("batch-nhd.dat"),
                                          Sample("batch-bad-prefix.dat"), whole.str(), cut.str(), bad.str()};
  for (const std::string& path : files) {
    for (const std::string command : {"iso", "mac"}) {
      SCOPED_TRACE(command + " " + path);
      const Printed printed = Check({command, path, "--json"});
      const nlohmann::json streamed = nlohmann::json::parse(printed.out);
      const nlohmann::json held = HeldJson(command, path);
      // and mac's verdict besides
      EXPECT_EQ(streamed.size(), held.size() + (command == "mac" ? 1 : 0));
      EXPECT_EQ(streamed.contains("verdict"), command == "mac");
      for (const auto& [field, value] : held.items()) EXPECT_EQ(streamed[field], value) << field;
      EXPECT_GT(streamed["grid"].size(), 1u);
      // the grid comes before the fields that are known only at the end
      EXPECT_LT(printed.out.find("\"grid\""), printed.out.find("\"result\""));
    }
  }
}

// Grid texts in the JSON: plain ones as they stand, and quotes, backslashes,
// control characters, DEL and Latin-1 letters escaped and encoded exactly
// as the JSON library writes them.
TEST(KalvrinCheckJson, GridTextsAreWrittenAsTheLibraryWritesThem) {
  const std::vector<std::string> texts = {"plain 123", "", "say \"hi\"", "back\\slash", std::string("nul\0end", 7),
                                          "tab\tcr\rlf\n\x1F", "del\x7F", "caf\xE9 \xFF"};
  std::ostringstream out;
  const auto report = JsonReportStream(out, "iso");
  const std::vector<std::string_view> row(texts.begin(), texts.end());
  report->Row(row);
  HeadlessSurface surface;
  report->Finish(surface, 1);
  std::string expected = "{\"command\":\"iso\",\"grid\":[[";
  for (std::size_t at = 0; at < texts.size(); ++at) {
    if (at > 0) expected += ',';
    expected += nlohmann::json(Latin1ToUtf8(texts[at])).dump();
  }
  EXPECT_EQ(out.str().substr(0, expected.size() + 2), expected + "]]");
  const nlohmann::json parsed = nlohmann::json::parse(out.str());
  for (std::size_t at = 0; at < texts.size(); ++at) EXPECT_EQ(parsed["grid"][0][at], Latin1ToUtf8(texts[at])) << at;
}

// Beyond the look-ahead the table's widths are fixed: a later, longer text
// pushes the rest of its line right, and the next columns line up again.
TEST(KalvrinCheckText, TableWidthsFromTheFirstRows) {
  std::ostringstream out;
  const auto report = TextReportStream(out, "iso");
  report->Row(std::vector<std::string_view>{"Rec#", "A", "B", "C"});
  for (std::size_t row = 1; row < kTableLookAhead + 2; ++row) {
    const bool late = row == kTableLookAhead + 1;
    const std::string number = std::to_string(row);
    report->Row(std::vector<std::string_view>{number, late ? "a much longer text" : "ab", late ? "b" : "bb", "c"});
  }
  HeadlessSurface surface;
  report->Finish(surface, 1);
  const std::vector<std::string> lines = Lines(out.str());
  EXPECT_EQ(lines[0], "Rec#  A   B   C");
  EXPECT_EQ(lines[1], "1     ab  bb  c");
  EXPECT_EQ(lines[kTableLookAhead], std::to_string(kTableLookAhead) + "  ab  bb  c");
  EXPECT_EQ(lines[kTableLookAhead + 1], std::to_string(kTableLookAhead + 1) + "  a much longer text  b  c");
  // then the report's other lines, the row count last
  EXPECT_EQ(lines[kTableLookAhead + 2], "Command:  iso (result 1: the file was read to its end)");
  EXPECT_EQ(lines.back(), "Grid:     " + std::to_string(kTableLookAhead + 1) + " rows");
}

TEST(KalvrinCheckJson, SamplesGiveOneRowPerMessage) {
  struct Case {
    const char* file;
    int exitCode;
    int result;
    std::size_t rows;  // title row included
    std::string status2;
    std::string err;
  };
  const Case cases[] = {
      {"batch-nsp.dat", 0, 1, 9, "Format processed", ""},
      {"batch-nhd.dat", 0, 1, 15, "Format processed", ""},
      {"batch-bad-prefix.dat", 1, 0, 4, "Error Process P 35 Len: '1A'",
       "kalvrin-check: Error Process P 35 Len: '1A' at offset 789 (0x315)\n"},  // where the prefix stands
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const Printed printed = Check({"iso", Sample(c.file), "--json"});
    EXPECT_EQ(printed.exitCode, c.exitCode);
    EXPECT_EQ(printed.err, c.err);
    const auto json = nlohmann::ordered_json::parse(printed.out);
    std::vector<std::string> keys;
    for (const auto& item : json.items()) keys.push_back(item.key());
    // the grid streams, so it comes right after the command
    EXPECT_EQ(keys, (std::vector<std::string>{"command", "grid", "result", "status", "progress", "edits", "colors"}));
    EXPECT_EQ(json["command"], "iso");
    EXPECT_EQ(json["result"], c.result);
    EXPECT_EQ(json["status"][2], c.status2);
    ASSERT_EQ(json["grid"].size(), c.rows);
    for (const auto& row : json["grid"]) EXPECT_EQ(row.size(), 41u);
    EXPECT_EQ(json["grid"][0][0], "Rec#");
    EXPECT_EQ(json["grid"][c.rows - 1][0], std::to_string(c.rows - 1));
    EXPECT_EQ(json["edits"].size(), 16u);
    EXPECT_EQ(json["colors"]["txtCalcMacNSP"], "black");
    EXPECT_EQ(json["progress"]["min"], 0);
  }
  const auto nsp = nlohmann::json::parse(Check({"iso", Sample("batch-nsp.dat"), "--json"}).out);
  EXPECT_EQ(nsp["progress"]["max"], 2478);
  EXPECT_EQ(nsp["progress"]["position"], 2478);
  EXPECT_EQ(nsp["status"][1], "2478");
  EXPECT_EQ(nsp["edits"]["txtINFileMac"], "4F47F843");
  EXPECT_EQ(nsp["grid"][8][2], "971");
}

// A file that cannot be opened: the readable form prints nothing beside
// the one error line; the JSON still shows the window, as the next test.
TEST(KalvrinCheckText, AFileThatCannotBeOpenedPrintsOnlyTheErrorLine) {
  const std::string missing = Sample("no-such-file.dat");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"iso", missing},
                                               std::vector<std::string>{"iso", missing, "--mask-pan"},
                                               std::vector<std::string>{"iso", SamplePath("").string()}}) {
    SCOPED_TRACE(args.back());
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(Lines(printed.err).size(), 1u) << printed.err;
    EXPECT_EQ(printed.err.rfind("kalvrin-check: Cannot open file: ", 0), 0u) << printed.err;
  }
}

TEST(KalvrinCheckJson, FailuresStillPrintTheWindow) {
  const std::string missing = Sample("no-such-file.dat");
  const Printed printed = Check({"iso", missing, "--json"});
  EXPECT_EQ(printed.exitCode, 2);
  // the reason on standard error only; the status text stays the window's
  EXPECT_EQ(printed.err, "kalvrin-check: Cannot open file: " + missing + ": No such file or directory\n");
  const auto json = nlohmann::json::parse(printed.out);
  EXPECT_EQ(json["result"], 0);
  EXPECT_EQ(json["status"], (std::vector<std::string>{"", "Cannot open file", "Processing format"}));
  EXPECT_EQ(json["grid"].size(), 2u);

  const TempFile cut(filegen::BuildMessage("1240", {{2, "4111"}}).substr(0, 38));
  const Printed unfinished = Check({"iso", cut.str(), "--json"});
  EXPECT_EQ(unfinished.exitCode, 1);
  EXPECT_EQ(unfinished.err, "kalvrin-check: File ends inside message 1\n");
  EXPECT_EQ(nlohmann::json::parse(unfinished.out)["result"], 0);
}

TEST(KalvrinCheckJson, BytesAboveAsciiAreLatin1) {
  const TempFile file(filegen::BuildMessage("1240", {{43, "CAF\xc9 \xff"}}) + " ");
  const auto json = nlohmann::json::parse(Check({"iso", file.str(), "--json"}).out);
  EXPECT_EQ(json["grid"][1][21], "CAF\u00c9 \u00ff");
}

// C1 controls (bytes 0x80-0x9F read as Latin-1) in element values: the
// report, the element listing and verify's lines show them as \xNN, the
// JSON forms as \u0080-\u009F escapes, and no form writes one as a
// character that a terminal or a reader splitting lines at U+0085 acts on.
TEST(KalvrinCheckText, C1ControlsAreEscapedInTextAndJson) {
  std::string bytes = test::ReadFileBytes(SamplePath("batch-nhd.dat"));
  const std::size_t shop = bytes.find("SAMPLE SHOP");
  const std::size_t date = bytes.find("1208682823");
  ASSERT_NE(shop, std::string::npos);
  ASSERT_NE(date, std::string::npos);
  bytes.replace(shop, 11, "S\x85" "M\x9F" "LE SHO\xC9");
  bytes.replace(date, 10, "12\x85\x9F" "682823");
  const TempFile file(bytes);
  const auto expectNoRawC1 = [](const Printed& printed) {
    for (std::size_t at = 0; at + 1 < printed.out.size(); ++at) {
      const auto next = static_cast<unsigned char>(printed.out[at + 1]);
      ASSERT_FALSE(static_cast<unsigned char>(printed.out[at]) == 0xC2 && next >= 0x80 && next < 0xA0)
          << "U+00" << std::hex << static_cast<int>(next) << " at " << at;
    }
  };
  const std::string shownShop = "S\\x85M\\x9FLE SHO\xC3\x89";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"iso", file.str()}, {"iso", file.str(), "--elements"}, {"verify", file.str()}, {"verify", file.str(), "--csv"}}) {
    SCOPED_TRACE(args.size() == 3 ? args[2] : args[0]);
    const Printed printed = Check(args);
    expectNoRawC1(printed);
    if (args[0] == "iso") {
      EXPECT_NE(printed.out.find(shownShop), std::string::npos) << printed.out;
    } else {
      EXPECT_NE(printed.out.find("P7 '12\\x85\\x9F682823' holds '\\x85'"), std::string::npos) << printed.out;
    }
  }
  // in the CSV the escaped message is one quoted field
  const Printed csv = Check({"verify", file.str(), "--csv"});
  EXPECT_NE(csv.out.find(",P7,\"P7 '12\\x85\\x9F682823' holds '\\x85', not a digit\","), std::string::npos)
      << csv.out;

  const Printed report = Check({"iso", file.str(), "--json"});
  expectNoRawC1(report);
  const auto json = nlohmann::json::parse(report.out);
  bool found = false;
  for (const auto& row : json["grid"]) found = found || row[21] == "S\u0085M\u009fLE SHO\u00c9   VIENNA    AT";
  EXPECT_TRUE(found) << report.out;
  const Printed listing = Check({"iso", file.str(), "--elements", "--json"});
  expectNoRawC1(listing);
  EXPECT_NE(listing.out.find("\"S\\u0085M\\u009fLE SHO\xC3\x89   VIENNA"), std::string::npos) << listing.out;
  const Printed findings = Check({"verify", file.str(), "--json"});
  expectNoRawC1(findings);
  found = false;
  for (const std::string& line : Lines(findings.out)) {
    if (line.empty()) continue;
    const auto finding = nlohmann::json::parse(line);
    found = found || finding.value("message", "") == "P7 '12\u0085\u009f682823' holds '\u0085', not a digit";
  }
  EXPECT_TRUE(found) << findings.out;
}

// A text for standard error is one line of UTF-8 with no control character.
void ExpectOneCleanLine(const std::string& err) {
  ASSERT_FALSE(err.empty());
  EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
  for (const char c : err.substr(0, err.size() - 1)) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte >= 0x20 && byte != 0x7F) << err;
  }
  EXPECT_NO_THROW((void)nlohmann::json(err).dump()) << "not UTF-8: " << err;
}

// Length prefixes with bytes above 0x7F, and a file that ends inside a
// prefix, in every form the messages are listed in: every object of the
// JSON is printed and parses, and the bytes read as Latin-1.
TEST(KalvrinCheckElements, PrefixBytesAreTextInEveryForm) {
  std::string bytes = test::ReadFileBytes(SamplePath("batch-bad-prefix.dat"));
  const std::size_t prefixAt = bytes.find("1A");
  ASSERT_NE(prefixAt, std::string::npos);
  bytes.replace(prefixAt, 2, "1\xff");
  const TempFile highPrefix(bytes);
  // the file ends after the first digit of element 35's prefix
  const TempFile cutPrefix(bytes.substr(0, prefixAt + 1));
  for (const TempFile* file : {&highPrefix, &cutPrefix}) {
    SCOPED_TRACE(file == &highPrefix ? "0xFF in a prefix" : "file ends inside a prefix");
    const Printed json = Check({"iso", file->str(), "--elements", "--json"});
    EXPECT_EQ(json.exitCode, 1);
    ExpectOneCleanLine(json.err);
    const std::vector<std::string> objects = Lines(json.out);
    ASSERT_EQ(objects.size(), 3u);  // the two messages before it, and the one it stops
    nlohmann::json last;
    for (const std::string& object : objects) ASSERT_NO_THROW(last = nlohmann::json::parse(object)) << object;
    const nlohmann::json& element = last["elements"].back();
    EXPECT_EQ(element["element"], 35);
    if (file == &highPrefix) {
      EXPECT_EQ(last["stop"], "bad prefix");
      EXPECT_EQ(element["prefix"], "1\u00ff");
      EXPECT_EQ(json.err, "kalvrin-check: Error Process P 35 Len: '1\u00ff' at offset 789 (0x315)\n");
    } else {
      EXPECT_EQ(last["stop"], "end of file");
      EXPECT_EQ(element["prefix"], "1");
    }
    const Printed listing = Check({"iso", file->str(), "--elements"});
    EXPECT_EQ(listing.exitCode, 1);
    EXPECT_NO_THROW((void)nlohmann::json(listing.out).dump()) << "not UTF-8";
    for (const char* form : {"--json", "--csv"}) {
      const Printed printed = Check({"iso", file->str(), form});
      EXPECT_EQ(printed.exitCode, 1) << form;
      EXPECT_NO_THROW((void)nlohmann::json(printed.out).dump()) << form << " is not UTF-8";
    }
  }
}

// P55 read as EMV tags under --elements: names, values in their forms, set
// bits, nesting and file offsets in JSON; the same indented in the text;
// card data masked with --mask-pan; a malformed P55 names its fault.
TEST(KalvrinCheckElements, ChipDataListsItsTags) {
  const std::string chip = "5A084761739001010119" "9F0206000000012345" "5F2A020978" "9F2701" "80"
                           "700A" "9504" "80002080" "9B02" "E800"  // a TVR of four bytes names what it has
                           "5F200353" "4D49";
  const std::string first = filegen::BuildMessage("1240", {{2, "4761739001010119"}, {4, "000000012345"}, {55, chip}});
  const std::string second = filegen::BuildMessage("1240", {{2, "4761739001010119"}, {55, "9A03261208" "9F02"}});
  // a line end inside the first P55 moves the file offsets of what follows it
  std::string firstWithBreak = first;
  const std::size_t p55 = firstWithBreak.find(chip);
  ASSERT_NE(p55, std::string::npos);
  firstWithBreak.insert(p55 + 20, "\r\n");
  const TempFile file(firstWithBreak + "\r\n" + second + "\r\n");
  const auto valueAt = [&](std::size_t index) {
    return static_cast<std::int64_t>(p55 + index + (index >= 20 ? 2 : 0));
  };

  const Printed json = Check({"iso", file.str(), "--elements", "--json"});
  const std::vector<std::string> objects = Lines(json.out);
  ASSERT_GE(objects.size(), 2u) << json.out;
  const auto message = nlohmann::json::parse(objects[0]);
  const nlohmann::json& element = message["elements"].back();
  ASSERT_EQ(element["element"], 55);
  const nlohmann::json& tlv = element["tlv"];
  ASSERT_EQ(tlv.size(), 6u) << tlv.dump();
  EXPECT_EQ(tlv[0]["tag"], "5A");
  EXPECT_EQ(tlv[0]["name"], "Application Primary Account Number (PAN)");
  EXPECT_EQ(tlv[0]["value"], "4761739001010119");
  EXPECT_EQ(tlv[0]["offset"], valueAt(0));
  EXPECT_EQ(tlv[1]["tag"], "9F02");
  EXPECT_EQ(tlv[1]["length"], 6);
  EXPECT_EQ(tlv[1]["value"], "12345");
  EXPECT_EQ(tlv[1]["offset"], valueAt(20));
  EXPECT_EQ(tlv[2]["value"], "978 (Euro)");
  EXPECT_EQ(tlv[3]["bits"], nlohmann::json({"ARQC"}));
  EXPECT_EQ(tlv[4]["tag"], "70");
  ASSERT_EQ(tlv[4]["tlv"].size(), 2u);
  EXPECT_EQ(tlv[4]["tlv"][0]["bits"],
            nlohmann::json({"offline data authentication was not performed", "PIN try limit exceeded",
                            "transaction exceeds floor limit"}));
  EXPECT_EQ(tlv[4]["tlv"][1]["tag"], "9B");
  EXPECT_EQ(tlv[4]["tlv"][1]["offset"], valueAt(chip.find("9B02")));
  EXPECT_EQ(tlv[5]["value"], "SMI");
  EXPECT_FALSE(element.contains("error"));

  const auto broken = nlohmann::json::parse(objects[1])["elements"].back();
  ASSERT_EQ(broken["tlv"].size(), 1u);
  EXPECT_EQ(broken["error"], "tag 9F02 at byte 6 has no length");
  EXPECT_EQ(broken["errorOffset"], broken["offset"].get<std::int64_t>() + 3 + 10);

  const Printed text = Check({"iso", file.str(), "--elements"});
  EXPECT_NE(text.out.find("      9F02   Amount, Authorised (Numeric), 6 bytes at " + std::to_string(valueAt(20))), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("        9B     Transaction Status Information, 2 bytes at"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("            - cardholder verification was performed\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("      error: tag 9F02 at byte 6 has no length at "), std::string::npos) << text.out;

  const Printed masked = Check({"iso", file.str(), "--elements", "--json", "--mask-pan"});
  const auto maskedTlv = nlohmann::json::parse(Lines(masked.out)[0])["elements"].back()["tlv"];
  EXPECT_EQ(maskedTlv[0]["value"], "476173******0119");
  EXPECT_EQ(maskedTlv[5]["value"], "***");
  EXPECT_EQ(maskedTlv[1]["value"], "12345");
  EXPECT_EQ(masked.out.find("4761739001010119"), std::string::npos) << masked.out;
}

// Line ends, escape sequences and bytes that are not UTF-8, from the file or
// in its path, never break the one line of standard error.
TEST(KalvrinCheckErrors, OneLineWhateverTheFileOrPathHolds) {
  const std::string missing = "/nonexistent/a\nb\xff\x1b[31m\xc3\xa9.dat";
  const Printed iso = Check({"iso", missing});
  EXPECT_EQ(iso.exitCode, 2);
  // a path keeps its UTF-8 (the é), everything else is escaped
  EXPECT_EQ(iso.err, "kalvrin-check: Cannot open file: /nonexistent/a\\nb\\xFF\\x1B[31m\xc3\xa9.dat: No such file or directory\n");
  const Printed mac = Check({"mac", missing, "--json"});
  EXPECT_EQ(mac.exitCode, 2);
  ExpectOneCleanLine(mac.err);

  // a declared MAC holding a line end and 0xFF
  std::string bytes = test::ReadFileBytes(SamplePath("batch-nsp.dat"));
  const std::size_t mac8 = bytes.find("4F47F843");
  ASSERT_NE(mac8, std::string::npos);
  bytes.replace(mac8, 8, "4F\n7\xff\r43");
  const TempFile file(bytes);
  const Printed mismatch = Check({"mac", file.str()});
  EXPECT_EQ(mismatch.exitCode, 1);
  ExpectOneCleanLine(mismatch.err);
  EXPECT_EQ(mismatch.err.rfind("kalvrin-check: declared MAC 4F\\n7\u00ff\\r43 matches no computed MAC:", 0), 0u)
      << mismatch.err;
}

// A file name is the system's UTF-8, not the file's Latin-1: verify shows
// it as it is where it is valid and escapes the rest, in every form.
TEST(KalvrinCheckVerify, FileNamesShowAsTheirUtf8InEveryForm) {
  const std::string bytes = test::ReadFileBytes(SamplePath("batch-bad-prefix.dat"));
  const TempFile accented(bytes, "donn\xc3\xa9" "es.dat");
  const TempFile hostile(bytes, "a,\"b\xff\x1b.dat");
  const std::string accentedName = accented.str();
  const std::string hostileShown = hostile.path().parent_path().string() + "/a,\"b\\xFF\\x1B.dat";
  for (const auto& [file, shown] : {std::pair{&accented, accentedName}, std::pair{&hostile, hostileShown}}) {
    SCOPED_TRACE(shown);
    const Printed text = Check({"verify", file->str()});
    EXPECT_EQ(text.exitCode, 1);
    const std::vector<std::string> lines = Lines(text.out);
    ASSERT_GT(lines.size(), 2u);
    for (const std::string& line : lines) {
      if (!line.empty()) {
        EXPECT_EQ(line.rfind(shown + ":", 0), 0u) << line;
      }
    }
    const Printed json = Check({"verify", file->str(), "--json"});
    for (const std::string& line : Lines(json.out)) {
      if (!line.empty()) {
        EXPECT_EQ(nlohmann::json::parse(line)["file"], shown) << line;
      }
    }
    const Printed csv = Check({"verify", file->str(), "--csv"});
    const std::vector<std::string> records = Lines(csv.out, "\r\n");
    ASSERT_GT(records.size(), 2u);
    const std::string field = file == &hostile ? "\"" + hostile.path().parent_path().string() + "/a,\"\"b\\xFF\\x1B.dat\""
                                               : accentedName;
    EXPECT_EQ(records[1].rfind(field + ",element.pan-luhn,", 0), 0u) << records[1];
  }
}

TEST(KalvrinCheckArguments, BadArgumentsPrintOneErrorLineAndNoOutput) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"iso"},
      {"iso", "a.dat", "--json", "--csv"},
      {"iso", "a.dat", "--xml"},
      {"nosuch", "a.dat"},
  };
  for (const auto& args : cases) {
    SCOPED_TRACE(args.empty() ? "no arguments" : args.back());
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    ASSERT_EQ(Lines(printed.err).size(), 1u) << printed.err;
    EXPECT_EQ(printed.err.rfind("kalvrin-check: ", 0), 0u) << printed.err;
  }
}

TEST(KalvrinCheckArguments, AnUnknownCommandIsNamed) {
  for (const std::string command : {"frob", "ISO", "isocheck", ""}) {
    SCOPED_TRACE(command);
    const Printed printed = Check({command, Sample("batch-nsp.dat")});
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, "kalvrin-check: unknown command '" + command + "'; use iso, mac, verify, diff, report or rewrite\n");
  }
}

TEST(KalvrinCheckArguments, VersionIsTheProjects) {
  const Printed printed = Check({"--version"});
  EXPECT_EQ(printed.exitCode, 0);
  EXPECT_EQ(printed.out, "kalvrin-check " KALVRIN_TEST_VERSION "\n");
  EXPECT_EQ(printed.err, "");
}

TEST(KalvrinCheckCsv, TitleRowFirstAndQuotedFields) {
  const std::string bytes = filegen::BuildMessage("1240", {{43, "SHOP, \"THE\" ONE"}}) + "  " +
                            filegen::BuildMessage("1644", {{24, "692"}}) + " ";
  const TempFile file(bytes);
  const Printed printed = Check({"iso", file.str(), "--csv"});
  EXPECT_EQ(printed.exitCode, 0);
  const std::vector<std::string> records = Lines(printed.out, "\r\n");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].rfind("Rec#,TCode,FCode=P24,PMAP,SMAP,P2 (cardnum.),P3 (proc.code,", 0), 0u);
  EXPECT_NE(records[1].find(",\"SHOP, \"\"THE\"\" ONE\","), std::string::npos) << records[1];
  EXPECT_EQ(records[2].rfind("2,1644,692,", 0), 0u) << records[2];
}

// The streamed CSV holds the same grid as the JSON printed from memory.
TEST(KalvrinCheckCsv, StreamedRowsMatchTheHeldGrid) {
  const TempFile file(filegen::GenerateFileBytes({.size = 200 * 1024, .seed = 5}));
  const auto json = nlohmann::json::parse(Check({"iso", file.str(), "--json"}).out);
  const std::vector<std::string> records = Lines(Check({"iso", file.str(), "--csv"}).out, "\r\n");
  ASSERT_EQ(records.size(), json["grid"].size());
  for (std::size_t row = 0; row < records.size(); ++row) {
    std::string joined;  // generated files hold no character that needs quotes
    for (std::size_t col = 0; col < json["grid"][row].size(); ++col) {
      joined += (col == 0 ? "" : ",") + json["grid"][row][col].get<std::string>();
    }
    EXPECT_EQ(records[row], joined) << "row " << row;
  }
}

TEST(KalvrinCheckText, ReportsStatusAndAnAlignedGrid) {
  const Printed printed = Check({"iso", Sample("batch-nsp.dat")});
  EXPECT_EQ(printed.exitCode, 0);
  EXPECT_NE(printed.out.find("Status 2: Format processed\n"), std::string::npos);
  EXPECT_NE(printed.out.find("Grid:     8 rows\n"), std::string::npos);
  const std::vector<std::string> lines = Lines(printed.out);
  // the table streams first, the other lines follow it
  const std::size_t title = 0;
  ASSERT_EQ(lines[title].rfind("Rec#", 0), 0u);
  ASSERT_GT(lines.size(), title + 9);
  EXPECT_EQ(lines[title + 9], "Command:  iso (result 1: the file was read to its end)");
  EXPECT_EQ(lines.back(), "Grid:     8 rows");
  // the format check reads the declared MAC, but its report leaves the MAC to mac's
  EXPECT_EQ(lines.size(), title + 15);
  for (const char* word : {"Declared MAC", "MACALL", "txtCalc"}) {
    EXPECT_EQ(printed.out.find(word), std::string::npos) << word;
  }
  const std::size_t pmap = lines[title].find("PMAP");
  for (std::size_t row = 1; row <= 8; ++row) {
    EXPECT_EQ(lines[title + row].substr(pmap, 16).find_first_not_of("0123456789ABCDEF"), std::string::npos)
        << lines[title + row];
  }
}

// verify's readable summary lists the totals of the batches that hold a
// finding (the file header counts with the first batch, a batch ends at its
// totals) and counts the clean ones; --batches and the JSON list them all.
TEST(KalvrinCheckVerify, SummaryListsTheBatchesWithAFinding) {
  const filegen::FileOptions clean{.size = 40000, .seed = 5};
  const TempFile cleanFile(filegen::GenerateFileBytes(clean), "clean.dat");
  const auto cleanJson = nlohmann::json::parse(Lines(Check({"verify", cleanFile.str(), "--json"}).out).back());
  std::vector<std::int64_t> totals;
  for (const auto& batch : cleanJson["summary"]["batches"]) totals.push_back(batch["totalsRecord"].get<std::int64_t>());
  ASSERT_GE(totals.size(), 5u);
  const std::size_t batches = totals.size();

  // the faults leave the batches where they were: in batch 1 (the file header), 3 (its first record) and 4 (its totals)
  filegen::FileOptions faulty = clean;
  faulty.faults = {{"element.date", 1}, {"element.date", totals[1] + 1}, {"batch.totals", totals[3]}};
  filegen::FileSummary made;
  const TempFile faultyFile(filegen::GenerateFileBytes(faulty, &made), "faulty.dat");
  ASSERT_EQ(made.injected.size(), 3u) << made.error;

  auto batchLines = [](const std::string& out) {
    std::vector<std::string> numbers;
    for (const std::string& line : Lines(out)) {
      const std::size_t at = line.find(": batch ");
      if (at != std::string::npos) numbers.push_back(line.substr(at + 8, line.find(',', at) - at - 8));
    }
    return numbers;
  };
  const std::string notListed = " batches without findings not listed (--batches lists every batch)";
  struct Case {
    std::string file;
    std::vector<std::string> extra;
    std::vector<std::string> listed;
    std::size_t clean;
  };
  std::vector<std::string> all;
  for (std::size_t i = 1; i <= batches; ++i) all.push_back(std::to_string(i));
  const Case cases[] = {
      {cleanFile.str(), {}, {}, batches},
      {faultyFile.str(), {}, {"1", "3", "4"}, batches - 3},
      {cleanFile.str(), {"--batches"}, all, 0},
      {faultyFile.str(), {"--batches"}, all, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + (c.extra.empty() ? "" : " --batches"));
    std::vector<std::string> args{"verify", c.file};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Printed printed = Check(args);
    EXPECT_EQ(batchLines(printed.out), c.listed) << printed.out;
    const bool counted = printed.out.find(c.file + ": " + std::to_string(c.clean) + notListed + "\n") != std::string::npos;
    EXPECT_EQ(counted, c.clean != 0) << printed.out;
    if (c.clean == 0) {
      EXPECT_EQ(printed.out.find("without findings"), std::string::npos);
    }
    // the JSON lists every batch whatever the readable form does
    args.push_back("--json");
    const auto summary = nlohmann::json::parse(Lines(Check(args).out).back());
    EXPECT_EQ(summary["summary"]["batches"].size(), batches);
  }
}

// Findings come in reading order but for a few judged at the end: records
// added out of order still answer for their batch.
TEST(KalvrinCheckVerify, FindingRecordsAnswerForAnyRange) {
  FindingRecords records;
  for (const std::int64_t record : {5, 6, 7, 20, 3, 6, 21, 0, 12, 4}) records.Add(record);
  struct Case {
    std::int64_t first, last;
    bool any;
  };
  const Case cases[] = {{1, 2, false}, {1, 3, true}, {8, 11, false}, {8, 12, true}, {13, 19, false},
                        {13, 20, true}, {22, 100, false}, {4, 4, true}, {21, INT64_MAX, true}, {0, 0, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(records.AnyIn(c.first, c.last), c.any) << c.first << ".." << c.last;
  }
}

// The element: a number in the JSON Lines, for jq; "P12" in the text and CSV.
TEST(KalvrinCheckVerify, ElementIsANumberInJsonAndANameInTextAndCsv) {
  const TempFile file(filegen::GenerateFileBytes({.size = 8000, .seed = 2, .faults = {{"element.date", 3}}}), "d.dat");
  const auto finding = nlohmann::json::parse(Lines(Check({"verify", file.str(), "--json"}).out).front());
  EXPECT_EQ(finding["element"], 12);
  EXPECT_TRUE(finding["element"].is_number_integer());
  EXPECT_NE(Check({"verify", file.str()}).out.find("(record 3, element P12)\n"), std::string::npos);
  const std::vector<std::string> csv = Lines(Check({"verify", file.str(), "--csv"}).out, "\r\n");
  ASSERT_GE(csv.size(), 2u);
  EXPECT_NE(csv[1].find(",element.date,error,3,"), std::string::npos) << csv[1];
  EXPECT_NE(csv[1].find(",P12,"), std::string::npos) << csv[1];
}

// The built program returns the same exit status as the function behind it.
TEST(KalvrinCheckProgram, ExitStatus) {
  const char* program = test::kCheckProgram;
  auto run = [&](const std::string& args) {
    const int status = std::system((std::string(program) + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(run("iso '" + Sample("batch-nsp.dat") + "' --csv"), 0);
  EXPECT_EQ(run("iso '" + Sample("batch-bad-prefix.dat") + "'"), 1);
  EXPECT_EQ(run("iso /nonexistent/file"), 2);
  EXPECT_EQ(run("--bogus"), 2);
}

}  // namespace
}  // namespace kalvrin
