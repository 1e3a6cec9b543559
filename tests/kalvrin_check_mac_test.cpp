// kalvrin-check mac: the window state it prints, the failure line and the
// exit status, for the samples and for files it cannot check.
#include <gtest/gtest.h>

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/check_app.h"
#include "testgen/filegen.h"
#include "support/check_runner.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::Check;
using test::Printed;

std::string Sample(const char* name) { return test::SamplePath(name).string(); }

constexpr std::string_view kNhdKey = "1C587F1C13924FEF";

TEST(KalvrinCheckMac, ExitStatusFollowsTheColours) {
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string err;
  };
  const std::string nsp = Sample("batch-nsp.dat");
  const std::string nhd = Sample("batch-nhd.dat");
  const Case cases[] = {
      {{nsp}, 0, ""},
      {{nsp, "--expect", "nsp"}, 0, ""},
      {{nsp, "--expect", "all"}, 1, "kalvrin-check: declared MAC 4F47F843 does not match MACALL 022E4A9E\n"},
      {{nhd, "--key", std::string(kNhdKey)}, 0, ""},
      {{nhd, "--key", std::string(kNhdKey), "--expect", "nhd"}, 0, ""},
      {{nhd, "--key", std::string(kNhdKey), "--expect", "nsp"}, 1,
       "kalvrin-check: declared MAC 7AAE5FFA does not match MACNSP 480F0E01\n"},
      // the default key runs, but none of its MACs is the declared one, and the report says why
      {{nhd}, 1,
       "kalvrin-check: declared MAC 7AAE5FFA matches no computed MAC: MACALL A5D84845 MACNHD 84B94731 MACNSP "
       "604DB743; the key's check value B690D735 is not the file's 0D40BFF8\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    std::vector<std::string> args{"mac"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, c.exitCode);
    if (!c.err.empty()) {
      EXPECT_EQ(printed.err, c.err);
    }
    EXPECT_EQ(printed.err.empty(), c.exitCode == 0);
    EXPECT_NE(printed.out.find("Status 2: MAC processed"), std::string::npos) << printed.out;
  }
}

TEST(KalvrinCheckMac, ReportShowsFiguresAndNoGrid) {
  const Printed printed = Check({"mac", Sample("batch-nsp.dat")});
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_EQ(printed.out,
            "MAC ok: MACNSP equals the declared 4F47F843\n"
            "Command:  mac (result 1: the MACs were computed)\n"
            "Status 0: FileSize: 2478\n"
            "Status 1: Blocks: 5\n"
            "Status 2: MAC processed\n"
            "Progress: 4 of 0..5\n"
            "Declared MAC: 4F47F843 (method 1, version 01, key check value B690D735)\n"
            "MACALL:       022E4A9E, differs from the declared MAC (BlockSize 512, MacCalls 4*512+430, ByteCount 2478)\n"
            "MACNHD:       46B45CB2, differs from the declared MAC (BlockSize 512, MacCalls 5, ByteCount 2100)\n"
            "MACNSP:       4F47F843, equals the declared MAC (BlockSize 512, MacCalls 4, ByteCount 1444)\n");
}

// The first line of the readable report and the JSON's "verdict" say the
// same: which variants equal the declared MAC, and whether the key's check
// value is the file's. The exit status goes with the line.
TEST(KalvrinCheckMac, VerdictLineAndObject) {
  const test::TempFile otherMac(filegen::GenerateFileBytes({.size = 6000, .seed = 3, .mac = "0BADF00D"}));
  const std::string nsp = Sample("batch-nsp.dat");
  const std::string nhd = Sample("batch-nhd.dat");
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string line;
    std::vector<std::string> matched;
    std::string kcv;
  };
  const Case cases[] = {
      {{nsp}, 0, "MAC ok: MACNSP equals the declared 4F47F843", {"MACNSP"}, "match"},
      {{nsp, "--expect", "all"}, 1, "MAC mismatch: MACALL does not equal the declared 4F47F843 (MACNSP does)",
       {"MACNSP"}, "match"},
      {{nhd, "--key", std::string(kNhdKey)}, 0, "MAC ok: MACNHD equals the declared 7AAE5FFA", {"MACNHD"}, "match"},
      {{nhd}, 1, "wrong key: the key check value B690D735 differs from the file's 0D40BFF8", {}, "mismatch"},
      {{otherMac.str()}, 1, "MAC mismatch: no variant equals the declared 0BADF00D (the key check value equals the file's)",
       {}, "match"},
      {{"/nonexistent/batch.dat"}, 2,
       "MAC not checked: DORV open error: /nonexistent/batch.dat: No such file or directory", {}, "absent"},
      {{nsp, "--key", "A4F1C07B3E9D265"}, 2, "MAC not checked: Create KCV error: the key must be 16 or 32 hex digits", {},
       "absent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> args{"mac"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Printed text = Check(args);
    EXPECT_EQ(text.exitCode, c.exitCode);
    EXPECT_EQ(text.out.substr(0, text.out.find('\n')), c.line);
    args.push_back("--json");
    const Printed json = Check(args);
    EXPECT_EQ(json.exitCode, c.exitCode);
    const auto parsed = nlohmann::json::parse(json.out);
    EXPECT_EQ(parsed["verdict"], (nlohmann::json{{"matched", c.matched}, {"kcv", c.kcv}}));
  }
}

