// Test copies: a copy without edits is the input byte for byte; edits with
// renumbering, re-totalling and re-MACing leave verify nothing new to
// report; anonymisation leaves no card number of the input in the copy; a
// refused or failed rewrite leaves no copy behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "compare/compare_files.h"
#include "iso/pan_mask.h"
#include "rewrite/anonymize.h"
#include "rewrite/card_map.h"
#include "rewrite/rewrite.h"
#include "support/test_files.h"
#include "testgen/filegen.h"
#include "verify/message_reader.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

using rewrite::Edit;
using rewrite::EditKind;
using rewrite::RewriteFile;
using rewrite::RewriteOptions;
using rewrite::RewriteResult;
using test::ReadFileBytes;
using test::TempFile;

constexpr std::string_view kKey = filegen::kDefaultKey;
constexpr std::string_view kOtherKey = "0123456789ABCDEF";

// A folder for the copies, removed with the object.
class Folder {
 public:
  Folder() : file_("", "in.dat") {}
  std::string Path(std::string_view name) const { return (file_.path().parent_path() / name).string(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(file_.path().parent_path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  TempFile file_;
};

std::string Write(const Folder& folder, std::string_view name, const std::string& bytes) {
  const std::string path = folder.Path(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

// The messages of a file as verify reads them.
struct Read {
  std::vector<DecodedMessage> messages;
  std::string Value(std::size_t index, int element) const {
    const DecodedElement* found = verify::FindElement(messages.at(index), element);
    return found != nullptr ? found->value : "<absent>";
  }
};

class Collector final : public verify::MessageVisitor {
 public:
  explicit Collector(Read& read) : read_(read) {}
  void OnStart(const verify::FileStart&) override {}
  void OnMessage(const verify::ReadMessage& message) override { read_.messages.push_back(message.decoded); }
  void OnStrayText(const verify::StrayText&) override {}

 private:
  Read& read_;
};

Read ReadMessages(const std::string& path) {
  Read read;
  Collector collector(read);
  verify::MessageFileReader reader(path);
  reader.Read(collector);
  return read;
}

class RuleCounter final : public verify::FindingSink {
 public:
  void OnFinding(const verify::Finding& finding) override { ++rules[std::string(finding.rule)]; }
  std::map<std::string, int> rules;
};

std::map<std::string, int> VerifyRules(const std::string& path, std::string_view key = kKey) {
  verify::VerifyOptions options;
  options.key = key;
  RuleCounter counter;
  verify::VerifyFile(path, options, counter);
  return counter.rules;
}

std::string Generated(std::uint32_t seed, std::uint64_t size, double chip = 0,
                      std::vector<filegen::Fault> faults = {}) {
  filegen::FileOptions options;
  options.seed = seed;
  options.size = size;
  options.chip = chip;
  options.faults = std::move(faults);
  return filegen::GenerateFileBytes(options);
}

Edit Set(std::int64_t record, int element, std::string value) {
  return {EditKind::Set, record, element, std::move(value)};
}

// ---- a copy without edits ---------------------------------------------------------

TEST(RewriteCopy, WithoutEditsIsTheInputByteForByte) {
  std::vector<std::pair<std::string, std::string>> inputs;
  for (const char* sample : {"batch-nsp.dat", "batch-nhd.dat", "batch-bad-prefix.dat"}) {
    inputs.emplace_back(sample, ReadFileBytes(test::SamplePath(sample)));
  }
  inputs.emplace_back("generated", Generated(7, 200000, 0.5));
  for (const std::string rule : {"message.bad-prefix", "message.stray-text", "message.truncated",
                                  "message.bitmap-char", "batch.totals", "element.pan-luhn"}) {
    inputs.emplace_back(rule, Generated(3, 60000, 0.3, {{rule, 0}}));
  }
  inputs.emplace_back("text only", "no messages here\r\n");
  inputs.emplace_back("empty", "");
  inputs.emplace_back("line ends inside messages", "1644\r\n" + Generated(5, 3000).substr(64));
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    Folder folder;
    const std::string in = Write(folder, "in.dat", bytes);
    const RewriteResult result = RewriteFile(in, folder.Path("out.dat"), {});
    ASSERT_TRUE(result.written) << result.error;
    EXPECT_EQ(result.changes, 0);
    EXPECT_EQ(ReadFileBytes(folder.Path("out.dat")), bytes);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"in.dat", "out.dat"}));  // no temporary file left
  }
}

// ---- edits ----------------------------------------------------------------------------

TEST(RewriteEdits, SetWritesPrefixesAndBitmapsUnsetClearsThem) {
  Folder folder;
  const std::string in = Write(folder, "in.dat", Generated(11, 8000));
  const Read before = ReadMessages(in);
  ASSERT_GT(before.messages.size(), 4u);
  RewriteOptions options;
  options.edits = {Set(3, 4, "000000002000"), Set(3, 43, "A LONGER MERCHANT NAME AND CITY"), Set(3, 34, "1234"),
                   {EditKind::Unset, 3, 37, ""}, Set(3, 100, "12345")};
  std::vector<rewrite::Change> changes;
  const RewriteResult result =
      RewriteFile(in, folder.Path("out.dat"), options, [&](const rewrite::Change& c) { changes.push_back(c); });
  ASSERT_TRUE(result.written) << result.error;
  const Read after = ReadMessages(folder.Path("out.dat"));
  ASSERT_EQ(after.messages.size(), before.messages.size());
  EXPECT_EQ(after.messages[2].stop, DecodeStop::Complete);
  EXPECT_EQ(after.Value(2, 4), "000000002000");
  EXPECT_EQ(after.Value(2, 43), "A LONGER MERCHANT NAME AND CITY");
  EXPECT_EQ(after.Value(2, 34), "1234");
  EXPECT_EQ(after.Value(2, 37), "<absent>");
  EXPECT_EQ(after.Value(2, 100), "12345");
  EXPECT_EQ(after.Value(2, 2), before.Value(2, 2));
  EXPECT_EQ(after.Value(2, 71), before.Value(2, 71));
  // every other message as it was
  for (const std::size_t i : {0u, 1u, 3u}) EXPECT_EQ(after.messages[i].elements.size(), before.messages[i].elements.size());
  ASSERT_EQ(changes.size(), 5u);
  EXPECT_EQ(changes[0].what, "set");
  EXPECT_EQ(changes[0].record, 3);
  EXPECT_EQ(changes[0].element, 4);
  EXPECT_EQ(changes[0].before, before.Value(2, 4));
  EXPECT_EQ(changes[3].what, "unset");
  EXPECT_EQ(changes[3].before, before.Value(2, 37));
}

TEST(RewriteEdits, LineEndsInsideAMessageStayWhereTheyAre) {
  Folder folder;
  std::string bytes = Generated(13, 3000);
  // the third message (after the MAC header's line and two messages' lines),
  // cut by a line end after its bitmaps and one inside P2
  const std::size_t third = bytes.find("\r\n", bytes.find("\r\n", bytes.find("\r\n") + 2) + 2) + 2;
  bytes.insert(third + 36, "\r\n");
  bytes.insert(third + 36 + 2 + 6, "\n");
  const std::string in = Write(folder, "in.dat", bytes);
  const Read before = ReadMessages(in);
  ASSERT_EQ(before.messages[2].stop, DecodeStop::Complete);
  RewriteOptions options;
  options.edits = {Set(3, 2, "4111111111111111111"), Set(3, 11, "123456")};
  ASSERT_TRUE(RewriteFile(in, folder.Path("out.dat"), options).written);
  const std::string out = ReadFileBytes(folder.Path("out.dat"));
  EXPECT_EQ(out.substr(third + 36, 2), "\r\n");  // the line end before P2 stays
  const Read after = ReadMessages(folder.Path("out.dat"));
  ASSERT_EQ(after.messages.size(), before.messages.size());
  EXPECT_EQ(after.Value(2, 2), "4111111111111111111");
  EXPECT_EQ(after.Value(2, 11), "123456");
  EXPECT_EQ(after.Value(2, 4), before.Value(2, 4));
  // a value of the same length is written in place: the line end inside P2 too
  options.edits = {Set(3, 2, std::string(before.Value(2, 2).size(), '4'))};
  ASSERT_TRUE(RewriteFile(in, folder.Path("same.dat"), options).written);
  const std::string same = ReadFileBytes(folder.Path("same.dat"));
  EXPECT_EQ(same.size(), bytes.size());
  EXPECT_EQ(same.substr(third + 36 + 2 + 6, 1), "\n");
}

TEST(RewriteEdits, RecordsCountTheInputsMessagesWhateverCameBefore) {
  Folder folder;
  const std::string in = Write(folder, "in.dat", Generated(12, 6000));
  const Read before = ReadMessages(in);
  RewriteOptions options;
  options.edits = {{EditKind::Delete, 2, 0, ""}, {EditKind::Copy, 3, 0, ""}, Set(3, 11, "999999"),
                   {EditKind::Copy, 4, 0, ""}, {EditKind::Copy, 4, 0, ""}, Set(5, 11, "888888")};
  const RewriteResult result = RewriteFile(in, folder.Path("out.dat"), options);
  ASSERT_TRUE(result.written) << result.error;
  const Read after = ReadMessages(folder.Path("out.dat"));
  ASSERT_EQ(after.messages.size(), before.messages.size() - 1 + 3);
  EXPECT_EQ(result.messagesOut, static_cast<std::int64_t>(after.messages.size()));
  // 1, 3 (edited after its copy was taken), copy of 3, 4, 4, 4, 5 (edited)
  EXPECT_EQ(after.Value(1, 11), "999999");
  EXPECT_EQ(after.Value(2, 11), before.Value(2, 11));
  for (const std::size_t i : {3u, 4u, 5u}) EXPECT_EQ(after.Value(i, 11), before.Value(3, 11));
  EXPECT_EQ(after.Value(6, 11), "888888");
  // each copy keeps the record's layout: 512 bytes a record
  EXPECT_EQ(ReadFileBytes(folder.Path("out.dat")).size(), ReadFileBytes(in).size() + 2 * 512);
}

TEST(RewriteEdits, RefusedEditsNameTheRecordAndElement) {
  const struct {
    std::string text;
    EditKind kind;
    std::string error;
  } cases[] = {
      {"8:P4=2000", EditKind::Set, "record 8, P4: the element is 12 characters long, the value 4"},
      {"8:P2=" + std::string(100, '4'), EditKind::Set, "record 8, P2: the element holds at most 99 characters, the value 100"},
      {"8:P64=12345678", EditKind::Set, "record 8, P64: not a data element (its bits belong to the bitmaps)"},
      {"8:P1", EditKind::Unset, "record 8, P1: not a data element (its bits belong to the bitmaps)"},
      {"8:P200=1", EditKind::Set, "record 8: 'P200' is not an element (P2 to S128)"},
      {"0", EditKind::Delete, "'0' is not a record number (1 for the first message)"},
      {"8:P4", EditKind::Set, "record 8: 'P4' gives no value (ELEMENT=VALUE)"},
      {"8", EditKind::Unset, "'8' is not RECORD:ELEMENT"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    EXPECT_FALSE(rewrite::ParseEdit(c.kind, c.text, error));
    EXPECT_EQ(error, c.error);
  }
  std::string error;
  const std::optional<Edit> edit = rewrite::ParseEdit(EditKind::Set, "8:S71=00000042", error);
  ASSERT_TRUE(edit) << error;
  EXPECT_EQ(edit->record, 8);
  EXPECT_EQ(edit->element, 71);
  EXPECT_EQ(edit->value, "00000042");
}

// ---- the guarantee: nothing new for verify --------------------------------------------

// Random edits of transactions that carry no fault of their own.
std::vector<Edit> RandomEdits(std::mt19937& random, const Read& read) {
  std::vector<std::int64_t> transactions;
  for (std::size_t i = 0; i < read.messages.size(); ++i) {
    const std::string& mti = read.messages[i].mti;
    if (mti == "1140" || mti == "1240" || mti == "1440") transactions.push_back(static_cast<std::int64_t>(i) + 1);
  }
  std::vector<Edit> edits;
  auto pick = [&] { return transactions[random() % transactions.size()]; };
  auto digits = [&](int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += static_cast<char>('0' + random() % 10);
    return text;
  };
  const int count = 1 + static_cast<int>(random() % 6);
  std::set<std::int64_t> deleted;
  for (int i = 0; i < count; ++i) {
    const std::int64_t record = pick();
    if (deleted.count(record) != 0) continue;
    switch (random() % 5) {
      case 0:
        // P55's amount (9F02) would no longer agree: a fault of the edit itself
        if (verify::FindElement(read.messages[static_cast<std::size_t>(record - 1)], 55) == nullptr) {
          edits.push_back(Set(record, 4, digits(12)));
        }
        break;
      case 1: edits.push_back(Set(record, 37, digits(12))); break;
      case 2: edits.push_back({EditKind::Unset, record, 43, ""}); break;
      case 3:
        edits.push_back({EditKind::Delete, record, 0, ""});
        deleted.insert(record);
        break;
      default: edits.push_back({EditKind::Copy, record, 0, ""}); break;
    }
  }
  return edits;
}

TEST(RewriteGuarantee, EditsWithRenumberRetotalRemacLeaveVerifyNothingNew) {
  for (std::uint32_t seed = 1; seed <= 24; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    Folder folder;
    const std::string in = Write(folder, "in.dat", Generated(seed, 40000 + seed * 1000, seed % 3 == 0 ? 0.5 : 0));
    std::mt19937 random(seed);
    RewriteOptions options;
    options.edits = RandomEdits(random, ReadMessages(in));
    options.renumber = options.retotal = options.remac = true;
    options.key = kKey;
    const RewriteResult result = RewriteFile(in, folder.Path("out.dat"), options);
    ASSERT_TRUE(result.written) << result.error;
    std::map<std::string, int> before = VerifyRules(in);
    std::map<std::string, int> after = VerifyRules(folder.Path("out.dat"));
    after.erase("batch.duplicate");  // what a copy makes
    for (const auto& [rule, count] : after) EXPECT_LE(count, before[rule]) << rule;
  }
}

// Comparing IN with OUT under key elements the edits leave alone lists the
// edits and nothing else: each set and unset element as changed, a deleted
// message as removed, a copy (the second of two equal keys) as added.
TEST(RewriteGuarantee, CompareListsExactlyTheEdits) {
  Folder folder;
  const std::string in = Write(folder, "in.dat", Generated(11, 60000));
  const Read read = ReadMessages(in);
  std::vector<std::int64_t> transactions;
  for (std::size_t i = 0; i < read.messages.size(); ++i) {
    if (read.messages[i].mti == "1240" && verify::FindElement(read.messages[i], 43) != nullptr) {
      transactions.push_back(static_cast<std::int64_t>(i) + 1);
    }
  }
  ASSERT_GE(transactions.size(), 4u);
  const std::int64_t amount = transactions[0], name = transactions[1], gone = transactions[2], copied = transactions[3];
  const std::string oldAmount = read.Value(static_cast<std::size_t>(amount - 1), 4);
  const std::string newAmount = oldAmount == "000000004711" ? "000000004712" : "000000004711";
  RewriteOptions options;
  options.edits = {Set(amount, 4, newAmount), {EditKind::Unset, name, 43, ""}, {EditKind::Delete, gone, 0, ""},
                   {EditKind::Copy, copied, 0, ""}};
  const std::string out = folder.Path("out.dat");
  ASSERT_TRUE(RewriteFile(in, out, options).written);

  struct Listed : compare::DifferenceSink {
    std::multiset<std::string> records;
    void OnDifference(const compare::Difference& d) override {
      records.insert(std::string(compare::ChangeName(d.change)) + " old " + std::to_string(d.oldRecord) + " P" +
                     std::to_string(d.element) + " " + d.oldValue.value_or("-") + " > " + d.newValue.value_or("-"));
    }
  } listed;
  const compare::CompareResult result = compare::CompareFiles(in, out, {}, listed);
  ASSERT_TRUE(result.read) << result.error;
  const std::multiset<std::string> expected = {
      "changed old " + std::to_string(amount) + " P4 " + oldAmount + " > " + newAmount,
      "changed old " + std::to_string(name) + " P43 " + read.Value(static_cast<std::size_t>(name - 1), 43) + " > -",
      "removed old " + std::to_string(gone) + " P0 - > -",
      "added old 0 P0 - > -"};
  EXPECT_EQ(listed.records, expected);
}

TEST(RewriteGuarantee, RemacWithAnotherKeyWritesItsCheckValueAndMac) {
  Folder folder;
  const std::string in = Write(folder, "in.dat", Generated(21, 20000));
  RewriteOptions options;
  options.remac = true;
  options.key = kOtherKey;
  options.edits = {Set(3, 4, "000000000123")};
  options.retotal = true;
  const RewriteResult result = RewriteFile(in, folder.Path("out.dat"), options);
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_EQ(result.macVariant, "MACNSP");
  EXPECT_TRUE(VerifyRules(folder.Path("out.dat"), kOtherKey).empty());
  EXPECT_EQ(VerifyRules(folder.Path("out.dat"), kKey).count("mac.kcv"), 1u);
  // the variant asked for
  options.macVariant = rewrite::kMacNhd;
  const RewriteResult nhd = RewriteFile(in, folder.Path("nhd.dat"), options);
  ASSERT_TRUE(nhd.written) << nhd.error;
  EXPECT_EQ(nhd.macVariant, "MACNHD");
  EXPECT_NE(nhd.mac, result.mac);
  options.macVariant = rewrite::kMacAll;
  EXPECT_EQ(RewriteFile(in, folder.Path("all.dat"), options).error,
            "MACALL covers the trailer's own MAC: a copy cannot declare it");
}

// ---- refusals and failures ---------------------------------------------------------------

TEST(RewriteRefusal, OutIsInThroughAnyNameIsRefusedAndInStaysAsItWas) {
  Folder folder;
  const std::string bytes = Generated(2, 5000);
  const std::string in = Write(folder, "in.dat", bytes);
  std::filesystem::create_symlink(in, folder.Path("link.dat"));
  std::filesystem::create_hard_link(in, folder.Path("hard.dat"));
  for (const std::string& out : {in, folder.Path("link.dat"), folder.Path("hard.dat"), folder.Path("./in.dat")}) {
    SCOPED_TRACE(out);
    RewriteOptions options;
    options.renumber = true;
    const RewriteResult result = RewriteFile(in, out, options);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.error, "OUT is the input file itself; a test copy goes to another file");
    EXPECT_EQ(ReadFileBytes(in), bytes);
  }
}

TEST(RewriteRefusal, AFailureLeavesNoCopyAndAnOldOutAsItWas) {
  Folder folder;
  const std::string in = Write(folder, "in.dat", Generated(4, 30000, 0, {{"message.bad-prefix", 5}}));
  const std::string out = Write(folder, "out.dat", "the old copy");
  const std::int64_t messages = static_cast<std::int64_t>(ReadMessages(in).messages.size());
  auto withEdits = [](std::vector<Edit> edits) {
    RewriteOptions options;
    options.edits = std::move(edits);
    return options;
  };
  RewriteOptions stopped;
  stopped.progress = [](std::int64_t done, std::int64_t) { return done == 0; };
  RewriteOptions noKey;
  noKey.remac = true;
  noKey.key = "12";
  const struct {
    std::string name;
    RewriteOptions options;
    std::string error;
  } cases[] = {
      {"a record past the end", withEdits({Set(messages + 1, 4, "000000000001")}),
       "record " + std::to_string(messages + 1) + " is not in the input file (" + std::to_string(messages) +
           " messages)"},
      {"a broken message", withEdits({Set(5, 11, "123456")}),
       "record 5, P11: the message could not be read in full, so it cannot be edited"},
      {"an edit after a delete", withEdits({{EditKind::Delete, 3, 0, ""}, {EditKind::Copy, 3, 0, ""}}),
       "record 3 is deleted before 'copy 3'"},
      {"stopped", stopped, "stopped"},
      {"no key", noKey, "the key must be 16 or 32 hex digits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const RewriteResult result = RewriteFile(in, out, c.options);
    EXPECT_FALSE(result.written);
    EXPECT_EQ(result.error, c.error);
    EXPECT_EQ(ReadFileBytes(out), "the old copy");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"in.dat", "out.dat"}));
  }
  const RewriteResult missing = RewriteFile(in, folder.Path("no/such/folder/out.dat"), {});
  EXPECT_FALSE(missing.written);
  EXPECT_NE(missing.error.find("cannot create a file in"), std::string::npos) << missing.error;
}

