// The report's summary against figures the test reads out of a generated
// file on its own, and the HTML and JUnit writers over it.
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "report/html_report.h"
#include "report/junit_report.h"
#include "report/markup.h"
#include "report/sha256.h"
#include "report/summary.h"
#include "support/test_files.h"
#include "testgen/filegen.h"

namespace kalvrin {
namespace {

using verify::Sum;

std::string Sha256Of(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha256(), nullptr), 1);
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

// What the test reads out of a generated file by itself: its records are
// lines of fixed length; a transaction's P2 follows both bitmaps, P3 and P4
// follow P2, and P49 follows the generator's fixed P43.
struct Expected {
  std::map<std::string, std::int64_t> byMti;
  struct Batch {
    std::int64_t first = 0, last = 0;
    Sum credits = 0, creditAmount = 0, debits = 0, debitAmount = 0;
  };
  std::vector<Batch> batches;
  struct Currency {
    std::int64_t transactions = 0;
    Sum creditAmount = 0, debitAmount = 0;
  };
  std::map<std::string, Currency> currencies;
  std::map<std::string, std::int64_t> issuers;
  std::int64_t messages = 0;
};

constexpr std::string_view kPlace = "SAMPLE SHOP   VIENNA    AT";

Expected ReadIndependently(const std::string& bytes) {
  Expected expected;
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", at);
    lines.push_back(bytes.substr(at, end - at));
    at = end == std::string::npos ? bytes.size() : end + 2;
  }
  Expected::Batch open;
  open.first = 1;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::string line = lines[i];
    line.erase(line.find_last_not_of(' ') + 1);
    if (line.size() < 4) continue;
    const auto record = static_cast<std::int64_t>(i);
    const std::string mti = line.substr(0, 4);
    ++expected.byMti[mti];
    ++expected.messages;
    if (mti == "1542") {
      open.last = record;
      expected.batches.push_back(open);
      open = {};
      open.first = record + 1;
      continue;
    }
    if (mti != "1140" && mti != "1240" && mti != "1440") continue;
    const std::size_t p2 = 4 + 32;
    const std::size_t panLength = std::stoul(line.substr(p2, 2));
    const std::string pan = line.substr(p2 + 2, panLength);
    const std::string processing = line.substr(p2 + 2 + panLength, 6);
    const Sum amount = std::stoull(line.substr(p2 + 2 + panLength + 6, 12));
    const std::size_t place = line.find(kPlace);
    if (place == std::string::npos) {
      ADD_FAILURE() << "no P43 in record " << record;
      continue;
    }
    const std::string currency = line.substr(place + kPlace.size(), 3);
    ++expected.issuers[pan.substr(0, 6)];
    Expected::Currency& money = expected.currencies[currency];
    ++money.transactions;
    if (mti != "1240") continue;
    if (processing.starts_with("20")) {
      ++open.credits;
      open.creditAmount += amount;
      money.creditAmount += amount;
    } else {
      ++open.debits;
      open.debitAmount += amount;
      money.debitAmount += amount;
    }
  }
  return expected;
}

report::FileSummary Summarise(const std::string& path, std::string key = "") {
  report::SummaryOptions options;
  options.key = std::move(key);
  return report::SummariseFile(path, options);
}

// ---- the figures ---------------------------------------------------------------