TEST(KalvrinCheckMac, JsonShowsTheMacPage) {
  const Printed printed = Check({"mac", Sample("batch-nsp.dat"), "--json"});
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  const auto json = nlohmann::json::parse(printed.out);
  EXPECT_EQ(json["command"], "mac");
  EXPECT_EQ(json["result"], 1);
  EXPECT_EQ(json["status"][2], "MAC processed");
  EXPECT_EQ(json["edits"]["txtINFileKcv"], "B690D735");
  EXPECT_EQ(json["edits"]["txtINFileMacMeth"], "1");
  EXPECT_EQ(json["edits"]["txtINFileMacVer"], "01");
  EXPECT_EQ(json["edits"]["txtINFileMac"], "4F47F843");
  EXPECT_EQ(json["edits"]["txtCalcMacAll"], "022E4A9E");
  EXPECT_EQ(json["edits"]["txtCalcMacNHD"], "46B45CB2");
  EXPECT_EQ(json["edits"]["txtCalcMacNSP"], "4F47F843");
  EXPECT_EQ(json["edits"]["txtCalcMac1FSize"], "2478");
  EXPECT_EQ(json["colors"], (nlohmann::json{{"txtCalcMacAll", "red"}, {"txtCalcMacNHD", "red"}, {"txtCalcMacNSP", "green"}}));
}

TEST(KalvrinCheckMac, CannotRunPrintsTheWindowAndOneLine) {
  const std::string missing = "/nonexistent/batch.dat";
  const test::TempFile noFileHeader(std::string(60, ' ') + "\r\n1240F234");
  const std::string sample = Sample("batch-nsp.dat");
  struct Case {
    std::vector<std::string> args;
    std::string status1, status2, err;
  };
  const Case cases[] = {
      {{missing}, "MAC Records error", "DORV open error", "DORV open error: " + missing + ": No such file or directory"},
      {{noFileHeader.str()}, "MAC Records error", "File Header not found", "File Header not found: " + noFileHeader.str()},
      {{sample, "--key", "A4F1C07B3E9D265"}, "Create KCV error ", "Processing MAC",
       "Create KCV error: the key must be 16 or 32 hex digits"},
      {{sample, "--key", "A4F1C07B3E9D265O"}, "Create KCV error ", "Processing MAC",
       "Create KCV error: the key must be 16 or 32 hex digits"},
      {{sample, "--key", "A4F1C07B3E9D26581C587F1C13924FEF"}, "InstallKey error: 1", "Processing MAC",
       "InstallKey error: 1 (the key cannot be installed as a single DES key)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    std::vector<std::string> args{"mac"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("--json");
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.err, "kalvrin-check: " + c.err + "\n");
    const auto json = nlohmann::json::parse(printed.out);
    EXPECT_EQ(json["result"], 0);
    EXPECT_EQ(json["status"][1], c.status1);
    EXPECT_EQ(json["status"][2], c.status2);
    EXPECT_EQ(json["edits"]["txtCalcMacNSP"], "");
    EXPECT_EQ(json["colors"]["txtCalcMacNSP"], "black");
  }
}

