// kalvrin-check verify: every rule by an injected fault at a known message,
// clean generated files over many seeds, exact totals, very large files,
// and the output forms and exit status of the command.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/verify_subcommand.h"
#include "support/check_runner.h"
#include "support/test_files.h"
#include "testgen/filegen.h"
#include "verify/batch_rules.h"
#include "verify/element_rules.h"
#include "verify/mac_rules.h"
#include "verify/message_reader.h"
#include "verify/rules.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

using test::Check;
using test::TempFile;
using verify::Finding;

constexpr std::string_view kKey = filegen::kDefaultKey;

struct Collected {
  std::vector<Finding> findings;
  verify::VerifySummary summary;
};

class CollectingSink final : public verify::FindingSink {
 public:
  void OnFinding(const Finding& finding) override { findings.push_back(finding); }
  std::vector<Finding> findings;
};

Collected Verify(const std::string& path, std::string_view key = {}) {
  verify::VerifyOptions options;
  options.key = key;
  CollectingSink sink;
  Collected collected;
  collected.summary = verify::VerifyFile(path, options, sink);
  collected.findings = std::move(sink.findings);
  return collected;
}

Collected VerifyBytes(const std::string& bytes, std::string_view key = {}) {
  const TempFile file(bytes);
  return Verify(file.str(), key);
}

std::string Describe(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) {
    text += std::string(f.rule) + " record " + std::to_string(f.record) + " offset " + std::to_string(f.offset) +
            " element " + std::to_string(f.element) + ": " + f.message + "\n";
  }
  return text;
}

// A valid MAC header record (the default key's check value) and its line end.
const std::string kEnvelope = "DORVMAC HEADER TEST                      101B690D73520261208\r\n";

// Hand-made files without a MAC header record: the findings about it left out.
std::vector<Finding> WithoutEnvelope(const std::vector<Finding>& findings) {
  std::vector<Finding> kept;
  for (const Finding& f : findings) {
    if (f.rule != "envelope.mac-header" && f.rule != "envelope.file-header" && f.rule != "envelope.trailer-missing") {
      kept.push_back(f);
    }
  }
  return kept;
}

std::string Generate(const filegen::FileOptions& options, filegen::FileSummary& summary) {
  std::string bytes = filegen::GenerateFileBytes(options, &summary);
  EXPECT_EQ(summary.error, "");
  return bytes;
}

// ---- every rule by fault injection -------------------------------------------------

struct InjectionCase {
  std::string rule;
  std::int64_t record = 0;  // 0: the generator's choice
  std::string allowedFollowOn;  // the one other finding the fault may bring, empty: none
};

// Every rule, some also at a record of the test's choice.
const InjectionCase kInjectionCases[] = {
    {"envelope.mac-header", 0, "mac.kcv"},  // the spoilt check value is not the key's either
    {"envelope.file-header", 0, ""},
    {"envelope.trailer-missing", 0, ""},
    {"envelope.trailer-not-last", 0, ""},
    {"envelope.trailer-mac", 0, "mac.mismatch"},  // the MAC check reads the MAC at the wrong bytes
    {"envelope.kcv-mismatch", 0, ""},
    {"message.bad-prefix", 0, ""},
    {"message.bad-prefix", 12, ""},
    {"message.truncated", 0, ""},
    {"message.truncated", 5, "envelope.trailer-missing"},  // everything after the cut is gone
    {"message.bitmap-char", 0, ""},
    {"message.no-secondary-bit", 0, ""},
    {"message.stray-text", 0, ""},
    {"element.not-numeric", 0, ""},
    {"element.not-numeric", 1, ""},  // the file header's P7
    {"element.date", 0, ""},
    {"element.date", 1, ""},
    {"element.pan-luhn", 0, ""},
    {"element.currency", 0, ""},
    {"element.track2-mismatch", 0, ""},
    {"batch.message-number", 0, ""},
    {"batch.message-number", 9, ""},
    {"batch.duplicate", 0, ""},
    {"batch.totals", 0, ""},
    {"mac.kcv", 0, ""},
    {"mac.mismatch", 0, ""},
    {"emv.tlv", 0, ""},
    {"emv.amount", 0, ""},
    {"emv.currency", 0, ""},
    {"emv.date", 0, ""},
    {"emv.pan", 0, ""},
    {"emv.pan", 6, ""},
    {"emv.cryptogram", 0, ""},
};

// The rules verify checks, the faults the generator injects and the cases
// above are one set: a new rule comes with its fault and its case.
TEST(VerifyFaults, EveryRuleHasItsFaultAndItsCase) {
  std::set<std::string_view> rules;
  for (const verify::RuleInfo& info : verify::kRules) rules.insert(info.id);
  const std::vector<std::string_view>& injectable = filegen::InjectableFaults();
  const std::set<std::string_view> faults(injectable.begin(), injectable.end());
  std::set<std::string_view> cases;
  for (const InjectionCase& c : kInjectionCases) cases.insert(c.rule);
  EXPECT_EQ(faults, rules);
  EXPECT_EQ(cases, rules);
  EXPECT_EQ(injectable.size(), faults.size()) << "a fault listed twice";
}

