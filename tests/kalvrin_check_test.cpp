// kalvrin-check iso: what it prints, in which format, and its exit status.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "testgen/filegen.h"
#include "headless/check_app.h"
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
    EXPECT_EQ(keys, (std::vector<std::string>{"command", "result", "status", "progress", "grid", "edits", "colors"}));
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
    EXPECT_EQ(printed.err, "kalvrin-check: unknown command '" + command + "'; use iso, mac or verify\n");
  }
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
  std::size_t title = 0;
  while (title < lines.size() && lines[title].rfind("Rec#", 0) != 0) ++title;
  ASSERT_EQ(lines.size(), title + 9);
  const std::size_t pmap = lines[title].find("PMAP");
  for (std::size_t row = 1; row <= 8; ++row) {
    EXPECT_EQ(lines[title + row].substr(pmap, 16).find_first_not_of("0123456789ABCDEF"), std::string::npos)
        << lines[title + row];
  }
}

// The built program returns the same exit status as the function behind it.
TEST(KalvrinCheckProgram, ExitStatus) {
  const char* program = std::getenv("KALVRIN_CHECK");
  if (program == nullptr) GTEST_SKIP() << "KALVRIN_CHECK is not set";
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
