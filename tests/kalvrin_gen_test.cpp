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
#include "mac/mac_explain.h"
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

// Every candidate kalvrin-gen can make a file for is the one (or among the
// ones) kalvrin-check mac --explain names; the exit status stays a mismatch.
TEST(KalvrinGen, MacCauseFilesAreExplainedWithTheirCause) {
  const OutFolder folder;
  const std::string out = folder.Path("cause.dat");
  for (const std::string key : {"A4F1C07B3E9D2658", "A4F1C07B3E9D26580123456789ABCDEF"}) {
    for (const MacCandidate c : MacCandidates(static_cast<int>(key.size()))) {
      const std::string form(FormInfo(c.form).id);
      const std::string cause(CauseInfo(c.cause).id);
      SCOPED_TRACE(form + "/" + cause + " under " + std::to_string(key.size()) + " digits");
      const Printed made = Gen({out, "--size", "6000", "--key", key, "--mac-cause", cause, "--mac-variant", form});
      ASSERT_EQ(made.exitCode, 0) << made.err;
      const Printed checked = test::Check({"mac", out, "--key", key, "--explain", "--json"});
      const auto explain = nlohmann::json::parse(checked.out).at("explain");
      // the generator writes printable bytes only, so between the MAC header
      // and the trailer no-mask is MACNHD's and MACNSP's own computation
      if (c.cause == MacCause::NoMask && (c.form == MacForm::Nhd || c.form == MacForm::Nsp)) {
        EXPECT_EQ(explain.at("result"), "not-needed");
        EXPECT_EQ(checked.exitCode, key.size() == 16 ? 0 : 2);
        continue;
      }
      EXPECT_EQ(checked.exitCode, key.size() == 16 ? 1 : 2);
      ASSERT_EQ(explain.at("result"), "matched");
      EXPECT_TRUE(std::ranges::any_of(explain.at("matches"), [&](const nlohmann::json& m) {
        return m.at("variant") == form && m.at("cause") == cause;
      }));
    }
  }
  const Printed refused = Gen({out, "--size", "6000", "--mac-cause", "retail"});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.err, "kalvrin-gen: --mac-cause retail --mac-variant MACNSP: not a candidate of a 16-digit key\n");
  EXPECT_EQ(Gen({out, "--size", "6000", "--mac-cause", "none", "--mac-variant", "MACALL"}).exitCode, 2);
}

}  // namespace
}  // namespace kalvrin