// Each fault gives exactly its finding, where the generator put it, and at
// most the one follow-on that the fault explains.
TEST(VerifyFaults, EachInjectedFaultGivesItsFinding) {
  for (const std::uint32_t seed : {3u, 17u, 2026u}) {
    for (const InjectionCase& c : kInjectionCases) {
      SCOPED_TRACE(c.rule + "@" + std::to_string(c.record) + " seed " + std::to_string(seed));
      filegen::FileSummary made;
      const std::string bytes = Generate({.size = 40000, .seed = seed, .faults = {{c.rule, c.record}}}, made);
      ASSERT_EQ(made.injected.size(), 1u);
      const filegen::Injected& injected = made.injected[0];
      if (c.record != 0) {
        EXPECT_EQ(injected.record, c.record);
      }
      const Collected result = VerifyBytes(bytes, kKey);
      int own = 0;
      int others = 0;
      for (const Finding& f : result.findings) {
        if (f.rule == c.rule && f.record == injected.record && f.element == injected.element &&
            f.offset == injected.offset) {
          ++own;
        } else {
          EXPECT_EQ(f.rule, c.allowedFollowOn) << Describe(result.findings);
          ++others;
        }
      }
      EXPECT_EQ(own, 1) << Describe(result.findings);
      EXPECT_LE(others, 1) << Describe(result.findings);
    }
  }
}

// Faults at their own messages do not hide each other.
TEST(VerifyFaults, SeveralFaultsInOneFileEachGiveTheirFinding) {
  filegen::FileSummary made;
  const std::string bytes = Generate({.size = 40000,
                                      .seed = 5,
                                      .faults = {{"element.date", 2},
                                                 {"message.bad-prefix", 7},
                                                 {"element.currency", 20},
                                                 {"batch.message-number", 30},
                                                 {"message.stray-text", 40}}},
                                     made);
  ASSERT_EQ(made.injected.size(), 5u);
  const Collected result = VerifyBytes(bytes);
  ASSERT_EQ(result.findings.size(), 5u) << Describe(result.findings);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(result.findings[i].rule, made.injected[i].rule);
    EXPECT_EQ(result.findings[i].record, made.injected[i].record);
    EXPECT_EQ(result.findings[i].offset, made.injected[i].offset);
  }
}

// A byte inserted into a fixed-length element shifts the rest of the
// message: the findings start at that message and stay few.
TEST(VerifyFaults, AnInsertedByteGivesABoundedCascade) {
  for (const std::uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    filegen::FileSummary made;
    std::string bytes = Generate({.size = 20000, .seed = seed}, made);
    // record 2 starts one record after the 1644; its P3 stands 36 bytes in
    const std::size_t record2 = filegen::kMacHeaderLength + 2 + filegen::kRecordLength;
    const std::size_t p2Length = std::stoul(bytes.substr(record2 + 36, 2));
    bytes.insert(record2 + 36 + 2 + p2Length, "0");
    const Collected result = VerifyBytes(bytes);
    ASSERT_FALSE(result.findings.empty());
    EXPECT_EQ(result.findings.front().record, 2);
    EXPECT_LE(result.findings.size(), 12u) << Describe(result.findings);
    // the message's own faults, and the batch totals its shifted amount upsets
    for (const Finding& f : result.findings) {
      EXPECT_TRUE(f.record == 2 || f.rule == "batch.totals") << Describe(result.findings);
    }
  }
}

// ---- clean files ---------------------------------------------------------------------

TEST(VerifyClean, GeneratedFilesGiveNoFindingOverManySeeds) {
  for (std::uint32_t seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    filegen::FileSummary made;
    const std::string bytes = Generate({.size = 6000 + 97 * (seed % 40), .seed = seed}, made);
    const Collected result = VerifyBytes(bytes, seed % 10 == 0 ? kKey : std::string_view());
    ASSERT_TRUE(result.findings.empty()) << Describe(result.findings);
    EXPECT_EQ(result.summary.messages, static_cast<std::int64_t>(made.messages));
    if (seed % 10 == 0) {
      EXPECT_EQ(result.summary.mac.matched, "MACNSP");
    }
    for (const verify::BatchSummary& batch : result.summary.batches) EXPECT_EQ(batch.notJudged, "");
  }
}

TEST(VerifyClean, AnotherKeyGivesItsOwnValidFile) {
  filegen::FileSummary made;
  const std::string bytes = Generate({.size = 30000, .seed = 9, .key = "1C587F1C13924FEF"}, made);
  EXPECT_TRUE(VerifyBytes(bytes, "1C587F1C13924FEF").findings.empty());
  const Collected wrongKey = VerifyBytes(bytes, kKey);
  ASSERT_EQ(wrongKey.findings.size(), 1u);
  EXPECT_EQ(wrongKey.findings[0].rule, "mac.kcv");
  EXPECT_EQ(*wrongKey.findings[0].declared, "0D40BFF8");
  EXPECT_EQ(*wrongKey.findings[0].computed, "B690D735");
}

// The bundled samples were written with random dates and card numbers.
TEST(VerifyClean, SamplesShowTheirRandomDatesAndCardNumbers) {
  const Collected result = Verify(test::SamplePath("batch-nsp.dat").string(), kKey);
  int dates = 0;
  int cards = 0;
  for (const Finding& f : result.findings) {
    dates += f.rule == "element.date";
    cards += f.rule == "element.pan-luhn";
  }
  EXPECT_GT(dates, 5);
  EXPECT_EQ(cards, 6);  // every transaction
  EXPECT_EQ(result.summary.mac.matched, "MACNSP");
  EXPECT_EQ(result.summary.messages, 8);
}

// ---- the rules in detail -------------------------------------------------------------