// ---- anonymisation --------------------------------------------------------------------------

TEST(RewriteCardMap, ReplacementsKeepTheRangeAndLuhnAndAreOneToOne) {
  EXPECT_EQ(rewrite::LuhnDigit("7992739871"), '3');
  EXPECT_TRUE(rewrite::PassesLuhn("79927398713"));
  EXPECT_FALSE(rewrite::PassesLuhn("79927398710"));
  for (const std::string number : {"0", "00", "123", "0000000000000000000", "9999999999999999999", "4111111111111111"}) {
    EXPECT_EQ(rewrite::UnpackNumber(rewrite::PackNumber(number)), number);
  }
  EXPECT_NE(rewrite::PackNumber("0123"), rewrite::PackNumber("123"));
  // eight digits: one drawn digit, ten numbers in the range; five held leave exactly five
  rewrite::CardNumberMap map("secret");
  std::vector<std::string> held;
  for (const char d : std::string("02468")) {
    std::string number = std::string("400000") + d;
    number += rewrite::LuhnDigit(number);
    held.push_back(number);
    map.Remember(number);
  }
  std::set<std::string> replacements;
  for (const std::string& number : held) {
    const std::optional<std::string> replaced = map.Replace(number);
    ASSERT_TRUE(replaced) << number;
    EXPECT_EQ(replaced->substr(0, 6), "400000");
    EXPECT_TRUE(rewrite::PassesLuhn(*replaced));
    EXPECT_EQ(std::count(held.begin(), held.end(), *replaced), 0);
    EXPECT_EQ(map.Replace(number), replaced);  // the same number, the same replacement
    replacements.insert(*replaced);
  }
  EXPECT_EQ(replacements.size(), held.size());
  std::string sixth = "4000001";
  sixth += rewrite::LuhnDigit(sixth);
  map.Remember(sixth);
  EXPECT_FALSE(map.Replace(sixth));  // the range is full
}