TEST(ReportSummary, FiguresAgreeWithAnIndependentReadingOfAGeneratedFile) {
  filegen::FileOptions options;
  options.size = 600 * 1024;  // several of the reader's blocks, with messages across their edges
  options.seed = 27;
  const std::string bytes = filegen::GenerateFileBytes(options);
  const test::TempFile file(bytes);
  const Expected expected = ReadIndependently(bytes);
  const report::FileSummary summary = Summarise(file.str());

  EXPECT_EQ(summary.identity.size, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(summary.identity.name, "batch.dat");
  EXPECT_EQ(summary.identity.sha256, Sha256Of(bytes));
  EXPECT_EQ(summary.verify.messages, expected.messages);
  EXPECT_EQ(summary.verify.messagesByType, expected.byMti);
  EXPECT_EQ(summary.verify.errors, 0);

  ASSERT_GT(expected.batches.size(), 1u);
  ASSERT_EQ(summary.batchCount, static_cast<std::int64_t>(expected.batches.size()));
  ASSERT_EQ(summary.largestBatches.size(), std::min(report::kLargestKept, expected.batches.size()));
  for (const report::BatchFigures& batch : summary.largestBatches) {
    SCOPED_TRACE("batch " + std::to_string(batch.number));
    const Expected::Batch& want = expected.batches[static_cast<std::size_t>(batch.number - 1)];
    EXPECT_EQ(batch.firstRecord, want.first);
    EXPECT_EQ(batch.lastRecord, want.last);
    const auto& v = batch.totals.computed.values;
    EXPECT_EQ(verify::SumText(v[verify::kCredits]), verify::SumText(want.credits));
    EXPECT_EQ(verify::SumText(v[verify::kCreditAmount]), verify::SumText(want.creditAmount));
    EXPECT_EQ(verify::SumText(v[verify::kDebits]), verify::SumText(want.debits));
    EXPECT_EQ(verify::SumText(v[verify::kDebitAmount]), verify::SumText(want.debitAmount));
    EXPECT_TRUE(batch.agrees);
  }

  ASSERT_EQ(summary.currencies.size(), expected.currencies.size());
  for (const auto& [code, want] : expected.currencies) {
    SCOPED_TRACE("currency " + code);
    ASSERT_TRUE(summary.currencies.contains(code));
    const report::CurrencyFigures& got = summary.currencies.at(code);
    EXPECT_EQ(got.messages, want.transactions);
    EXPECT_EQ(verify::SumText(got.totals.values[verify::kCreditAmount]), verify::SumText(want.creditAmount));
    EXPECT_EQ(verify::SumText(got.totals.values[verify::kDebitAmount]), verify::SumText(want.debitAmount));
    EXPECT_FALSE(got.name.empty());
  }
  EXPECT_EQ(summary.currencies.at("978").name, "Euro");

  std::int64_t cards = 0;
  for (const auto& [range, count] : summary.issuerRanges) {
    ASSERT_TRUE(expected.issuers.contains(range)) << range;
    EXPECT_EQ(count, expected.issuers.at(range)) << range;
    cards += count;
  }
  std::int64_t expectedCards = 0;
  for (const auto& [range, count] : expected.issuers) expectedCards += count;
  EXPECT_EQ(cards + summary.cardsInOtherRanges, expectedCards);
}

TEST(ReportSummary, KeepsTheLargestBatchesAndAddsUpTheChartsBars) {
  filegen::FileOptions options;
  options.size = 3 * 1024 * 1024;
  options.seed = 5;
  const std::string bytes = filegen::GenerateFileBytes(options);
  const test::TempFile file(bytes);
  const Expected expected = ReadIndependently(bytes);
  const report::FileSummary summary = Summarise(file.str());
  ASSERT_GT(expected.batches.size(), report::kLargestKept);

  std::vector<Sum> amounts;
  for (const Expected::Batch& batch : expected.batches) amounts.push_back(batch.creditAmount + batch.debitAmount);
  std::vector<Sum> sorted = amounts;
  std::sort(sorted.rbegin(), sorted.rend());
  const Sum smallestKept = sorted[report::kLargestKept - 1];
  ASSERT_EQ(summary.largestBatches.size(), report::kLargestKept);
  for (std::size_t i = 0; i < summary.largestBatches.size(); ++i) {
    const report::BatchFigures& batch = summary.largestBatches[i];
    EXPECT_GE(batch.Amount(), smallestKept) << "batch " << batch.number;
    if (i > 0) {
      EXPECT_LT(summary.largestBatches[i - 1].number, batch.number) << "kept in file order";
    }
  }

  ASSERT_LE(summary.batchBars.size(), report::kBatchBars);
  Sum credits = 0, debits = 0, expectedCredits = 0, expectedDebits = 0;
  std::int64_t nextBatch = 1;
  for (const auto& bar : summary.batchBars) {
    EXPECT_EQ(bar.firstBatch, nextBatch);
    nextBatch = bar.lastBatch + 1;
    credits += bar.credits;
    debits += bar.debits;
  }
  EXPECT_EQ(nextBatch, static_cast<std::int64_t>(expected.batches.size()) + 1);
  for (const Expected::Batch& batch : expected.batches) {
    expectedCredits += batch.creditAmount;
    expectedDebits += batch.debitAmount;
  }
  EXPECT_EQ(verify::SumText(credits), verify::SumText(expectedCredits));
  EXPECT_EQ(verify::SumText(debits), verify::SumText(expectedDebits));
}

// The digest comes from the pass's reading whatever it steps over: bytes
// only the decoder read, a hole the scan skipped, the damage after a bad
// length prefix that sends the scan back.
TEST(ReportSummary, Sha256CoversEveryByteWhateverTheReadingSkips) {
  filegen::FileOptions options;
  options.size = 300 * 1024;
  options.faults = {{"message.bad-prefix", 40}, {"message.stray-text", 300}};
  const std::string bytes = filegen::GenerateFileBytes(options);
  const test::TempFile faulty(bytes);
  EXPECT_EQ(Summarise(faulty.str()).identity.sha256, Sha256Of(bytes));

  // a file with a hole of a megabyte between its messages
  const test::TempFile sparse("");
  {
    const int fd = ::open(sparse.str().c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    const std::string head = bytes.substr(0, 62 + 512 * 10);
    ASSERT_EQ(::write(fd, head.data(), head.size()), static_cast<ssize_t>(head.size()));
    const std::string tail = bytes.substr(62 + 512 * 10);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(head.size() + (1 << 20))),
              static_cast<ssize_t>(tail.size()));
    ::close(fd);
  }
  const std::string sparseBytes = test::ReadFileBytes(sparse.path());
  const report::FileSummary summary = Summarise(sparse.str());
  EXPECT_EQ(summary.identity.sha256, Sha256Of(sparseBytes));
  EXPECT_EQ(summary.verify.messages, ReadIndependently(bytes).messages);
}