TEST(VerifyRules, DatesAndTimesOfTheCalendar) {
  const struct {
    std::string_view text;
    std::string_view layout;
    bool valid;
    std::size_t index;
  } cases[] = {
      {"0229235959", "MMDDhhmmss", true, 0},  {"0230000000", "MMDDhhmmss", false, 2},
      {"0431120000", "MMDDhhmmss", false, 2}, {"1231240000", "MMDDhhmmss", false, 4},
      {"0101006000", "MMDDhhmmss", false, 6}, {"0101000060", "MMDDhhmmss", false, 8},
      {"0001", "MMDD", false, 0},             {"260001120000", "YYMMDDhhmmss", false, 2},
      {"261131000000", "YYMMDDhhmmss", false, 4}, {"2812", "YYMM", true, 0},
      {"2800", "YYMM", false, 2},             {"991231235959", "YYMMDDhhmmss", true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const auto fault = verify::CheckDateTime(c.text, c.layout);
    EXPECT_EQ(!fault.has_value(), c.valid);
    if (fault) {
      EXPECT_EQ(fault->index, c.index);
    }
  }
}

TEST(VerifyRules, LuhnAndCurrencyCodes) {
  EXPECT_TRUE(verify::PassesLuhn("4111111111111111"));
  EXPECT_TRUE(verify::PassesLuhn("79927398713"));
  EXPECT_FALSE(verify::PassesLuhn("79927398710"));
  EXPECT_FALSE(verify::PassesLuhn("4111111111111112"));
  for (const char* code : {"978", "EUR", "840", "USD", "008", "XXX"}) EXPECT_TRUE(verify::IsCurrencyCode(code)) << code;
  for (const char* code : {"000", "eur", "97", "9780", "ABC", ""}) EXPECT_FALSE(verify::IsCurrencyCode(code)) << code;
}

// One wrong number is one finding at it; a gap is one finding at the first
// message after it; either way the sequence goes on without more findings.
TEST(VerifyRules, MessageNumbersTellAWrongNumberFromAGap) {
  const struct {
    const char* name;
    std::vector<std::uint64_t> numbers;
    std::vector<std::size_t> findings;
  } cases[] = {
      {"in order", {7, 8, 9, 10}, {}},
      {"one wrong number", {1, 2, 9, 4, 5}, {2}},
      {"a gap", {1, 2, 3, 9, 10, 11}, {3}},
      {"a repeat", {1, 2, 2, 3}, {2}},
      {"two gaps", {1, 5, 6, 10}, {1, 3}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    verify::MessageNumbers numbers;
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < c.numbers.size(); ++i) {
      if (numbers.Next(c.numbers[i])) found.push_back(i);
    }
    EXPECT_EQ(found, c.findings);
  }
  // after a message whose number is unknown, the next may count it or not
  for (const std::uint64_t next : {3u, 4u}) {
    verify::MessageNumbers numbers;
    numbers.Next(1);
    numbers.Next(2);
    numbers.Unknown();
    EXPECT_FALSE(numbers.Next(next)) << next;
  }
}

TEST(VerifyRules, DuplicateIndexStaysSmallAndFindsEveryRepeat) {
  verify::DuplicateIndex index;
  constexpr std::int64_t kKeys = 300000;
  for (std::int64_t i = 1; i <= kKeys; ++i) {
    ASSERT_EQ(index.Insert(verify::KeyHash({"1240", std::to_string(i)}), i), 0) << i;
  }
  EXPECT_LE(index.Bytes(), static_cast<std::size_t>(17 * kKeys));
  EXPECT_EQ(index.Insert(verify::KeyHash({"1240", "12345"}), kKeys + 1), 12345);
  EXPECT_EQ(index.Insert(verify::KeyHash({"1440", "12345"}), kKeys + 2), 0);
}

// A generated file's index at its largest, growth included: within 17 bytes
// a message beyond the first slots of its 256 tables; none with the rule off.
TEST(VerifyRules, DuplicateIndexBytesOfAGeneratedFile) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 12000000, .seed = 8}, made));
  const Collected result = Verify(file.str());
  ASSERT_TRUE(result.findings.empty()) << Describe(result.findings);
  EXPECT_GT(result.summary.duplicateIndexBytes, 12 * made.messages / 2);
  EXPECT_LE(result.summary.duplicateIndexBytes, 17 * made.messages + 256 * 16 * 12);
  verify::VerifyOptions off;
  off.rules.Disable(verify::Rule::Duplicate);
  CollectingSink sink;
  EXPECT_EQ(verify::VerifyFile(file.str(), off, sink).duplicateIndexBytes, 0u);
}

// A repeat names the elements of its key; one a message lacks is named
// absent, not shown as the key's stand-in byte.
TEST(VerifyRules, DuplicateNamesAnAbsentElement) {
  const std::string message = filegen::BuildMessage("1240", {{2, "4111111111111111"}, {3, "200000"}, {4, "000000001000"},
                                                             {11, "000001"}});
  const Collected result = VerifyBytes(message + "\r\n" + message + "\r\n");
  std::vector<std::string> messages;
  for (const Finding& f : result.findings) {
    if (f.rule == "batch.duplicate") messages.push_back(f.message);
  }
  ASSERT_EQ(messages.size(), 1u) << Describe(result.findings);
  EXPECT_NE(messages[0].find("(P2 '4111111111111111', P11 '000001', P12 absent, P37 absent)"), std::string::npos)
      << messages[0];
}

// Track 2's card number is compared with P2 after its start sentinel, as
// masking reads it, and a difference is pointed at where it stands.
TEST(VerifyRules, TrackTwoStartSentinelIsNotPartOfTheCardNumber) {
  for (const bool sentinel : {false, true}) {
    SCOPED_TRACE(sentinel ? "with ';'" : "without ';'");
    const std::string start = sentinel ? ";" : "";
    const auto track2Findings = [](const std::string& bytes) {
      std::vector<Finding> found;
      for (const Finding& f : VerifyBytes(bytes).findings) {
        if (f.rule == "element.track2-mismatch") found.push_back(f);
      }
      return found;
    };
    const auto message = [&start](std::string_view card) {
      return filegen::BuildMessage("1240", {{2, "4111111111111111"}, {3, "200000"}, {14, "2512"},
                                            {35, start + std::string(card) + "=25121010000"}}) + "\r\n";
    };
    EXPECT_TRUE(track2Findings(message("4111111111111111")).empty());
    const std::string other = message("4111111111111121");
    const std::vector<Finding> found = track2Findings(other);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].message, "P35's card number '4111111111111121' is not P2's '4111111111111111'");
    EXPECT_EQ(found[0].offset, static_cast<std::int64_t>(other.find("4111111111111121=") + 14));
  }
}