// Card numbers of a file as its readers find them: the elements' and those
// of stray text.
std::set<std::string> CardNumbersOf(const std::string& path) {
  std::set<std::string> numbers;
  for (const DecodedMessage& message : ReadMessages(path).messages) {
    for (std::string& number : CardNumbersIn(message)) numbers.insert(std::move(number));
  }
  return numbers;
}

// Each number found anywhere in the bytes: every place where six digits
// of an issuer range stand is checked against that range's numbers.
std::vector<std::string> FoundIn(const std::string& bytes, const std::set<std::string>& numbers) {
  std::map<std::uint32_t, std::vector<const std::string*>> byRange;
  std::vector<bool> ranges(1000000, false);
  auto rangeAt = [](const char* digits) -> std::optional<std::uint32_t> {
    std::uint32_t value = 0;
    for (int i = 0; i < 6; ++i) {
      if (digits[i] < '0' || digits[i] > '9') return std::nullopt;
      value = value * 10 + static_cast<std::uint32_t>(digits[i] - '0');
    }
    return value;
  };
  for (const std::string& number : numbers) {
    if (number.size() < 6) continue;
    const std::uint32_t range = *rangeAt(number.data());
    ranges[range] = true;
    byRange[range].push_back(&number);
  }
  std::vector<std::string> found;
  for (std::size_t at = 0; at + 6 <= bytes.size(); ++at) {
    const std::optional<std::uint32_t> range = rangeAt(bytes.data() + at);
    if (!range || !ranges[*range]) continue;
    for (const std::string* number : byRange[*range]) {
      if (bytes.compare(at, number->size(), *number) == 0) found.push_back(*number);
    }
  }
  return found;
}