// mac and verify take a key by one rule: 16 digits; 32 with equal halves as
// the left half; 32 with differing halves refused as InstallKey refuses
// them; any other length refused before the file is read.
TEST(KalvrinCheckMac, OneKeyRuleForMacAndVerify) {
  const std::string nhd = Sample("batch-nhd.dat");
  const std::string key(kNhdKey);
  std::string lowerRight = key;
  for (char& c : lowerRight) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const struct {
    std::string key;
    int exitCode;
    std::string err;
  } cases[] = {
      {key, 0, ""},
      {key + lowerRight, 0, ""},
      {key + "A4F1C07B3E9D2658", 2,
       "kalvrin-check: InstallKey error: 1 (the key cannot be installed as a single DES key)\n"},
      {key + "1", 2, ""},
      {key.substr(1), 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    const Printed mac = Check({"mac", nhd, "--key", c.key, "--expect", "nhd"});
    EXPECT_EQ(mac.exitCode, c.exitCode) << mac.err;
    const Printed verify = Check({"verify", nhd, "--key", c.key});
    // the sample has findings of its own: verify runs (1) or refuses the key (2)
    EXPECT_EQ(verify.exitCode, c.exitCode == 0 ? 1 : 2) << verify.err;
    if (c.exitCode == 0) {
      EXPECT_NE(verify.out.find("MAC MACNHD equals the declared"), std::string::npos) << verify.out;
    } else if (!c.err.empty()) {
      EXPECT_EQ(mac.err, c.err);
      EXPECT_EQ(verify.err, c.err);
    } else {
      EXPECT_EQ(mac.err, "kalvrin-check: Create KCV error: the key must be 16 or 32 hex digits\n");
      EXPECT_EQ(verify.err, "kalvrin-check: the key must be 16 or 32 hex digits\n");
    }
  }
}

// Without a trailer (an 1844 message with function code 971) there is no
// declared MAC to verify: the command cannot run, whatever the variants show.
// The window state printed is the one the window shows.
TEST(KalvrinCheckMac, FileWithoutTrailerCannotBeVerified) {
  const std::string bytes = test::ReadFileBytes(test::SamplePath("batch-nsp.dat"));
  const std::size_t trailer = bytes.rfind("1844");
  ASSERT_NE(trailer, std::string::npos);
  const test::TempFile cut(bytes.substr(0, trailer));
  std::string otherCode = bytes;
  const std::size_t code = otherCode.find("971", trailer);
  ASSERT_NE(code, std::string::npos);
  otherCode.replace(code, 3, "972");
  const test::TempFile notMac(otherCode);
  for (const test::TempFile* file : {&cut, &notMac}) {
    SCOPED_TRACE(file == &cut ? "no 1844 at the end" : "an 1844 with another function code");
    const std::string err =
        "kalvrin-check: the file has no MAC trailer (1844 with function code 971): " + file->str() + "\n";
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, {"--expect", "nsp"}, {"--key", std::string(kNhdKey)}}) {
      std::vector<std::string> args{"mac", file->str()};
      args.insert(args.end(), options.begin(), options.end());
      const Printed printed = Check(args);
      EXPECT_EQ(printed.exitCode, 2) << testing::PrintToString(options);
      EXPECT_EQ(printed.err, err);
    }
    const Printed printed = Check({"mac", file->str(), "--json"});
    EXPECT_EQ(printed.exitCode, 2);
    const auto json = nlohmann::json::parse(printed.out);
    EXPECT_EQ(json["result"], 1);
    EXPECT_EQ(json["status"][2], "MAC processed");
    EXPECT_EQ(json["edits"]["txtINFileMac"], "");
    EXPECT_EQ(json["edits"]["txtCalcMacNSP"].get<std::string>().size(), 8u);
    EXPECT_EQ(json["colors"]["txtCalcMacNSP"], "red");
  }
}

TEST(KalvrinCheckMac, BadArgumentsPrintNoWindow) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"mac", Sample("batch-nsp.dat"), "--expect", "any"},
                                               std::vector<std::string>{"mac"},
                                               std::vector<std::string>{"mac", Sample("batch-nsp.dat"), "--key"}}) {
    SCOPED_TRACE(testing::PrintToString(args));
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err.rfind("kalvrin-check: ", 0), 0u) << printed.err;
    EXPECT_EQ(printed.err.find('\n'), printed.err.size() - 1) << printed.err;
  }
}

}  // namespace
}  // namespace kalvrin