// Stray text: digits that open no message count as text; one finding per
// gap; padding and line ends are not stray.
TEST(VerifyRules, StrayTextOncePerGap) {
  const std::string a = filegen::BuildMessage("1140", {{3, "000000"}, {71, "00000001"}});
  const std::string b = filegen::BuildMessage("1140", {{3, "000000"}, {71, "00000002"}});
  const std::string c = filegen::BuildMessage("1140", {{3, "000000"}, {71, "00000003"}});
  const std::string bytes = a + "   \r\n" + b + "  12 NOTE 9" + c + "\r\n  0033";
  const Collected result = VerifyBytes(bytes);
  std::vector<std::int64_t> stray;
  for (const Finding& f : WithoutEnvelope(result.findings)) {
    if (f.rule == "message.stray-text") stray.push_back(f.offset);
  }
  const auto second = static_cast<std::int64_t>(a.size() + 5 + b.size() + 2);
  const auto third = static_cast<std::int64_t>(a.size() + 5 + b.size() + 11 + c.size() + 4);
  EXPECT_EQ(stray, (std::vector<std::int64_t>{second, third})) << Describe(result.findings);
}

// After a bad prefix reading goes on at the next line's message; in a file
// without line ends, at the next MTI after the prefix.
TEST(VerifyRules, ReadingResumesAfterABadPrefix) {
  const std::string good = filegen::BuildMessage("1140", {{3, "000000"}, {11, "000003"}, {71, "00000003"}});
  const std::string bad = "1240" + filegen::EncodeBitmaps({{35, ""}, {71, ""}}) + "3A" + "1140 data 1240 data";
  for (const std::string eol : {"\r\n", ""}) {
    SCOPED_TRACE(eol.empty() ? "no line ends" : "CR LF");
    const std::string first = filegen::BuildMessage("1140", {{3, "000000"}, {11, "000001"}, {71, "00000001"}});
    const Collected result = VerifyBytes(first + eol + bad + eol + good + eol);
    const std::vector<Finding> findings = WithoutEnvelope(result.findings);
    ASSERT_FALSE(findings.empty());
    EXPECT_EQ(findings[0].rule, "message.bad-prefix");
    EXPECT_EQ(findings[0].element, 35);
    EXPECT_EQ(findings[0].offset, static_cast<std::int64_t>(first.size() + eol.size() + 36));
    if (!eol.empty()) {
      EXPECT_EQ(findings.size(), 1u) << Describe(result.findings);
      EXPECT_EQ(result.summary.messages, 3);
    }
  }
}

TEST(VerifyRules, TrailerAfterTrailerAndTheTrailersLayout) {
  const std::string header = filegen::BuildMessage("1644", {{24, "692"}, {71, "00000001"}});
  const std::string trailer = filegen::BuildMessage("1844", {{24, "971"}, {71, "00000002"}, {128, "1234ABCD"}});
  const std::string second = filegen::BuildMessage("1844", {{24, "971"}, {71, "00000003"}, {128, "1234ABCD"}});
  Collected result = VerifyBytes(kEnvelope + header + "\r\n" + trailer + "\r\n" + second + "\r\n");
  ASSERT_EQ(result.findings.size(), 1u) << Describe(result.findings);
  EXPECT_EQ(result.findings[0].rule, "envelope.trailer-not-last");
  EXPECT_EQ(result.findings[0].record, 3);

  const std::string notHex = filegen::BuildMessage("1844", {{24, "971"}, {71, "00000002"}, {128, "1234ABCG"}});
  result = VerifyBytes(kEnvelope + header + "\r\n" + notHex + "\r\n");
  ASSERT_EQ(result.findings.size(), 1u) << Describe(result.findings);
  EXPECT_EQ(result.findings[0].rule, "envelope.trailer-mac");
  EXPECT_EQ(result.findings[0].offset, static_cast<std::int64_t>(kEnvelope.size() + header.size() + 2 + 47 + 7));

  // no S71: the MAC stands 39 bytes in, where the MAC check does not look
  const std::string shortTrailer = filegen::BuildMessage("1844", {{24, "971"}, {128, "1234ABCD"}});
  result = VerifyBytes(kEnvelope + header + "\r\n" + shortTrailer + "\r\n");
  ASSERT_EQ(result.findings.size(), 1u) << Describe(result.findings);
  EXPECT_EQ(result.findings[0].element, 128);
}

// ---- totals ------------------------------------------------------------------------------

std::string Totals1542(const std::map<int, std::string>& totals, int number) {
  std::map<int, std::string> elements = totals;
  elements[71] = std::string(8 - std::to_string(number).size(), '0') + std::to_string(number);
  return filegen::BuildMessage("1542", elements) + "\r\n";
}

std::string Credit(std::string_view amount, int number) {
  return filegen::BuildMessage("1240", {{3, "200000"},
                                        {4, std::string(amount)},
                                        {11, std::to_string(100000 + number % 100000)},
                                        {71, std::string(8 - std::to_string(number).size(), '0') + std::to_string(number)}}) +
         "\r\n";
}