TEST(RewriteAnonymize, NoCardNumberOfTheInputIsLeftAndTheMappingHolds) {
  Folder folder;
  std::string bytes = Generated(31, 4000000, 0.5);
  // a card number in the padding after the second message: stray text
  const std::string stray = "CARD 4000123412341234";
  const std::size_t second = bytes.find("\r\n", bytes.find("\r\n", bytes.find("\r\n") + 2) + 2) - stray.size() - 10;
  bytes.replace(second, stray.size(), stray);
  const std::string in = Write(folder, "in.dat", bytes);
  const Read before = ReadMessages(in);
  // track 1 data and track 2 data for a few messages, with their P2
  RewriteOptions edits;
  for (std::size_t i = 0; i < before.messages.size() && edits.edits.size() < 20; ++i) {
    const std::string pan = before.Value(i, 2);
    if (pan == "<absent>") continue;
    edits.edits.push_back(Set(static_cast<std::int64_t>(i) + 1, 45, "B" + pan + "^DOE/JOHN^2512101123456789"));
  }
  const std::string edited = folder.Path("edited.dat");
  ASSERT_TRUE(RewriteFile(in, edited, edits).written);
  std::set<std::string> numbers = CardNumbersOf(edited);
  numbers.insert("4000123412341234");
  ASSERT_GT(numbers.size(), 1000u);

  RewriteOptions options;
  options.anonymize = true;
  options.anonymizeSecret = "a secret";
  options.remac = true;
  options.key = kKey;
  std::vector<rewrite::Change> strayChanges;
  const RewriteResult result = RewriteFile(edited, folder.Path("out.dat"), options, [&](const rewrite::Change& c) {
    if (c.what == "strayText") strayChanges.push_back(c);
  });
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_LE(result.cardMapBytes, 32 * result.cardNumbers + 1024);
  ASSERT_EQ(strayChanges.size(), 1u);
  EXPECT_EQ(strayChanges[0].record, 2);  // the message before it
  EXPECT_EQ(strayChanges[0].before, "400012******1234");
  const std::string out = ReadFileBytes(folder.Path("out.dat"));
  EXPECT_EQ(out.size(), ReadFileBytes(edited).size());
  EXPECT_EQ(FoundIn(out, numbers), std::vector<std::string>{});
  EXPECT_EQ(out.find("DOE/JOHN"), std::string::npos);
  EXPECT_EQ(out.find("SAMPLE SHOP"), std::string::npos);
  EXPECT_NE(out.find("CARD 400012"), std::string::npos);

  const Read original = ReadMessages(edited);
  const Read anonymized = ReadMessages(folder.Path("out.dat"));
  ASSERT_EQ(anonymized.messages.size(), original.messages.size());
  std::map<std::string, std::string> mapping;
  std::set<std::string> images;
  for (std::size_t i = 0; i < original.messages.size(); ++i) {
    const std::string pan = original.Value(i, 2);
    if (pan == "<absent>") continue;
    const std::string replaced = anonymized.Value(i, 2);
    EXPECT_EQ(replaced.size(), pan.size());
    EXPECT_EQ(replaced.substr(0, 6), pan.substr(0, 6));
    EXPECT_TRUE(rewrite::PassesLuhn(replaced)) << replaced;
    auto [it, fresh] = mapping.emplace(pan, replaced);
    EXPECT_EQ(it->second, replaced);
    if (fresh) {
      EXPECT_TRUE(images.insert(replaced).second) << "two numbers map to " << replaced;
    }
    // the number inside the tracks and the chip data is P2's replacement too
    for (const std::string& inside : CardNumbersIn(anonymized.messages[i])) EXPECT_EQ(inside, replaced);
  }
  // verify finds nothing it did not find before, the MAC written for the copy
  std::map<std::string, int> rulesBefore = VerifyRules(edited);
  for (const auto& [rule, count] : VerifyRules(folder.Path("out.dat"))) EXPECT_LE(count, rulesBefore[rule]) << rule;

  // the same secret, the same copy; another, another
  ASSERT_TRUE(RewriteFile(edited, folder.Path("again.dat"), options).written);
  EXPECT_EQ(ReadFileBytes(folder.Path("again.dat")), out);
  options.anonymizeSecret = "another secret";
  ASSERT_TRUE(RewriteFile(edited, folder.Path("other.dat"), options).written);
  EXPECT_NE(ReadFileBytes(folder.Path("other.dat")), out);
}

