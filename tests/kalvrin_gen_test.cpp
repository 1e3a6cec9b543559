// kalvrin-gen as a shell runs it: a bad --fault ends with one error line,
// exit 2 and no file written (one already there is kept); a good call writes a file in which verify finds each
// fault where kalvrin-gen says it put it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/check_runner.h"
#include "support/child_process.h"
#include "support/test_files.h"
#include "testgen/filegen.h"

namespace kalvrin {
namespace {

using test::Printed;
using test::RunProgram;
using test::TempFile;

Printed Gen(std::vector<std::string> args) {
  args.insert(args.begin(), KALVRIN_GEN_PROGRAM);
  return RunProgram(args);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A folder of its own for the files kalvrin-gen writes.
struct OutFolder {
  OutFolder() : holder("", "placeholder") {}
  std::string Path(const std::string& name) const { return (holder.path().parent_path() / name).string(); }
  TempFile holder;
};

TEST(KalvrinGen, BadFaultsEndWithOneLineAndWriteNothing) {
  const OutFolder folder;
  const std::string out = folder.Path("out.dat");
  struct Case {
    std::string fault;
    std::string error;  // the one line on standard error
  };
  const Case cases[] = {
      {"no.such-rule", "kalvrin-gen: no such fault: no.such-rule"},
      {"element.Date", "kalvrin-gen: no such fault: element.Date"},
      {"element.date@0", "kalvrin-gen: --fault element.date@0: RULE or RULE@RECORD, RECORD counted from 1"},
      {"element.date@-3", "kalvrin-gen: --fault element.date@-3: RULE or RULE@RECORD, RECORD counted from 1"},
      {"element.date@", "kalvrin-gen: --fault element.date@: RULE or RULE@RECORD, RECORD counted from 1"},
      {"element.date@12x", "kalvrin-gen: --fault element.date@12x: RULE or RULE@RECORD, RECORD counted from 1"},
      {"element.date@99999999999999999999",
       "kalvrin-gen: --fault element.date@99999999999999999999: RULE or RULE@RECORD, RECORD counted from 1"},
      // records the file does not have, or that cannot take the fault
      {"element.date@500", "kalvrin-gen: cannot inject element.date at record 500 into this file"},
      {"batch.duplicate@2", "kalvrin-gen: cannot inject batch.duplicate at record 2 into this file"},
      {"mac.kcv@3", "kalvrin-gen: cannot inject mac.kcv at record 3 into this file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("--fault " + c.fault);
    const Printed printed = Gen({out, "--size", "20000", "--fault", c.fault});
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, c.error + "\n");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  // a file already there is left as it was, and nothing else is left beside it
  const std::string kept = folder.Path("kept.dat");
  { std::ofstream(kept) << "mine\n"; }
  for (const char* fault : {"no.such-rule", "element.date@500"}) {
    SCOPED_TRACE(fault);
    EXPECT_EQ(Gen({kept, "--size", "20000", "--fault", fault}).exitCode, 2);
    EXPECT_EQ(test::ReadFileBytes(kept), "mine\n");
  }
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.holder.path().parent_path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"kept.dat", "placeholder"}));
}

// The key by the rule of every command: 32 digits with equal halves write
// the file of the left half; differing halves, which the MAC check would
// refuse, and other lengths write nothing.
TEST(KalvrinGen, TheKeyRuleOfEveryCommand) {
  const OutFolder folder;
  const std::string left = "1C587F1C13924FEF";
  const std::string single = folder.Path("single.dat");
  const std::string doubled = folder.Path("doubled.dat");
  ASSERT_EQ(Gen({single, "--size", "20000", "--key", left}).exitCode, 0);
  ASSERT_EQ(Gen({doubled, "--size", "20000", "--key", left + "1c587f1c13924fef"}).exitCode, 0);
  EXPECT_EQ(test::ReadFileBytes(doubled), test::ReadFileBytes(single));
  const struct {
    std::string key;
    std::string error;
  } refused[] = {
      {left + "A4F1C07B3E9D2658", "InstallKey error: 1 (the key cannot be installed as a single DES key)"},
      {left.substr(1), "the key must be 16 or 32 hex digits"},
      {left + "0", "the key must be 16 or 32 hex digits"},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.key);
    const std::string out = folder.Path("refused.dat");
    const Printed printed = Gen({out, "--size", "20000", "--key", c.key});
    EXPECT_NE(printed.exitCode, 0);
    EXPECT_NE(printed.err.find(c.error), std::string::npos) << printed.err;
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

// Each fault at a record of its own, and one the generator places: verify
// reports each at the record, element and offset kalvrin-gen printed.
TEST(KalvrinGen, VerifyFindsWhatItSaysItInjected) {
  const OutFolder folder;
  const std::string out = folder.Path("faults.dat");
  const Printed printed = Gen({out, "--size", "40000", "--seed", "11", "--fault", "element.currency@5", "--fault",
                               "message.stray-text@20", "--fault", "batch.totals"});
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_EQ(printed.err, "");
  const std::vector<std::string> said = Lines(printed.out);
  ASSERT_EQ(said.size(), 4u) << printed.out;
  const std::uintmax_t bytes = std::filesystem::file_size(out);
  EXPECT_EQ(said[0], out + ": " + std::to_string(bytes) + " bytes, " +
                         std::to_string((bytes - filegen::kMacHeaderLength - 2) / filegen::kRecordLength) + " messages");

  const Printed verified = test::Check({"verify", out, "--json", "--key", std::string(filegen::kDefaultKey)});
  EXPECT_EQ(verified.exitCode, 1) << verified.err;
  std::vector<std::string> found;
  for (const std::string& line : Lines(verified.out)) {
    const auto json = nlohmann::json::parse(line);
    if (json.contains("summary")) continue;
    std::string where = out + ": injected " + json["rule"].get<std::string>() + " at record " +
                        std::to_string(json["record"].get<std::int64_t>());
    if (!json["element"].is_null()) {
      const int element = json["element"];
      where += ", element " + std::string(element < 65 ? "P" : "S") + std::to_string(element);
    }
    found.push_back(where + ", offset " + std::to_string(json["offset"].get<std::int64_t>()) + ": ");
  }
  ASSERT_EQ(found.size(), 3u) << verified.out;
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(said[i + 1].substr(0, found[i].size()), found[i]) << said[i + 1];
  }
}

}  // namespace
}  // namespace kalvrin