// Sums of 16 digits and beyond are exact: no doubles, no overflow.
TEST(VerifyTotals, AmountsNearTenToTheSixteenAreExact) {
  const std::string header = kEnvelope + filegen::BuildMessage("1644", {{24, "692"}, {71, "00000001"}}) + "\r\n";
  std::string credits;
  constexpr int kCredits = 10001;
  for (int i = 0; i < kCredits; ++i) credits += Credit("999999999999", i + 2);
  const std::string sum = "10000999999989999";  // 10001 x 999999999999, one digit more than S86 holds
  // the 10000 first: 9999999999990000, a 16-digit total
  std::string first10000;
  for (int i = 0; i < 10000; ++i) first10000 += Credit("999999999999", i + 2);
  Collected result = VerifyBytes(header + first10000 +
                                 Totals1542({{74, "0000010000"}, {86, "9999999999990000"}}, 10002));
  EXPECT_TRUE(WithoutEnvelope(result.findings).empty()) << Describe(result.findings);

  result = VerifyBytes(header + first10000 + Totals1542({{74, "0000010000"}, {86, "9999999999990001"}}, 10002));
  std::vector<Finding> findings = WithoutEnvelope(result.findings);
  ASSERT_EQ(findings.size(), 1u) << Describe(result.findings);
  EXPECT_EQ(findings[0].element, 86);
  EXPECT_EQ(*findings[0].declared, "9999999999990001");
  EXPECT_EQ(*findings[0].computed, "9999999999990000");

  result = VerifyBytes(header + credits + Totals1542({{74, "0000010001"}, {86, "9999999999999999"}}, 10003));
  findings = WithoutEnvelope(result.findings);
  ASSERT_EQ(findings.size(), 1u) << Describe(result.findings);
  EXPECT_EQ(*findings[0].computed, sum);
}

// A message may declare totals since the file header; one reading judges
// all its values, the one more of them fit, batch totals on a tie.
TEST(VerifyTotals, BatchOrCumulativeReadingForAWholeMessage) {
  const std::string header = kEnvelope + filegen::BuildMessage("1644", {{24, "692"}, {71, "00000001"}}) + "\r\n";
  const std::string batch1 = Credit("000000000100", 2) + Credit("000000000200", 3);
  const std::string totals1 = Totals1542({{74, "0000000002"}, {86, "0000000000000300"}}, 4);
  const std::string batch2 = Credit("000000000050", 5);
  const struct {
    const char* name;
    std::map<int, std::string> declared;
    std::vector<int> elements;  // of the findings
    const char* computed;
  } cases[] = {
      {"batch totals", {{74, "0000000001"}, {86, "0000000000000050"}}, {}, ""},
      {"cumulative totals", {{74, "0000000003"}, {86, "0000000000000350"}}, {}, ""},
      {"cumulative, amount wrong", {{74, "0000000003"}, {76, "0000000000"}, {86, "0000000000000351"}}, {86}, "350"},
      {"batch, count wrong", {{74, "0000000009"}, {76, "0000000000"}, {86, "0000000000000050"}}, {74}, "1"},
      // one value of each reading: batch on a tie, so the cumulative count is wrong
      {"tie", {{74, "0000000003"}, {86, "0000000000000050"}}, {74}, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Collected result = VerifyBytes(header + batch1 + totals1 + batch2 + Totals1542(c.declared, 6));
    std::vector<int> elements;
    for (const Finding& f : WithoutEnvelope(result.findings)) {
      EXPECT_EQ(f.rule, "batch.totals");
      EXPECT_EQ(f.record, 6);
      elements.push_back(f.element);
      EXPECT_EQ(*f.computed, c.computed);
    }
    EXPECT_EQ(elements, c.elements) << Describe(result.findings);
  }
}

// Debits, credits, their reversals and authorisations each in their own total.
TEST(VerifyTotals, EachKindOfTransactionInItsTotal) {
  auto tx = [](std::string_view mti, std::string_view code, std::string_view amount, int number) {
    return filegen::BuildMessage(mti, {{3, std::string(code)},
                                       {4, std::string(amount)},
                                       {11, "00000" + std::to_string(number)},
                                       {71, "0000000" + std::to_string(number)}}) +
           "\r\n";
  };
  const std::string bytes = kEnvelope + filegen::BuildMessage("1644", {{71, "00000001"}}) + "\r\n" +
                            tx("1240", "000000", "000000000010", 2) + tx("1240", "190000", "000000000020", 3) +
                            tx("1240", "200000", "000000000040", 4) + tx("1440", "000000", "000000000080", 5) +
                            tx("1440", "290000", "000000000160", 6) + tx("1140", "000000", "000000000320", 7) +
                            tx("1240", "300000", "000000000640", 8) +
                            Totals1542({{74, "0000000001"},
                                        {75, "0000000001"},
                                        {76, "0000000002"},
                                        {77, "0000000001"},
                                        {81, "0000000001"},
                                        {86, "0000000000000040"},
                                        {87, "0000000000000160"},
                                        {88, "0000000000000030"},
                                        {89, "0000000000000080"}},
                                       9);
  const Collected result = VerifyBytes(bytes);
  EXPECT_TRUE(WithoutEnvelope(result.findings).empty()) << Describe(result.findings);
  ASSERT_EQ(result.summary.batches.size(), 1u);
  EXPECT_EQ(result.summary.batches[0].notJudged, "");
}

// More than 2^31 bytes between two totals: a sparse file whose hole reads
// as NUL bytes, control characters that reading skips.
TEST(VerifyTotals, MoreThanTwoGigabytesBetweenTotals) {
  const std::string header = kEnvelope + filegen::BuildMessage("1644", {{24, "692"}, {71, "00000001"}}) + "\r\n";
  const std::string before = Credit("000000000100", 2) + Totals1542({{74, "0000000001"}, {86, "0000000000000100"}}, 3) +
                             Credit("000000000200", 4);
  std::string after = Credit("000000000300", 5) + Totals1542({{74, "0000000002"}, {86, "0000000000000500"}}, 6);
  const std::size_t date = after.size();
  after += filegen::BuildMessage("1240", {{3, "200000"}, {4, "000000000001"}, {7, "1332000000"}, {71, "00000007"}}) +
           "\r\n" + Totals1542({{74, "0000000001"}, {86, "0000000000000001"}}, 8);
  const TempFile file(header + before);
  const std::int64_t far = (std::int64_t{1} << 31) + 12345;
  const int fd = ::open(file.str().c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, after.data(), after.size(), static_cast<off_t>(far)), static_cast<ssize_t>(after.size()));
  ::close(fd);

  const Collected result = Verify(file.str());
  ASSERT_EQ(result.findings.size(), 2u) << Describe(result.findings);  // the date, and no trailer
  EXPECT_EQ(result.findings[0].rule, "element.date");
  EXPECT_EQ(result.findings[0].record, 7);
  EXPECT_EQ(result.findings[0].offset, far + static_cast<std::int64_t>(date) + 36 + 6 + 12);
  EXPECT_EQ(result.findings[1].rule, "envelope.trailer-missing");
  ASSERT_EQ(result.summary.batches.size(), 3u);
  EXPECT_EQ(result.summary.batches[1].totalsRecord, 6);
  EXPECT_EQ(result.summary.bytes, far + static_cast<std::int64_t>(after.size()));
}

