// The summary gathered beside the verify pass: an observer of its reading
// and a sink of its findings, so the file is read once.
#include "report/summary.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <optional>

#include "iso/iso_codes.h"
#include "iso/pan_mask.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"
#include "report/sha256.h"
#include "verify/message_reader.h"

namespace kalvrin::report {

namespace {

using verify::Sum;

constexpr int kPan = 2;
constexpr int kProcessingCode = 3;
constexpr int kAmount = 4;
constexpr int kFunctionCode = 24;
constexpr int kCurrency = 49;
constexpr int kMac = 128;
constexpr std::size_t kIssuerDigits = 6;
constexpr std::size_t kShowsSix = 10;  // a masked card number longer than this keeps its first six digits

bool IsTransaction(std::string_view mti) { return mti == "1140" || mti == "1240" || mti == "1440"; }

std::string_view ValueOf(const DecodedMessage& message, int number) {
  const DecodedElement* element = verify::CompleteElement(message, number);
  return element != nullptr ? std::string_view(element->value) : std::string_view();
}

// The complete elements the summary counts by, found in one look over the
// message's elements (they stand in element order).
struct Picked {
  std::string_view pan, processingCode, functionCode, currency;
  const std::string* amount = nullptr;  // null: no P4
};

Picked Pick(const DecodedMessage& message) {
  Picked picked;
  for (const DecodedElement& element : message.elements) {
    if (element.number > kCurrency) break;
    if (!element.complete) continue;
    switch (element.number) {
      case kPan: picked.pan = element.value; break;
      case kProcessingCode: picked.processingCode = element.value; break;
      case kAmount: picked.amount = &element.value; break;
      case kFunctionCode: picked.functionCode = element.value; break;
      case kCurrency: picked.currency = element.value; break;
      default: break;
    }
  }
  return picked;
}

// A count in a map by a text key, with no copy of a key it holds already.
template <typename Map>
typename Map::mapped_type& Entry(Map& map, std::string_view key) {
  const auto found = map.find(key);
  return found != map.end() ? found->second : map.emplace(std::string(key), typename Map::mapped_type{}).first->second;
}

// An issuer range's six bytes as one number: the map of ranges hashes no text.
std::uint64_t RangeKey(std::string_view range) {
  std::uint64_t key = 0;
  for (const char c : range) key = key << 8 | static_cast<std::uint8_t>(c);
  return key;
}

std::string RangeText(std::uint64_t key) {
  std::string text(kIssuerDigits, ' ');
  for (std::size_t i = kIssuerDigits; i-- > 0; key >>= 8) text[i] = static_cast<char>(key & 0xFF);
  return text;
}

std::string UtcText(std::time_t when) {
  std::tm parts{};
  if (gmtime_r(&when, &parts) == nullptr) return {};
  char text[32];
  return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts) != 0 ? std::string(text) : std::string();
}

FileIdentity IdentityOf(std::string_view path) {
  FileIdentity identity;
  identity.path = path;
  const std::size_t slash = identity.path.find_last_of('/');
  identity.name = slash == std::string::npos ? identity.path : identity.path.substr(slash + 1);
  struct stat facts {};
  if (::stat(identity.path.c_str(), &facts) == 0) {
    identity.size = facts.st_size;
    identity.modified = UtcText(facts.st_mtime);
  }
  return identity;
}

std::string Slice(const std::string& text, std::size_t at, std::size_t count) {
  if (at >= text.size()) return {};
  std::string part = text.substr(at, count);
  part.erase(std::find(part.begin(), part.end(), '\0'), part.end());
  return part;
}

// Card numbers counted by issuer range, up to kIssuerRangesCounted ranges:
// an open-addressed table indexed by a multiplicative hash. (A hash map's
// division per card number was most of the summary's own time.) A range's
// key is never 0, which marks a free slot.
class RangeCounts {
 public:
  // False for a new range once the table holds its most.
  bool Add(std::uint64_t range) {
    for (std::size_t slot = Slot(range);; slot = (slot + 1) & (kSlots - 1)) {
      auto& [key, count] = slots_[slot];
      if (key == range) {
        ++count;
        return true;
      }
      if (key != 0) continue;
      if (size_ == kIssuerRangesCounted) return false;
      key = range;
      count = 1;
      ++size_;
      return true;
    }
  }
  std::size_t size() const { return size_; }
  template <typename Visit>
  void ForEach(const Visit& visit) const {
    for (const auto& [key, count] : slots_) {
      if (key != 0) visit(key, count);
    }
  }

