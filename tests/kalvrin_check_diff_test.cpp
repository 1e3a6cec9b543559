// kalvrin-check diff: every output form read back, the summary alone, masked
// card numbers and the exit statuses of diff(1).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

#include "support/check_runner.h"
#include "support/test_files.h"
#include "testgen/filegen.h"

namespace kalvrin {
namespace {

using test::Check;
using test::Printed;
using test::TempFile;

constexpr std::size_t kFirstMessage = filegen::kMacHeaderLength + 2;

// The bytes of record `record` (from 1) of a generated file.
std::size_t RecordAt(std::size_t record) { return kFirstMessage + (record - 1) * filegen::kRecordLength; }

// A generated file and a copy with record 4 gone, record 5 broken by a bad
// prefix, a changed key check value and LF line ends.
struct Pair {
  std::string before = filegen::GenerateFileBytes({.size = 8000, .seed = 7});
  std::string after;
  Pair() {
    std::string edited = before;
    edited.erase(RecordAt(4), filegen::kRecordLength);
    edited[44] = edited[44] == '0' ? '1' : '0';
    const std::size_t shop = edited.find("26SAMPLE SHOP", RecordAt(4));
    edited[shop + 1] = 'Z';
    for (const char c : edited) {
      if (c != '\r') after += c;
    }
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(DiffCommand, JsonLinesInOrderWithTheSummaryLast) {
  const Pair pair;
  const TempFile a(pair.before, "old.dat");
  const TempFile b(pair.after, "new.dat");
  const Printed printed = Check({"diff", a.str(), b.str(), "--json"});
  EXPECT_EQ(printed.exitCode, 1);
  EXPECT_EQ(printed.err, "");
  const std::vector<std::string> lines = Lines(printed.out);
  ASSERT_GE(lines.size(), 4u);
  std::vector<std::string> changes;
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
    const auto json = nlohmann::ordered_json::parse(lines[i]);
    std::vector<std::string> fields;
    for (const auto& [name, value] : json.items()) fields.push_back(name);
    const bool envelope = json["change"] == "envelope";
    EXPECT_EQ(fields, envelope ? (std::vector<std::string>{"change", "oldRecord", "newRecord", "oldOffset", "newOffset",
                                                           "element", "field", "old", "new", "key"})
                               : (std::vector<std::string>{"change", "oldRecord", "newRecord", "oldOffset", "newOffset",
                                                           "element", "old", "new", "key"}));
    changes.push_back(json["change"]);
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"line-ends", "envelope", "removed", "removed", "unreadable"}));
  const auto first = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(first["old"], "CR LF");
  EXPECT_EQ(first["new"], "LF");
  EXPECT_TRUE(first["oldRecord"].is_null());
  const auto removed = nlohmann::json::parse(lines[2]);
  EXPECT_EQ(removed["oldRecord"], 4);
  EXPECT_EQ(removed["oldOffset"], RecordAt(4));
  EXPECT_TRUE(removed["newOffset"].is_null());
  const auto unreadable = nlohmann::json::parse(lines[4]);
  EXPECT_EQ(unreadable["element"], 43);
  EXPECT_EQ(unreadable["newRecord"], 4);
  const auto summary = nlohmann::json::parse(lines.back())["summary"];
  EXPECT_EQ(summary["lineEnds"], 1);
  EXPECT_EQ(summary["envelope"], 1);
  EXPECT_EQ(summary["removed"], 2);
  EXPECT_EQ(summary["unreadable"], 1);
  EXPECT_EQ(summary["oldMessages"].get<int>(), summary["newMessages"].get<int>() + 1);
  EXPECT_EQ(summary["equal"], summary["pairs"]);
}

TEST(DiffCommand, CsvAndTextHoldTheSameRecords) {
  const Pair pair;
  const TempFile a(pair.before, "old.dat");
  const TempFile b(pair.after, "new.dat");
  const Printed json = Check({"diff", a.str(), b.str(), "--json"});
  const Printed csv = Check({"diff", a.str(), b.str(), "--csv"});
  const Printed text = Check({"diff", a.str(), b.str()});
  EXPECT_EQ(csv.exitCode, 1);
  EXPECT_EQ(text.exitCode, 1);
  const std::vector<std::string> rows = Lines(csv.out);
  const std::vector<std::string> records = Lines(json.out);
  ASSERT_EQ(rows.size(), records.size());  // a title row instead of the summary
  EXPECT_EQ(rows[0], "change,oldRecord,newRecord,oldOffset,newOffset,element,field,old,new,key\r");
  EXPECT_EQ(rows[1], "line-ends,,,,,,,CR LF,LF,\r");
  EXPECT_EQ(rows[2].substr(0, 18), "envelope,,,,,,kcv,");
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), records.size());
  EXPECT_EQ(lines[0], "line-ends  CR LF -> LF");
  EXPECT_EQ(lines[2].substr(0, 31), "removed  old 4 (offset " + std::to_string(RecordAt(4)) + ")  1");
  EXPECT_EQ(lines[4].substr(0, 40), "unreadable  new 4 (offset " + std::to_string(RecordAt(4) - 4) + ")  broken ");
  EXPECT_EQ(lines.back().substr(0, 9), "summary: ");
}