// ---- progress ----------------------------------------------------------------------------

// A window can show progress and stop a long pass.
TEST(VerifyProgress, ReportsItsWayThroughTheFileAndStopsWhenAsked) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 3u << 20, .seed = 8}, made));
  const auto size = static_cast<std::int64_t>(made.bytes);
  std::vector<std::int64_t> seen;
  verify::VerifyOptions options;
  options.progress = [&](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, size);
    seen.push_back(done);
    return true;
  };
  CollectingSink sink;
  verify::VerifySummary summary = verify::VerifyFile(file.str(), options, sink);
  EXPECT_FALSE(summary.stopped);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), size);

  int calls = 0;
  options.progress = [&calls](std::int64_t, std::int64_t) { return ++calls < 2; };
  summary = verify::VerifyFile(file.str(), options, sink);
  EXPECT_TRUE(summary.stopped);
  EXPECT_LT(summary.messages, static_cast<std::int64_t>(made.messages));
  EXPECT_TRUE(sink.findings.empty());  // a stopped pass reports no missing trailer
}

// The MAC phase reports its read as the rest of verify does, and stops there
// when asked.
TEST(VerifyProgress, TheMacReadReportsItsWayAndStopsWhenAsked) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 3u << 20, .seed = 8}, made));
  const auto size = static_cast<std::int64_t>(made.bytes);
  std::vector<std::int64_t> seen;
  // the envelope's lookup and the variants each read the whole file
  const verify::FileMacs macs = verify::ComputeFileMacs(file.str(), kKey, [&](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, 2 * size);
    seen.push_back(done);
    return true;
  });
  ASSERT_TRUE(macs.computed) << macs.failure;
  EXPECT_EQ(macs.variants[2], macs.declared);
  ASSERT_GE(seen.size(), 6u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_LT(seen.front(), size);
  EXPECT_EQ(seen.back(), 2 * size);

  // a stop in either read
  for (const std::int64_t stopAt : {std::int64_t{1}, size + 1}) {
    const verify::FileMacs stopped = verify::ComputeFileMacs(
        file.str(), kKey, [stopAt](std::int64_t done, std::int64_t) { return done < stopAt; });
    EXPECT_FALSE(stopped.computed);
    EXPECT_EQ(stopped.failure, "stopped");
  }
}

// Another file renamed over the path while verify reads: the MAC verify
// judges is the first file's, or none, never the other's.
TEST(VerifyProgress, AFileRenamedOverThePathDoesNotLendItsMac) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 200000, .seed = 8}, made));
  const TempFile other(Generate({.size = 200000, .seed = 9}, made));
  const verify::FileMacs first = verify::ComputeFileMacs(file.str(), kKey);
  const verify::FileMacs second = verify::ComputeFileMacs(other.str(), kKey);
  ASSERT_NE(first.declared, second.declared);
  verify::VerifyOptions options;
  options.key = kKey;
  bool renamed = false;
  options.progress = [&](std::int64_t, std::int64_t) {
    if (!renamed) std::filesystem::rename(other.path(), file.path());
    renamed = true;
    return true;
  };
  CollectingSink sink;
  const verify::VerifySummary summary = verify::VerifyFile(file.str(), options, sink);
  ASSERT_TRUE(renamed);
  // the reading notices the other file before the MAC is computed
  EXPECT_FALSE(summary.read);
  EXPECT_EQ(summary.error, kFileChanged);
  EXPECT_FALSE(summary.mac.checked);
  EXPECT_NE(summary.mac.declared, second.declared);
  // and the MAC's own open, asked for the file verify read, refuses the other
  verify::MessageFileReader reader(other.str());
  const verify::FileMacs lent = verify::ComputeFileMacs(file.str(), kKey, reader.Identity());
  EXPECT_FALSE(lent.computed);
  EXPECT_EQ(lent.failure, kFileChanged);
}

// ---- the command -------------------------------------------------------------------------

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(VerifyCommand, CompilerStyleLinesThenTheSummary) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 12000, .seed = 4, .faults = {{"element.date", 3}}}, made));
  const auto printed = Check({"verify", file.str()});
  EXPECT_EQ(printed.exitCode, 1);
  const std::vector<std::string> lines = Lines(printed.out);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], file.str() + ":" + std::to_string(made.injected[0].offset) +
                          ": error[element.date]: P12 '" + lines[0].substr(lines[0].find('\'') + 1, 12) +
                          "' is not a date and time (YYMMDDhhmmss): no month (record 3, element P12)");
  EXPECT_EQ(lines.back(), file.str() + ": 1 error, 0 warnings");
  EXPECT_NE(printed.out.find("MAC not checked: no --key"), std::string::npos);
}