 private:
  static constexpr int kSlotBits = 15;
  static constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;
  static_assert(kSlots >= 2 * kIssuerRangesCounted, "room enough that a search stays short");
  static std::size_t Slot(std::uint64_t range) {
    return static_cast<std::size_t>((range * 0x9E3779B97F4A7C15ULL) >> (64 - kSlotBits));
  }
  std::vector<std::pair<std::uint64_t, std::int64_t>> slots_ = std::vector<std::pair<std::uint64_t, std::int64_t>>(kSlots);
  std::size_t size_ = 0;
};

class Gatherer final : public verify::VerifyObserver, public verify::FindingSink {
 public:
  Gatherer(FileSummary& summary, const SummaryOptions& options, verify::FindingSink* next)
      : summary_(summary), options_(options), next_(next) {
    for (const verify::RuleInfo& info : verify::kRules) {
      const bool macRule = info.rule == verify::Rule::MacKcv || info.rule == verify::Rule::MacMismatch;
      summary_.rules.push_back({info, options.rules.Enabled(info.rule) && (!macRule || !options.key.empty()), 0, {}});
    }
  }

  void OnBytes(std::string_view bytes) override {
    sha_.Add(bytes);
    hashed_ += static_cast<std::int64_t>(bytes.size());
  }

  void OnStart(const verify::FileStart& start) override {
    summary_.envelope.method = Slice(start.macHeader, kMacMethodAt, 1);
    summary_.envelope.version = Slice(start.macHeader, kMacVersionAt, 2);
    summary_.envelope.checkValue = Slice(start.macHeader, kMacKcvAt, kKcvDigits);
  }

  void OnMessage(const verify::ReadMessage& message) override {
    const DecodedMessage& decoded = message.decoded;
    lastRecord_ = message.record;
    const Picked picked = Pick(decoded);
    CountFunctionCode(decoded.mti, picked.functionCode);
    if (message.broken != verify::MessageBreak::None) return;
    if (message.isTrailer) summary_.envelope.declaredMac = std::string(ValueOf(decoded, kMac));
    CountCard(picked.pan);
    if (IsTransaction(decoded.mti)) CountCurrency(decoded.mti, picked);
  }

  void OnBatch(const verify::BatchSummary& batch) override {
    BatchFigures figures;
    figures.number = ++summary_.batchCount;
    figures.firstRecord = batchStart_;
    figures.lastRecord = batch.totalsRecord != 0 ? batch.totalsRecord : lastRecord_;
    figures.totals = batch;
    figures.agrees = batch.totalsRecord != 0 && batch.notJudged.empty() && totalsFindingAt_ != batch.totalsRecord;
    batchStart_ = figures.lastRecord + 1;
    const auto& values = batch.computed.values;
    bars_.push_back({figures.number, figures.number, figures.firstRecord, values[verify::kCreditAmount],
                     values[verify::kDebitAmount]});
    KeepIfLarge(std::move(figures));
  }

  void OnFinding(const verify::Finding& finding) override {
    if (next_ != nullptr) next_->OnFinding(finding);
    if (finding.rule == verify::InfoOf(verify::Rule::Totals).id) totalsFindingAt_ = finding.record;
    if (finding.rule == verify::InfoOf(verify::Rule::MacMismatch).id) macMismatch_ = finding;
    if (const auto rule = verify::RuleById(finding.rule)) {
      RuleFigures& figures = summary_.rules[static_cast<std::size_t>(*rule)];
      ++figures.count;
      if (figures.first.size() < kFindingsPerRuleKept) figures.first.push_back(finding);
    }
    if (summary_.findings.size() < kFindingsKept) {
      summary_.findings.push_back(finding);
    } else {
      ++summary_.findingsNotListed;
    }
    summary_.findingsAlongFile.Add(finding.record);
  }