// The digest made on its own thread: fed in pieces that fill its queue
// many times over, it equals the digest of the whole; dropped while bytes
// wait, it ends without a digest and without waiting for them.
TEST(ReportDigest, ThreadedDigestEqualsTheWholesAndEndsWhenDropped) {
  std::string bytes;
  for (int i = 0; i < 200'000; ++i) bytes += static_cast<char>('a' + i * 7 % 26);
  report::ThreadedSha256 sha;
  for (std::size_t at = 0; at < bytes.size(); at += 997) sha.Add(std::string_view(bytes).substr(at, 997));
  EXPECT_EQ(sha.Hex(), report::Sha256Hex(bytes));
  EXPECT_EQ(sha.Hex(), "");  // ended: a digest is given once
  {
    report::ThreadedSha256 dropped;
    for (int i = 0; i < 50; ++i) dropped.Add(bytes);
  }
  report::ThreadedSha256 nothing;
  EXPECT_EQ(nothing.Hex(), report::Sha256Hex(""));
}

TEST(ReportSummary, NoDigestForAFileNotReadToItsEnd) {
  filegen::FileOptions options;
  options.size = 100 * 1024;
  const test::TempFile file(filegen::GenerateFileBytes(options));
  report::SummaryOptions stopping;
  stopping.progress = [](std::int64_t done, std::int64_t) { return done == 0; };
  const report::FileSummary summary = report::SummariseFile(file.str(), stopping);
  EXPECT_TRUE(summary.verify.stopped);
  EXPECT_TRUE(summary.identity.sha256.empty());

  const report::FileSummary missing = Summarise(file.str() + ".none");
  EXPECT_FALSE(missing.verify.read);
  EXPECT_TRUE(missing.identity.sha256.empty());
}

TEST(ReportSummary, EnvelopeAndMacVerdictWithAKey) {
  filegen::FileOptions options;
  options.size = 50 * 1024;
  const std::string bytes = filegen::GenerateFileBytes(options);
  const test::TempFile good(bytes);
  const report::FileSummary clean = Summarise(good.str(), std::string(filegen::kDefaultKey));
  EXPECT_EQ(clean.envelope.checkValue, bytes.substr(44, 8));
  EXPECT_EQ(clean.envelope.method, bytes.substr(41, 1));
  EXPECT_EQ(clean.envelope.version, bytes.substr(42, 2));
  EXPECT_EQ(clean.envelope.declaredMac.size(), 8u);
  EXPECT_TRUE(clean.mac.judged);
  EXPECT_EQ(clean.mac.matched, "MACNSP");
  EXPECT_EQ(clean.mac.text, "MAC MACNSP equals the declared " + clean.envelope.declaredMac);

  options.mac = "0123ABCD";
  const test::TempFile bad(filegen::GenerateFileBytes(options));
  const report::FileSummary mismatch = Summarise(bad.str(), std::string(filegen::kDefaultKey));
  EXPECT_TRUE(mismatch.mac.judged);
  EXPECT_TRUE(mismatch.mac.matched.empty());
  EXPECT_EQ(mismatch.mac.text, "no MAC variant equals the declared 0123ABCD");
  EXPECT_FALSE(mismatch.mac.explanation.empty());
  EXPECT_EQ(mismatch.rules[static_cast<std::size_t>(verify::Rule::MacMismatch)].count, 1);

  const report::FileSummary keyless = Summarise(good.str());
  EXPECT_FALSE(keyless.mac.judged);
  EXPECT_EQ(keyless.mac.text, "MAC not checked: no --key");
}

TEST(ReportSummary, FindingsByRuleAndAlongTheFile) {
  filegen::FileOptions options;
  options.size = 200 * 1024;
  options.faults = {{"element.date", 20}, {"element.date", 30}, {"element.pan-luhn", 300}};
  const test::TempFile file(filegen::GenerateFileBytes(options));
  const report::FileSummary summary = Summarise(file.str());
  const auto& dates = summary.rules[static_cast<std::size_t>(verify::Rule::Date)];
  EXPECT_EQ(dates.count, 2);
  ASSERT_EQ(dates.first.size(), 2u);
  EXPECT_EQ(dates.first[0].record, 20);
  EXPECT_EQ(summary.rules[static_cast<std::size_t>(verify::Rule::PanLuhn)].count, 1);
  EXPECT_EQ(summary.findings.size(), 3u);
  std::int64_t binned = 0;
  for (const std::int64_t count : summary.findingsAlongFile.bins) binned += count;
  EXPECT_EQ(binned, 3);
  const std::int64_t width = summary.findingsAlongFile.width;
  EXPECT_EQ(summary.findingsAlongFile.bins[static_cast<std::size_t>(299 / width)], 1);
  EXPECT_GE(width * static_cast<std::int64_t>(report::kHistogramBins), 300);
}

TEST(ReportSummary, HistogramWidensAndKeepsItsCounts) {
  report::RecordHistogram histogram;
  for (std::int64_t record = 1; record <= 1000; ++record) histogram.Add(record);
  histogram.Add(verify::kNoRecord);
  std::int64_t total = 0;
  for (const std::int64_t count : histogram.bins) total += count;
  EXPECT_EQ(total, 1000);
  EXPECT_EQ(histogram.fileLevel, 1);
  EXPECT_EQ(histogram.width, 32);  // the smallest power of two that fits 1000 records in 50 bins
  EXPECT_EQ(histogram.bins[0], 32);
  EXPECT_EQ(histogram.bins[31], 1000 - 31 * 32);
}

// ---- the writers ---------------------------------------------------------------

report::RunFacts Facts() { return {"9.9", "kalvrin-check report batch.dat", "2026-12-09T03:34:44Z", true}; }

TEST(ReportWriters, HtmlStaysSmallAndSelfContainedWithManyFindings) {
  filegen::FileOptions options;
  options.size = 2 * 1024 * 1024;
  options.faults.assign(1200, {"element.date", 0});
  const std::string bytes = filegen::GenerateFileBytes(options);
  ASSERT_FALSE(bytes.empty());
  const test::TempFile file(bytes);
  const report::FileSummary summary = Summarise(file.str());
  ASSERT_GT(summary.verify.errors, static_cast<std::int64_t>(report::kFindingsKept));
  std::ostringstream html;
  report::WriteHtmlReport(html, {summary}, Facts());
  const std::string text = html.str();
  EXPECT_LT(text.size(), 2u << 20);
  EXPECT_NE(text.find("data-rows=\"1000\""), std::string::npos);
  EXPECT_NE(text.find(std::to_string(summary.findingsNotListed) + " more not listed"), std::string::npos);
  for (const char* external : {"src=", "href=\"http", "url(", "@import"}) {
    EXPECT_EQ(text.find(external), std::string::npos) << external;
  }
}

// A file whose every transaction names another currency keeps the tables,
// and so the page, as short as any.
TEST(ReportWriters, ManyCurrenciesAreListedUpToTheLimit) {
  filegen::FileOptions options;
  options.size = 1024 * 1024;
  std::string bytes = filegen::GenerateFileBytes(options);
  int code = 0;
  std::int64_t transactions = 0;
  for (std::size_t at = bytes.find(kPlace); at != std::string::npos; at = bytes.find(kPlace, at + 1)) {
    const std::string digits = std::to_string(1000 + code++ % 1000).substr(1);  // 000 to 999
    bytes.replace(at + kPlace.size(), 3, digits);
    ++transactions;
  }
  ASSERT_GT(code, static_cast<int>(report::kCurrenciesListed));
  const test::TempFile file(bytes);
  const report::FileSummary summary = Summarise(file.str());
  EXPECT_EQ(summary.currencies.size(), report::kCurrenciesListed);
  std::int64_t listed = 0;
  for (const auto& [currency, figures] : summary.currencies) listed += figures.messages;
  EXPECT_EQ(listed + summary.currenciesNotListed, transactions);
  std::ostringstream html;
  report::WriteHtmlReport(html, {summary}, Facts());
  EXPECT_NE(html.str().find(std::to_string(summary.currenciesNotListed) + " more transactions in other currencies"),
            std::string::npos);
}

TEST(ReportWriters, FileTextIsEscapedAndMasked) {
  EXPECT_EQ(report::FileText("a\x01\x85<\xE9\""), "a\\x01\\x85&lt;\xC3\xA9&quot;");
  EXPECT_EQ(report::PathText("caf\xC3\xA9 & <"), "caf\xC3\xA9 &amp; &lt;");
  EXPECT_EQ(report::PathText("caf\xE9"), "caf\xC3\xA9");  // not UTF-8: read as Latin-1
  filegen::FileOptions options;
  options.size = 20 * 1024;
  std::string bytes = filegen::GenerateFileBytes(options);
  const std::size_t at = bytes.find("\r\n", 62 + 512 * 3) + 2;  // after record 3, between messages
  bytes.insert(at, "<b>&\xE9");
  const test::TempFile file(bytes);
  const report::FileSummary summary = Summarise(file.str());
  std::ostringstream html;
  report::WriteHtmlReport(html, {summary}, Facts());
  EXPECT_NE(html.str().find("&lt;b&gt;&amp;\xC3\xA9"), std::string::npos);
  EXPECT_EQ(html.str().find("<b>"), std::string::npos);
  // issuer ranges are the first six digits; a masked number shows no more
  for (const auto& [range, count] : summary.issuerRanges) EXPECT_EQ(range.find('*'), std::string::npos) << range;
}

TEST(ReportWriters, JUnitHasOneFailurePerRuleWithErrors) {
  filegen::FileOptions options;
  options.size = 100 * 1024;
  options.faults = {{"element.date", 20}, {"element.date", 30}, {"message.stray-text", 40}};
  const test::TempFile file(filegen::GenerateFileBytes(options));
  std::ostringstream xml;
  report::WriteJUnitReport(xml, {Summarise(file.str())}, Facts(), "host");
  const std::string text = xml.str();
  const auto count = [&text](std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<testsuite "), 1u);
  EXPECT_EQ(count("<testcase "), verify::kRuleCount - 2);  // the MAC rules run only with a key
  EXPECT_EQ(count("<failure "), 1u);
  EXPECT_NE(text.find("<failure type=\"element.date\" message=\"2 errors\">record 20"), std::string::npos);
  EXPECT_NE(text.find("warning[message.stray-text]"), std::string::npos);
  EXPECT_NE(text.find("timestamp=\"2026-12-09T03:34:44\""), std::string::npos);
}

}  // namespace
}  // namespace kalvrin