TEST(VerifyCommand, JsonLinesWithStringTotals) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 12000, .seed = 4, .faults = {{"batch.totals", 0}}}, made));
  const auto printed = Check({"verify", file.str(), "--json", "--key", std::string(kKey)});
  EXPECT_EQ(printed.exitCode, 1);
  const std::vector<std::string> lines = Lines(printed.out);
  ASSERT_EQ(lines.size(), 2u) << printed.out;
  const auto finding = nlohmann::json::parse(lines[0]);
  EXPECT_EQ(finding["rule"], "batch.totals");
  EXPECT_EQ(finding["severity"], "error");
  EXPECT_EQ(finding["record"], made.injected[0].record);
  EXPECT_EQ(finding["offset"], made.injected[0].offset);
  EXPECT_EQ(finding["element"], 86);
  ASSERT_TRUE(finding["declared"].is_string());
  ASSERT_TRUE(finding["computed"].is_string());
  EXPECT_EQ(std::stoull(finding["declared"].get<std::string>()), std::stoull(finding["computed"].get<std::string>()) + 1);
  const auto summary = nlohmann::json::parse(lines[1]);
  EXPECT_EQ(summary["file"], file.str());
  EXPECT_EQ(summary["summary"]["errors"], 1);
  EXPECT_EQ(summary["summary"]["mac"]["matched"], "MACNSP");
  EXPECT_EQ(summary["summary"]["messages"], made.messages);

  // a finding about the file as a whole has null record and element
  const TempFile noTrailer(Generate({.size = 6000, .seed = 4, .faults = {{"envelope.trailer-missing", 0}}}, made));
  const auto json = nlohmann::json::parse(Lines(Check({"verify", noTrailer.str(), "--json"}).out)[0]);
  EXPECT_TRUE(json["record"].is_null());
  EXPECT_TRUE(json["offset"].is_null());
  EXPECT_TRUE(json["element"].is_null());
  EXPECT_FALSE(json.contains("declared"));
}

TEST(VerifyCommand, CsvWithATitleRow) {
  const std::string bytes = filegen::BuildMessage("1140", {{3, "000000"}, {43, "SHOP, \"THE\" ONE"}, {49, "000"}}) + "\r\n";
  const TempFile file(bytes);
  const auto printed = Check({"verify", file.str(), "--csv"});
  EXPECT_EQ(printed.exitCode, 1);  // no trailer, no file header: errors
  const std::vector<std::string> lines = Lines(printed.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "file,rule,severity,record,offset,element,message,declared,computed\r");
  EXPECT_NE(printed.out.find("element.currency,warning,1,"), std::string::npos) << printed.out;
}

TEST(VerifyCommand, ExitStatus) {
  filegen::FileSummary made;
  const TempFile clean(Generate({.size = 8000, .seed = 2}, made));
  const TempFile warning(Generate({.size = 8000, .seed = 2, .faults = {{"element.currency", 0}}}, made));
  const TempFile error(Generate({.size = 8000, .seed = 2, .faults = {{"element.date", 0}}}, made));
  const struct {
    std::vector<std::string> args;
    int exitCode;
  } cases[] = {
      {{"verify", clean.str()}, 0},
      {{"verify", warning.str()}, 0},
      {{"verify", warning.str(), "--strict"}, 1},
      {{"verify", error.str()}, 1},
      {{"verify", error.str(), "--disable", "element.date"}, 0},
      {{"verify", error.str(), "--disable", "element.pan-luhn,element.date"}, 0},
      {{"verify", clean.str(), "/nonexistent/file.dat"}, 2},
      {{"verify", clean.str(), "--disable", "element.nonsense"}, 2},
      {{"verify", clean.str(), "--key", "12345"}, 2},
      {{"verify", clean.str(), "--key", std::string(kKey)}, 0},
      {{"verify", clean.str(), "--key", "1C587F1C13924FEF"}, 1},  // mac.kcv
      {{"verify"}, 2},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const std::string& arg : c.args) joined += arg + " ";
    SCOPED_TRACE(joined);
    EXPECT_EQ(Check(c.args).exitCode, c.exitCode);
  }
  // a file that cannot be opened says why, as the other commands do
  const auto unreadable = Check({"verify", "/nonexistent/file.dat"});
  EXPECT_EQ(unreadable.err, "kalvrin-check: /nonexistent/file.dat: cannot open the file: No such file or directory\n");
  EXPECT_EQ(unreadable.out, "/nonexistent/file.dat: not checked: cannot open the file: No such file or directory\n");
  const std::string folder = std::filesystem::path(clean.str()).parent_path().string();
  EXPECT_EQ(Check({"verify", folder}).err, "kalvrin-check: " + folder + ": cannot open the file: Is a directory\n");
}

// Several files on several threads print what one thread prints, in
// argument order.
TEST(VerifyCommand, SeveralFilesInArgumentOrder) {
  std::vector<std::unique_ptr<TempFile>> files;
  std::vector<std::string> args = {"verify"};
  for (std::uint32_t seed = 1; seed <= 6; ++seed) {
    filegen::FileSummary made;
    files.push_back(std::make_unique<TempFile>(
        Generate({.size = 20000 * seed, .seed = seed, .faults = {{"element.date", 0}, {"message.stray-text", 0}}}, made),
        "f" + std::to_string(seed) + ".dat"));
    args.push_back(files.back()->str());
  }
  std::vector<std::string> one = args;
  one.insert(one.end(), {"--jobs", "1", "--json"});
  std::vector<std::string> three = args;
  three.insert(three.end(), {"--jobs", "3", "--json"});
  const auto serial = Check(one);
  const auto parallel = Check(three);
  EXPECT_EQ(serial.out, parallel.out);
  EXPECT_EQ(serial.exitCode, 1);
  std::vector<std::string> order;
  for (const std::string& line : Lines(parallel.out)) {
    const auto json = nlohmann::json::parse(line);
    if (json.contains("summary")) order.push_back(json["file"]);
  }
  EXPECT_EQ(order, std::vector<std::string>(args.begin() + 1, args.end()));
}