  void Finish() {
    if (summary_.verify.read && !summary_.verify.stopped && hashed_ == summary_.verify.bytes) {
      summary_.identity.sha256 = sha_.Hex();
    }
    std::sort(summary_.largestBatches.begin(), summary_.largestBatches.end(),
              [](const BatchFigures& a, const BatchFigures& b) { return a.number < b.number; });
    summary_.batchBars = Bars();
    ListIssuerRanges();
    JudgeMac();
  }

 private:
  void CountCard(std::string_view pan) {
    if (pan.size() < kIssuerDigits) return;
    // a short number keeps fewer digits when masked: its range shows no more than that
    const std::uint64_t range = pan.size() > kShowsSix || !options_.maskCardNumbers
                                    ? RangeKey(pan.substr(0, kIssuerDigits))
                                    : RangeKey(std::string_view(MaskPan(pan)).substr(0, kIssuerDigits));
    if (!issuers_.Add(range)) ++otherCards_;
  }

  void CountFunctionCode(std::string_view mti, std::string_view functionCode) {
    if (lastCode_.count != nullptr && lastCode_.mti == mti && lastCode_.code == functionCode) {
      ++*lastCode_.count;
      return;
    }
    auto& codes = Entry(summary_.messagesByFunction, mti);
    auto known = codes.find(functionCode);
    if (known == codes.end() && codes.size() < kFunctionCodesListed) {
      known = codes.emplace(std::string(functionCode), 0).first;
    }
    if (known == codes.end()) {
      ++summary_.functionCodesNotListed;
      return;
    }
    ++known->second;
    lastCode_ = {std::string(mti), known->first, &known->second};
  }

  void CountCurrency(std::string_view mti, const Picked& picked) {
    CurrencyFigures* figures = lastFigures_ != nullptr && lastCurrency_ == picked.currency ? lastFigures_ : nullptr;
    if (figures == nullptr) {
      if (!summary_.currencies.contains(picked.currency) && summary_.currencies.size() >= kCurrenciesListed) {
        ++summary_.currenciesNotListed;
        return;
      }
      figures = &Entry(summary_.currencies, picked.currency);
      lastCurrency_ = picked.currency;
      lastFigures_ = figures;
    }
    ++figures->messages;
    const std::optional<Sum> value = picked.amount == nullptr ? std::optional<Sum>(0) : verify::ParseSum(*picked.amount);
    figures->totals.Add(mti, picked.processingCode, value);
    summary_.fileTotals.Add(mti, picked.processingCode, value);
  }

  // The largest kLargestKept batches so far, smallest first, replaced as larger ones come.
  void KeepIfLarge(BatchFigures figures) {
    auto& kept = summary_.largestBatches;
    const auto smaller = [](const BatchFigures& a, const BatchFigures& b) { return a.Amount() > b.Amount(); };
    if (kept.size() < kLargestKept) {
      kept.push_back(std::move(figures));
      std::push_heap(kept.begin(), kept.end(), smaller);
      return;
    }
    if (figures.Amount() <= kept.front().Amount()) return;
    std::pop_heap(kept.begin(), kept.end(), smaller);
    kept.back() = std::move(figures);
    std::push_heap(kept.begin(), kept.end(), smaller);
  }

  std::vector<FileSummary::BatchBar> Bars() const {
    if (bars_.size() <= kBatchBars) return bars_;
    const std::size_t per = (bars_.size() + kBatchBars - 1) / kBatchBars;
    std::vector<FileSummary::BatchBar> bars;
    for (std::size_t i = 0; i < bars_.size(); ++i) {
      if (i % per == 0) {
        bars.push_back(bars_[i]);
        continue;
      }
      bars.back().lastBatch = bars_[i].lastBatch;
      bars.back().credits += bars_[i].credits;
      bars.back().debits += bars_[i].debits;
    }
    return bars;
  }

