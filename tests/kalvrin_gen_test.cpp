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

// "OUT: injected RULE at record N[, element P12][, offset N]: ..." up to the
// colon before what was done, for the lines that begin with `how`.
std::vector<std::string> Said(const std::string& out, const std::string& file, const std::string& how) {
  std::vector<std::string> said;
  const std::string start = file + ": " + how + " ";
  for (const std::string& line : Lines(out)) {
    if (line.rfind(start, 0) == 0) said.push_back(line.substr(start.size(), line.find(": ", start.size()) - start.size()));
  }
  return said;
}

// The same for what verify found, in the generator's words.
std::vector<std::string> Found(const std::string& jsonLines) {
  std::vector<std::string> found;
  for (const std::string& line : Lines(jsonLines)) {
    const auto json = nlohmann::json::parse(line);
    if (json.contains("summary")) continue;
    std::string where = json["rule"].get<std::string>();
    if (!json["record"].is_null()) where += " at record " + std::to_string(json["record"].get<std::int64_t>());
    if (!json["element"].is_null()) {
      const int element = json["element"];
      where += ", element " + std::string(element < 65 ? "P" : "S") + std::to_string(element);
    }
    if (!json["offset"].is_null()) where += ", offset " + std::to_string(json["offset"].get<std::int64_t>());
    found.push_back(where);
  }
  return found;
}

std::int64_t RecordOf(const std::string& said) {
  const std::size_t at = said.find(" at record ");
  return at == std::string::npos ? 0 : std::stoll(said.substr(at + 11));
}

// Faults named without a record each go into a record of their own, placed
// so that none hides another: verify finds each one where kalvrin-gen says,
// and nothing else, over several seeds.
TEST(KalvrinGen, FaultsWithoutARecordEachGetOneOfTheirOwn) {
  const OutFolder folder;
  const std::string out = folder.Path("several.dat");
  const std::vector<std::string> rules = {
      "message.bad-prefix", "element.date",         "element.currency",    "element.pan-luhn",
      "batch.message-number", "batch.message-number", "batch.duplicate",   "element.not-numeric",
      "message.stray-text", "batch.totals",          "batch.totals",       "element.track2-mismatch",
      "message.bitmap-char", "mac.mismatch"};
  for (const std::string seed : {"1", "7", "11", "23", "2026"}) {
    SCOPED_TRACE("seed " + seed);
    std::vector<std::string> args = {out, "--size", "60000", "--seed", seed};
    for (const std::string& rule : rules) args.insert(args.end(), {"--fault", rule});
    const Printed printed = Gen(args);
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    std::vector<std::string> said = Said(printed.out, out, "injected");
    EXPECT_EQ(said.size(), rules.size()) << printed.out;
    EXPECT_TRUE(Said(printed.out, out, "hidden").empty()) << printed.out;
    std::vector<std::int64_t> records;
    for (const std::string& fault : said) records.push_back(RecordOf(fault));
    std::sort(records.begin(), records.end());
    EXPECT_EQ(std::adjacent_find(records.begin(), records.end()), records.end()) << printed.out;

    const Printed verified = test::Check({"verify", out, "--json", "--key", std::string(filegen::kDefaultKey)});
    std::vector<std::string> found = Found(verified.out);
    std::sort(said.begin(), said.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, said) << printed.out << verified.out;
  }
}

// Faults told to share a record: the one that verify cannot see behind
// another is printed as hidden, with the fault that hides it; the rest as
// injected, and that is what verify finds.
TEST(KalvrinGen, AFaultAnotherHidesIsPrintedAsHidden) {
  const OutFolder folder;
  const std::string out = folder.Path("shared.dat");
  struct Case {
    std::vector<std::string> faults;
    std::vector<std::string> hidden;  // rule and what hides it
    std::string followOn = {};        // a finding the faults bring elsewhere, as "RULE at record N"
  };
  const Case cases[] = {
      {{"message.bad-prefix@6", "element.date@6", "message.bitmap-char@6", "batch.message-number@6"},
       {"batch.message-number behind message.bad-prefix at record 6",
        "element.date behind message.bad-prefix at record 6"}},
      // the second wrong number continues the first, and the next right one breaks the sequence
      {{"batch.message-number@8", "batch.message-number@9"},
       {"batch.message-number behind batch.message-number at record 8"},
       "batch.message-number at record 10"},
      {{"element.date@3", "batch.duplicate@3"}, {"batch.duplicate behind element.date at record 3"}},
      {{"message.bad-prefix@2", "batch.totals"}, {}},  // the totals go to a batch of their own
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.faults));
    std::vector<std::string> args = {out, "--size", "30000", "--seed", "4"};
    for (const std::string& fault : c.faults) args.insert(args.end(), {"--fault", fault});
    const Printed printed = Gen(args);
    ASSERT_EQ(printed.exitCode, 0) << printed.err;
    std::vector<std::string> hidden;
    for (const std::string& line : Lines(printed.out)) {
      const std::size_t at = line.find(": hidden ");
      if (at == std::string::npos) continue;
      const std::string rule = line.substr(at + 9, line.find(' ', at + 9) - at - 9);
      hidden.push_back(rule + " behind " + line.substr(line.find("; verify does not find it behind ") + 33));
    }
    std::sort(hidden.begin(), hidden.end());
    EXPECT_EQ(hidden, c.hidden) << printed.out;
    std::vector<std::string> said = Said(printed.out, out, "injected");
    EXPECT_EQ(said.size() + hidden.size(), c.faults.size());
    std::vector<std::string> found = Found(test::Check({"verify", out, "--json"}).out);
    if (!c.followOn.empty()) {
      const auto followOn = std::find_if(found.begin(), found.end(),
                                         [&c](const std::string& f) { return f.rfind(c.followOn + ",", 0) == 0; });
      ASSERT_NE(followOn, found.end());
      found.erase(followOn);
    }
    std::sort(said.begin(), said.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, said) << printed.out;
  }
}

// A fault without a record that has nowhere to go where verify can find it
// is refused, and says why; nothing is written.
TEST(KalvrinGen, AFaultWithNowhereToGoIsRefused) {
  const OutFolder folder;
  const std::string out = folder.Path("refused.dat");
  struct Case {
    std::vector<std::string> faults;
    std::string error;
  };
  const Case cases[] = {
      {{"mac.kcv", "mac.mismatch"}, "cannot inject mac.mismatch into this file: mac.kcv would hide it"},
      {{"envelope.kcv-mismatch@1", "envelope.mac-header"},
       "cannot inject envelope.mac-header into this file: it would hide envelope.kcv-mismatch"},
      {{"envelope.trailer-mac", "mac.mismatch"},
       "cannot inject mac.mismatch into this file: every record that suits it holds another fault"},
      {{"message.truncated@3", "batch.totals"}, "cannot inject batch.totals into this file: the file ends inside record 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    std::vector<std::string> args = {out, "--size", "20000"};
    for (const std::string& fault : c.faults) args.insert(args.end(), {"--fault", fault});
    const Printed printed = Gen(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, "kalvrin-gen: " + c.error + "\n");
    EXPECT_FALSE(std::filesystem::exists(out));
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