// Files waiting behind a slower one keep their output on disk past a small
// budget; what comes out is still what one thread prints, in every form.
TEST(VerifyCommand, HeldOutputSpillsAndKeepsItsOrder) {
  std::vector<std::unique_ptr<TempFile>> files;
  std::vector<std::string> args = {"verify"};
  // a bitmap fault on every other line; the first file the largest, so the others wait
  for (int i = 0; i < 4; ++i) {
    std::string bytes;
    const int lines = i == 0 ? 40000 : 3000 * i;
    for (int line = 0; line < lines; ++line) bytes += "x\n1240z" + std::to_string(line % 10) + "\n";
    files.push_back(std::make_unique<TempFile>(bytes, "held" + std::to_string(i) + ".dat"));
    args.push_back(files.back()->str());
  }
  struct Budget {
    Budget() { setenv("KALVRIN_VERIFY_SPILL_BYTES", "3000", 1); }
    ~Budget() { unsetenv("KALVRIN_VERIFY_SPILL_BYTES"); }
  } budget;
  for (const char* form : {"--json", "--csv", "--strict"}) {
    SCOPED_TRACE(form);
    std::vector<std::string> one = args;
    one.insert(one.end(), {form, "--jobs", "1"});
    std::vector<std::string> two = args;
    two.insert(two.end(), {form, "--jobs", "2"});
    const auto serial = Check(one);
    const auto parallel = Check(two);
    EXPECT_EQ(parallel.exitCode, 1);
    EXPECT_GT(parallel.out.size(), 1000000u);
    EXPECT_TRUE(serial.out == parallel.out);  // megabytes: no diff printed
    EXPECT_EQ(serial.err, parallel.err);
  }
}

// --no-duplicates: no index of transaction keys, so no batch.duplicate, and
// the summary says why.
TEST(VerifyCommand, NoDuplicatesTurnsTheIndexOff) {
  filegen::FileSummary made;
  const TempFile file(Generate({.size = 30000, .seed = 4, .faults = {{"batch.duplicate", 0}}}, made));
  const auto with = Check({"verify", file.str()});
  EXPECT_NE(with.out.find("[batch.duplicate]"), std::string::npos) << with.out;
  EXPECT_EQ(with.out.find("not looked for"), std::string::npos);
  const auto without = Check({"verify", file.str(), "--no-duplicates"});
  EXPECT_EQ(without.out.find("[batch.duplicate]"), std::string::npos) << without.out;
  EXPECT_NE(without.out.find(": repeated transactions not looked for (--no-duplicates)\n"), std::string::npos)
      << without.out;
  const auto json = Check({"verify", file.str(), "--no-duplicates", "--json"});
  std::size_t summaries = 0;
  for (const std::string& line : Lines(json.out)) {
    const auto object = nlohmann::json::parse(line);
    EXPECT_NE(object.value("rule", ""), "batch.duplicate");
    if (!object.contains("summary")) continue;
    EXPECT_EQ(object["summary"]["duplicatesChecked"], false);
    ++summaries;
  }
  EXPECT_EQ(summaries, 1u);
}

// --mask-pan: no finding shows a card number whole.
TEST(VerifyCommand, MaskedCardNumbers) {
  filegen::FileSummary made;
  const std::string bytes = Generate(
      {.size = 12000, .seed = 6, .faults = {{"element.pan-luhn", 0}, {"batch.duplicate", 0}}}, made);
  const TempFile file(bytes);
  const auto clear = Check({"verify", file.str()});
  const auto masked = Check({"verify", file.str(), "--mask-pan"});
  EXPECT_EQ(Lines(clear.out).size(), Lines(masked.out).size());
  std::size_t cards = 0;
  for (const std::string& line : Lines(clear.out)) {
    for (std::size_t at = line.find("card number '"); at != std::string::npos; at = line.find("card number '", at + 1)) {
      const std::string pan = line.substr(at + 13, line.find('\'', at + 13) - at - 13);
      EXPECT_EQ(masked.out.find(pan), std::string::npos) << pan;
      ++cards;
    }
    const std::size_t p2 = line.find("(P2 '");
    if (p2 != std::string::npos) {
      const std::string pan = line.substr(p2 + 5, line.find('\'', p2 + 5) - p2 - 5);
      EXPECT_EQ(masked.out.find(pan), std::string::npos) << pan;
      ++cards;
    }
  }
  EXPECT_GE(cards, 2u) << clear.out;
  EXPECT_NE(masked.out.find("******"), std::string::npos) << masked.out;
}

// What any bytes give: every output form stays parseable.
TEST(VerifyCommand, OutputFormsOfArbitraryBytes) {
  const std::string bytes = std::string("\x00\xff\xc9\"\r\n,1240", 10) + filegen::EncodeBitmaps({{2, ""}}) + "1A\x01";
  const TempFile file(bytes);
  const auto json = Check({"verify", file.str(), "--json"});
  const std::vector<std::string> lines = Lines(json.out);
  ASSERT_FALSE(lines.empty());
  for (const std::string& line : lines) EXPECT_TRUE(nlohmann::json::accept(line)) << line;
  const auto text = Check({"verify", file.str()});
  EXPECT_EQ(text.out.find('\x01'), std::string::npos);
}

}  // namespace
}  // namespace kalvrin