TEST(RewriteAnonymize, FilesWithFaultsLeaveNoReadableCardNumber) {
  for (const std::string rule : {"message.bad-prefix", "message.truncated", "message.bitmap-char",
                                 "message.stray-text", "element.pan-luhn", "emv.tlv"}) {
    SCOPED_TRACE(rule);
    Folder folder;
    const std::string in = Write(folder, "in.dat", Generated(17, 80000, 0.5, {{rule, 0}}));
    RewriteOptions options;
    options.anonymize = true;
    const RewriteResult result = RewriteFile(in, folder.Path("out.dat"), options);
    ASSERT_TRUE(result.written) << result.error;
    const std::string out = ReadFileBytes(folder.Path("out.dat"));
    EXPECT_EQ(out.size(), ReadFileBytes(in).size());
    EXPECT_EQ(FoundIn(out, CardNumbersOf(in)), std::vector<std::string>{});
  }
}

TEST(RewriteAnonymize, AHundredThousandMessagesLeaveNoCardNumber) {
  Folder folder;
  const std::string in = Write(folder, "in.dat", Generated(41, 100000 * filegen::kRecordLength, 0.2));
  const std::set<std::string> numbers = CardNumbersOf(in);
  ASSERT_GT(numbers.size(), 50000u);
  RewriteOptions options;
  options.anonymize = true;
  const RewriteResult result = RewriteFile(in, folder.Path("out.dat"), options);
  ASSERT_TRUE(result.written) << result.error;
  EXPECT_GE(result.messagesIn, 100000);
  EXPECT_LE(result.cardMapBytes, 32 * result.cardNumbers + 1024);
  EXPECT_EQ(FoundIn(ReadFileBytes(folder.Path("out.dat")), numbers), std::vector<std::string>{});
}