TEST(DiffCommand, ChangedElementLineAndSummaryAlone) {
  const std::string before = filegen::GenerateFileBytes({.size = 8000, .seed = 8});
  std::string after = before;
  // S72 "RECONCILIATION" of the first 1542
  const std::size_t at = after.find("014RECONCILIATION");
  ASSERT_NE(at, std::string::npos);
  after.replace(at, 17, "005RECON");
  after.insert(after.find("\r\n", at), 9, ' ');  // the record keeps its length
  const TempFile a(before, "old.dat");
  const TempFile b(after, "new.dat");
  const Printed text = Check({"diff", a.str(), b.str()});
  EXPECT_EQ(text.exitCode, 1);
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 2u) << text.out;
  const std::size_t record = (at - kFirstMessage) / filegen::kRecordLength + 1;
  EXPECT_EQ(lines[0], "changed  old " + std::to_string(record) + " / new " + std::to_string(record) +
                          "  S72: 'RECONCILIATION' -> 'RECON'");
  const Printed summary = Check({"diff", a.str(), b.str(), "--summary", "--json"});
  EXPECT_EQ(summary.exitCode, 1);
  ASSERT_EQ(Lines(summary.out).size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(summary.out)["summary"]["changed"], 1);
  const Printed ignored = Check({"diff", a.str(), b.str(), "--ignore", "S72", "--summary"});
  EXPECT_EQ(ignored.exitCode, 0);
  EXPECT_EQ(ignored.out.substr(0, 9), "summary: ");
}

TEST(DiffCommand, ExitStatuses) {
  const std::string bytes = filegen::GenerateFileBytes({.size = 4000, .seed = 9});
  const TempFile a(bytes, "old.dat");
  const TempFile same(bytes, "same.dat");
  const Printed equal = Check({"diff", a.str(), same.str(), "--json"});
  EXPECT_EQ(equal.exitCode, 0);
  ASSERT_EQ(Lines(equal.out).size(), 1u);
  EXPECT_EQ(nlohmann::json::parse(equal.out)["summary"]["removed"], 0);
  const Printed csv = Check({"diff", a.str(), same.str(), "--csv"});
  EXPECT_EQ(csv.exitCode, 0);
  EXPECT_EQ(Lines(csv.out).size(), 1u);  // the title row alone

  const std::string missing = a.str() + ".missing";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"diff", a.str(), missing}, {"diff", missing, a.str(), "--json"},
        {"diff", a.str(), missing, "--csv"},
        {"diff", a.str(), same.str(), "--match", "P1"}, {"diff", a.str(), same.str(), "--ignore", "S129"},
        {"diff", a.str(), same.str(), "--match", "P2,"}, {"diff", a.str(), same.str(), "--match", ""},
        {"diff", a.str(), same.str(), "--ignore", ""}, {"diff", a.str()},
        {"diff", a.str(), same.str(), "--json", "--csv"}}) {
    SCOPED_TRACE(args.back());
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(Lines(printed.err).size(), 1u);
    EXPECT_EQ(printed.err.substr(0, 15), "kalvrin-check: ");
  }
  EXPECT_NE(Check({"diff", a.str(), missing}).err.find(missing), std::string::npos);
}

TEST(DiffCommand, MaskedCardNumbersInEveryForm) {
  const std::string before = filegen::GenerateFileBytes({.size = 8000, .seed = 10});
  std::string after = before;
  after.erase(RecordAt(3), filegen::kRecordLength);  // a removed transaction: its key shows its card number
  const std::size_t panAt = RecordAt(3) + 4 + 32 + 2;
  const std::string pan = before.substr(panAt, static_cast<std::size_t>(std::stoi(before.substr(panAt - 2, 2))));
  const TempFile a(before, "old.dat");
  const TempFile b(after, "new.dat");
  for (const char* form : {"--json", "--csv", "--summary"}) {
    SCOPED_TRACE(form);
    const Printed clear = Check({"diff", a.str(), b.str(), form});
    const Printed masked = Check({"diff", a.str(), b.str(), form, "--mask-pan"});
    EXPECT_EQ(masked.exitCode, 1);
    EXPECT_EQ(masked.out.find(pan), std::string::npos);
    EXPECT_EQ(clear.out.size(), masked.out.size());
    if (std::string(form) != "--summary") {
      EXPECT_NE(clear.out.find(pan), std::string::npos);
      EXPECT_NE(masked.out.find(pan.substr(0, 6) + "**"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace kalvrin