  void ListIssuerRanges() {
    std::vector<std::pair<std::string, std::int64_t>> ranges;
    ranges.reserve(issuers_.size());
    issuers_.ForEach([&ranges](std::uint64_t key, std::int64_t count) { ranges.emplace_back(RangeText(key), count); });
    std::sort(ranges.begin(), ranges.end(), [](const auto& a, const auto& b) {
      return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    summary_.cardsInOtherRanges = otherCards_;
    if (ranges.size() > kLargestKept) {
      summary_.issuerRangesNotListed = static_cast<std::int64_t>(ranges.size() - kLargestKept);
      for (std::size_t i = kLargestKept; i < ranges.size(); ++i) summary_.cardsInOtherRanges += ranges[i].second;
      ranges.resize(kLargestKept);
    }
    summary_.issuerRanges = std::move(ranges);
    for (auto& [code, figures] : summary_.currencies) figures.name = CurrencyName(code);
  }

  void JudgeMac() {
    const verify::MacSummary& mac = summary_.verify.mac;
    MacVerdict& verdict = summary_.mac;
    verdict.judged = mac.checked && (mac.note.empty() || !mac.matched.empty());
    verdict.matched = mac.matched;
    if (!mac.matched.empty()) {
      verdict.text = "MAC " + mac.matched + " equals the declared " + mac.declared;
    } else if (mac.checked && mac.note.empty()) {
      verdict.text = "no MAC variant equals the declared " + mac.declared;
      if (macMismatch_) {
        const std::string& message = macMismatch_->message;
        const std::size_t explained = message.find("; ");
        verdict.explanation = explained == std::string::npos ? message : message.substr(explained + 2);
      }
    } else {
      verdict.text = mac.note;
    }
  }

  FileSummary& summary_;
  const SummaryOptions& options_;
  verify::FindingSink* next_;
  ThreadedSha256 sha_;
  std::int64_t hashed_ = 0;
  std::int64_t lastRecord_ = 0;
  std::int64_t batchStart_ = 1;
  std::int64_t totalsFindingAt_ = -1;
  std::optional<verify::Finding> macMismatch_;
  std::vector<FileSummary::BatchBar> bars_;
  RangeCounts issuers_;
  std::int64_t otherCards_ = 0;
  // Messages mostly follow one of their kind: the counts of the last MTI
  // and function code, and the figures of the last currency, are taken
  // without a search of the maps (whose entries stay where they are).
  struct {
    std::string mti, code;
    std::int64_t* count = nullptr;
  } lastCode_;
  std::string lastCurrency_;
  CurrencyFigures* lastFigures_ = nullptr;
};

}  // namespace

Sum BatchFigures::Amount() const {
  return totals.computed.values[verify::kCreditAmount] + totals.computed.values[verify::kDebitAmount];
}

void RecordHistogram::Add(std::int64_t record) {
  if (record == verify::kNoRecord) {
    ++fileLevel;
    return;
  }
  auto bin = static_cast<std::size_t>((record - 1) / width);
  while (bin >= bins.size()) {
    for (std::size_t i = 0; i < bins.size(); ++i) bins[i] = i * 2 + 1 < bins.size() ? bins[i * 2] + bins[i * 2 + 1] : 0;
    width *= 2;
    bin = static_cast<std::size_t>((record - 1) / width);
  }
  ++bins[bin];
}

FileSummary SummariseFile(std::string_view path, const SummaryOptions& options, verify::FindingSink* sink) {
  FileSummary summary;
  summary.identity = IdentityOf(path);
  summary.cardNumbersMasked = options.maskCardNumbers;
  Gatherer gatherer(summary, options, sink);
  verify::VerifyOptions verifyOptions;
  verifyOptions.rules = options.rules;
  verifyOptions.key = options.key;
  verifyOptions.progress = options.progress;
  verifyOptions.macProgress = options.macProgress;
  verifyOptions.maskCardNumbers = options.maskCardNumbers;
  verifyOptions.explainMac = options.explainMac && !options.key.empty();
  verifyOptions.observer = &gatherer;
  summary.verify = verify::VerifyFile(path, verifyOptions, gatherer);
  gatherer.Finish();
  return summary;
}

}  // namespace kalvrin::report