TEST(RewriteAnonymize, CardDataElementsBecomeNeutralOfTheSameShape) {
  rewrite::CardNumberMap map("s");
  std::string error;
  const std::string track2 = rewrite::AnonymizeValue(35, "4111111111111111=25121011234567890", map, error);
  EXPECT_EQ(track2.substr(0, 6), "411111");
  EXPECT_EQ(track2.substr(16), "=25121010000000000");
  const std::string track1 = rewrite::AnonymizeValue(45, "B4111111111111111^DOE/JOHN^25121011234", map, error);
  EXPECT_EQ(track1.substr(17), "^TEST CAR^25121010000");
  EXPECT_EQ(track1.substr(1, 16), track2.substr(0, 16));
  EXPECT_EQ(rewrite::AnonymizeValue(43, "SAMPLE SHOP   VIENNA    AT", map, error), "TEST MERCHANT             ");
  EXPECT_EQ(rewrite::AnonymizeValue(52, "1A2B3C4D", map, error), "0X0X0X0X");
  EXPECT_EQ(rewrite::AnonymizeValue(102, "AT12-3456", map, error), "XX00-0000");
  EXPECT_EQ(rewrite::AnonymizeValue(4, "000000001000", map, error), "000000001000");
  // chip data: 5A's BCD digits mapped with its F padding, 5F20 a neutral name
  const std::string chip = rewrite::AnonymizeValue(55, "5A0841111111111111115F20044A4F484E", map, error);
  EXPECT_EQ(chip.substr(0, 4), "5A08");
  EXPECT_EQ(chip.substr(4, 16), track2.substr(0, 16));
  EXPECT_EQ(chip.substr(20), "5F200454455354");
  EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace kalvrin
