// The chip data rules: each emv.* fault the generator injects into files
// with chip data gives exactly its finding, clean chip files give none, and
// the rules' own cases (an AAC on an approved message, an alphabetic P49,
// masked card numbers, the off switches) on hand-made messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "support/check_runner.h"
#include "support/test_files.h"
#include "iso/message_decoder.h"
#include "testgen/filegen.h"
#include "verify/element_rules.h"
#include "verify/rules.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

using verify::ElementFault;
using verify::Finding;

class CollectingSink final : public verify::FindingSink {
 public:
  void OnFinding(const Finding& finding) override { findings.push_back(finding); }
  std::vector<Finding> findings;
};

std::vector<Finding> VerifyBytes(const std::string& bytes, const verify::RuleSet& rules = {}) {
  const test::TempFile file(bytes);
  verify::VerifyOptions options;
  options.rules = rules;
  CollectingSink sink;
  verify::VerifyFile(file.str(), options, sink);
  return sink.findings;
}

std::string Describe(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) {
    text += std::string(f.rule) + " record " + std::to_string(f.record) + " offset " + std::to_string(f.offset) + ": " +
            f.message + "\n";
  }
  return text;
}

constexpr const char* kChipRules[] = {"emv.tlv", "emv.amount", "emv.currency", "emv.date", "emv.pan", "emv.cryptogram"};

TEST(VerifyChip, CleanChipFilesGiveNoFindingOverManySeeds) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    filegen::FileSummary made;
    const std::string bytes =
        filegen::GenerateFileBytes({.size = 8000 + 131 * (seed % 30), .seed = seed, .chip = seed % 4 == 0 ? 1.0 : 0.5}, &made);
    ASSERT_EQ(made.error, "");
    ASSERT_NE(bytes.find("9F0206"), std::string::npos);  // chip data was written
    EXPECT_TRUE(VerifyBytes(bytes).empty()) << Describe(VerifyBytes(bytes));
  }
}

// Each chip fault, twice (at the generator's choice, then at the next
// transaction), in a file where half the transactions carry chip data.
TEST(VerifyChip, EachInjectedChipFaultGivesExactlyItsFinding) {
  for (const std::uint32_t seed : {5u, 71u, 2026u}) {
    for (const char* rule : kChipRules) {
      SCOPED_TRACE(std::string(rule) + " seed " + std::to_string(seed));
      filegen::FileOptions options{.size = 40000, .seed = seed, .chip = 0.5};
      options.faults = {{rule, 0}, {rule, 0}};
      filegen::FileSummary made;
      const std::string bytes = filegen::GenerateFileBytes(options, &made);
      ASSERT_EQ(made.error, "");
      ASSERT_EQ(made.injected.size(), 2u);
      const std::vector<Finding> findings = VerifyBytes(bytes);
      ASSERT_EQ(findings.size(), 2u) << Describe(findings);
      for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(findings[i].rule, made.injected[i].rule);
        EXPECT_EQ(findings[i].record, made.injected[i].record);
        EXPECT_EQ(findings[i].offset, made.injected[i].offset);
        EXPECT_EQ(findings[i].element, 55);
      }
      // switched off, its findings go
      verify::RuleSet rules;
      rules.Disable(*verify::RuleById(rule));
      EXPECT_TRUE(VerifyBytes(bytes, rules).empty());
    }
  }
}

// A P55 that is not well-formed gets that one finding, whatever it held
// before the fault.
TEST(VerifyChip, AMalformedP55IsJudgedNoFurther) {
  filegen::FileSummary made;
  const std::string bytes = filegen::GenerateFileBytes(
      {.size = 20000, .seed = 9, .faults = {{"emv.amount", 2}, {"emv.tlv", 2}}, .chip = 0.5}, &made);
  // the generator knows it too: the amount's fault is there, but hidden
  ASSERT_EQ(made.injected.size(), 1u);
  ASSERT_EQ(made.hidden.size(), 1u);
  EXPECT_EQ(made.hidden[0].rule, "emv.amount");
  EXPECT_EQ(made.hidden[0].hiddenBy, "emv.tlv at record 2");
  const std::vector<Finding> findings = VerifyBytes(bytes);
  ASSERT_EQ(findings.size(), 1u) << Describe(findings);
  EXPECT_EQ(findings[0].rule, "emv.tlv");
}

// One message's element faults, with its P55 and the elements around it.
std::vector<ElementFault> FaultsOf(const std::map<int, std::string>& elements, bool mask = false) {
  const test::TempFile file(filegen::BuildMessage("1240", elements));
  const DecodedMessage decoded = DecodeMessageAt(file.str(), 0);
  std::vector<ElementFault> faults;
  verify::CheckElements(decoded, verify::RuleSet{}, [&faults](ElementFault f) { faults.push_back(std::move(f)); }, mask);
  return faults;
}

std::string Rules(const std::vector<ElementFault>& faults) {
  std::string text;
  for (const ElementFault& f : faults) text += std::string(verify::InfoOf(f.rule).id) + " at " + std::to_string(f.index) + ": " + f.message + "\n";
  return text;
}

TEST(VerifyChipRules, EachRuleOnAHandMadeMessage) {
  const std::map<int, std::string> base = {
      {2, "4761739001010119"}, {4, "000000012345"}, {12, "261208101500"}, {39, "000"}, {49, "978"}};
  const auto with = [&base](std::string p55, std::map<int, std::string> changes = {}) {
    std::map<int, std::string> elements = base;
    for (auto& [element, value] : changes) elements[element] = value;
    elements[55] = std::move(p55);
    return FaultsOf(elements);
  };
  const std::string pan = "5A084761739001010119";
  const std::string consistent = pan + "9F0206000000012345" "5F2A020978" "9A03261208" "9F26081122334455667788" "9F270180";
  EXPECT_TRUE(with(consistent).empty()) << Rules(with(consistent));
  // an alphabetic P49 is read as its numeric code; amounts compare as numbers
  EXPECT_TRUE(with(consistent, {{49, "EUR"}}).empty()) << Rules(with(consistent, {{49, "EUR"}}));
  EXPECT_TRUE(with(consistent, {{4, "000000012345"}}).empty());

  struct Case {
    std::string what;
    std::string p55;
    std::map<int, std::string> changes;
    std::string rule;
    std::size_t index;
    std::string message;
  };
  const std::string amountAt = pan;  // 9F02 follows 5A
  const std::vector<Case> cases = {
      {"amount", consistent, {{4, "000000012346"}}, "emv.amount", amountAt.size() + 6,
       "P55's amount authorised (9F02) '000000012345' is not P4's '000000012346'"},
      {"currency", consistent, {{49, "USD"}}, "emv.currency", 44, "P55's transaction currency code (5F2A) '0978' is not P49's 'USD'"},
      {"date", consistent, {{12, "261209101500"}}, "emv.date", 52, "P55's transaction date (9A) '261208' is not P12's date '261209'"},
      {"card number", "5A084761739001010118", {}, "emv.pan", 4,
       "P55's card number (5A) '4761739001010118' is not P2's '4761739001010119'"},
      {"track 2 card number", "570A4761739001010118D251", {}, "emv.pan", 4,
       "the card number in P55's track 2 data (57) '4761739001010118' is not P2's '4761739001010119'"},
      {"AAC on an approved message", "9F26081122334455667788" "9F270100", {}, "emv.cryptogram", 28,
       "P55's cryptogram information (9F27) '00' marks an AAC (declined), but P39 '000' says approved"},
      {"no cryptogram", "9A03261208" "9F270180", {}, "emv.cryptogram", 10,
       "P55 has cryptogram information (9F27) but no application cryptogram (9F26)"},
      // an empty value has no character of its own: the finding stands at its tag
      {"an empty amount", "9F0200", {}, "emv.amount", 0, "P55's amount authorised (9F02) '' is not P4's '000000012345'"},
      {"malformed", "9A03261208" "9F0206", {}, "emv.tlv", 14,
       "P55 is not well-formed EMV data: tag 9F02 at byte 6 announces 6 bytes, 0 remain"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<ElementFault> faults = with(c.p55, c.changes);
    ASSERT_EQ(faults.size(), 1u) << Rules(faults);
    EXPECT_EQ(verify::InfoOf(faults[0].rule).id, c.rule);
    EXPECT_EQ(faults[0].element, 55);
    EXPECT_EQ(faults[0].index, c.index);
    EXPECT_EQ(faults[0].message, c.message);
  }
  // a declined action code, or a TC, is no contradiction
  EXPECT_TRUE(with("9F26081122334455667788" "9F270100", {{39, "100"}}).empty());
  EXPECT_TRUE(with("9F26081122334455667788" "9F270140").empty());
  // a P49 that is no currency is element.currency's finding alone
  const std::vector<ElementFault> noCurrency = with(consistent, {{49, "ABC"}});
  ASSERT_EQ(noCurrency.size(), 1u) << Rules(noCurrency);
  EXPECT_EQ(verify::InfoOf(noCurrency[0].rule).id, "element.currency");
}

TEST(VerifyChipRules, MaskedCardNumbersInTheFinding) {
  const std::vector<ElementFault> faults =
      FaultsOf({{2, "4761739001010119"}, {55, "5A084761739001010118"}}, true);
  ASSERT_EQ(faults.size(), 1u) << Rules(faults);
  EXPECT_EQ(faults[0].message, "P55's card number (5A) '476173******0118' is not P2's '476173******0119'");
  EXPECT_EQ(*faults[0].declared, "476173******0118");
}

}  // namespace
}  // namespace kalvrin
