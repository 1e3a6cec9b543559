// Builds ISO 8583 messages and valid batch files of any size, with faults
// injected on demand.
#include "testgen/filegen.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <span>

#include "mac/des.h"
#include "mac/key_install.h"
#include "testgen/chip_data.h"

namespace kalvrin::filegen {

namespace {

struct Range {
  int first;
  int last;
};
constexpr Range kLLElements[] = {{2, 2}, {31, 35}, {43, 45}, {53, 53}, {56, 56}, {58, 58},
                                 {93, 95}, {99, 103}, {108, 110}};
constexpr Range kLLLElements[] = {{36, 36}, {46, 48}, {54, 55}, {59, 63}, {66, 66},
                                  {72, 72}, {96, 96}, {104, 104}, {111, 127}};

bool InRanges(int element, const auto& ranges) {
  return std::any_of(std::begin(ranges), std::end(ranges),
                     [element](const Range& r) { return element >= r.first && element <= r.last; });
}

constexpr char kHex[] = "0123456789ABCDEF";

std::string Padded(std::uint64_t value, int digits) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

// Deterministic on every platform: only the engine's raw output is used.
class Random {
 public:
  explicit Random(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(engine_() % bound); }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }
  std::string Digits(std::size_t count) {
    std::string text(count, '0');
    for (char& c : text) c = static_cast<char>('0' + Below(10));
    return text;
  }
  std::string HexDigits(std::size_t count) {
    std::string text(count, '0');
    for (char& c : text) c = kHex[Below(16)];
    return text;
  }
  std::string Two(std::uint32_t first, std::uint32_t last) { return Padded(first + Below(last - first + 1), 2); }

 private:
  std::mt19937 engine_;
};

// ---- valid values ------------------------------------------------------------

char LuhnDigit(std::string_view digits) {
  int sum = 0;
  bool twice = true;  // the check digit is the one not doubled
  for (auto c = digits.rbegin(); c != digits.rend(); ++c) {
    int digit = *c - '0';
    if (twice && (digit *= 2) > 9) digit -= 9;
    sum += digit;
    twice = !twice;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

std::string CardNumber(Random& random) {
  std::string pan = "4" + random.Digits(14 + random.Below(4));
  pan += LuhnDigit(pan);
  return pan;
}

// A day that every month has, so that any month fits.
std::string MonthDay(Random& random) { return random.Two(1, 12) + random.Two(1, 28); }
std::string TimeOfDay(Random& random) { return random.Two(0, 23) + random.Two(0, 59) + random.Two(0, 59); }

constexpr std::string_view kCurrencies[] = {"978", "840", "826", "756", "985"};

// ---- the MAC the file declares: MACNSP -----------------------------------

// CBC-MAC under a single DES key over the bytes the MACNSP variant keeps:
// no CR, LF, TAB or space; every byte outside 0x20-0x7E as 0xAA.
class NspMac {
 public:
  explicit NspMac(std::string_view key) {
    DesBytes bytes{};
    HexToBytes(bytes.data(), key, bytes.size());
    BuildKeySchedule(schedule_, bytes);
  }
  void Feed(std::string_view text) {
    for (const char c : text) {
      const auto byte = static_cast<std::uint8_t>(c);
      if (byte == '\r' || byte == '\n' || byte == '\t' || byte == ' ') continue;
      block_[filled_++] = byte >= 0x20 && byte <= 0x7E ? byte : 0xAA;
      if (filled_ == block_.size()) Encrypt();
    }
  }
  std::string Finish() {
    if (filled_ != 0) {
      std::fill(block_.begin() + static_cast<std::ptrdiff_t>(filled_), block_.end(), 0);
      Encrypt();
    }
    char hex[17] = {};
    BytesToHex(hex, chain_.data(), 4);
    return std::string(hex, 8);
  }

 private:
  void Encrypt() {
    for (std::size_t i = 0; i < chain_.size(); ++i) chain_[i] ^= block_[i];
    DesBlock(chain_, kModeEncrypt, schedule_, chain_);
    filled_ = 0;
  }
  KeySchedule schedule_{};
  DesBytes chain_{};
  DesBytes block_{};
  std::size_t filled_ = 0;
};

std::string CheckValue(std::string_view key) {
  char kcv[17] = {};
  if (CreateKCV(kcv, key, 8) == 0) return "00000000";
  return std::string(kcv, 8);
}

// ---- records and faults ----------------------------------------------------------

enum class Kind { FileHeader, Transaction, Totals, Trailer };

// A set of kinds of record.
using Kinds = unsigned;
constexpr Kinds Of(Kind kind) { return 1u << static_cast<unsigned>(kind); }
constexpr Kinds kAnyKind = Of(Kind::FileHeader) | Of(Kind::Transaction) | Of(Kind::Totals) | Of(Kind::Trailer);
constexpr Kinds kTransaction = Of(Kind::Transaction);

struct Message {
  std::string mti;
  std::map<int, std::string> elements;
};

// One record on its way to the file: the message, then what a fault did to
// its text.
struct Record {
  Kind kind;
  std::int64_t number = 0;
  Message message;
};

// Where in the writing of the file a fault goes in, in the order of writing.
enum class Stage {
  Kcv,           // the key check value the MAC header record and P53 declare
  MacHeader,     // the MAC header record's text
  AfterHeader,   // between the MAC header record and the 1644
  Number,        // a message's S71
  Values,        // a message's element values
  Chip,          // a transaction's chip data (P55), made from its final values
  Totals,        // a 1542's totals, once counted
  Mac,           // the trailer's S128, once computed
  Text,          // a message's text: prefixes and bitmaps
  Padding,       // a record's spaces after its message
  Trailer,       // whether the trailer is written
  AfterTrailer,  // behind the trailer
};

// What a fault works on: the record being written (record 0: the envelope
// around the messages) and the pieces of it built so far.
struct Site {
  Kind kind = Kind::FileHeader;
  std::int64_t number = 0;
  Message* message = nullptr;
  std::int64_t start = 0;  // the file offset of the record's first byte
  std::map<int, std::size_t> starts;
  std::uint64_t messageNumber = 0;  // S71's value
  bool wrongNumber = false;
  std::string text;    // the message, from Stage::Text on; the MAC header record at Stage::MacHeader
  std::string padded;  // the record without its CR LF, at Stage::Padding
  std::size_t cutAt = std::string::npos;  // where the file ends inside the record
  bool dropped = false;                   // the record is not written
  int faults = 0;                         // injected into it so far

  bool Is(Kind other) const { return kind == other; }
  bool IsTransaction() const { return kind == Kind::Transaction; }
  // The file offset of an element's byte (its prefix's first at index 0).
  std::int64_t At(int element, std::size_t index) {
    BuildMessage(message->mti, message->elements, &starts);
    return start + static_cast<std::int64_t>(starts.at(element) + index);
  }
  // The same for a byte of its data, after the prefix.
  std::int64_t DataAt(int element, std::size_t index) {
    return At(element, static_cast<std::size_t>(PrefixDigits(element)) + index);
  }
};

// Where one fault keeps verify from finding another.
enum class Reach {
  SameRecord,  // in the same record
  NextRecord,  // in the record right after it
  SameBatch,   // in the same batch: the file header counts with the first
  File,        // anywhere in the file
};
struct Hiding {
  std::string_view hider;
  Reach reach;
  std::string_view hidden;  // "*": every fault of the record but its bitmaps' and an earlier break
};
// verify reads no value of a message it cannot read to its end, judges no
// totals of a batch with such a message, and no MAC when the key check
// values differ; after a wrong S71 it takes either number for the next.
constexpr Hiding kHidings[] = {
    {"message.bad-prefix", Reach::SameRecord, "*"},
    {"message.truncated", Reach::SameRecord, "*"},
    {"message.bad-prefix", Reach::SameBatch, "batch.totals"},
    {"batch.message-number", Reach::NextRecord, "batch.message-number"},
    {"envelope.trailer-mac", Reach::SameRecord, "mac.mismatch"},
    {"mac.kcv", Reach::File, "mac.mismatch"},
    {"envelope.mac-header", Reach::File, "mac.mismatch"},
    {"envelope.mac-header", Reach::File, "envelope.kcv-mismatch"},
    // a copy no longer equal in MTI, P2, P11, P12 and P37
    {"element.pan-luhn", Reach::SameRecord, "batch.duplicate"},
    {"element.not-numeric", Reach::SameRecord, "batch.duplicate"},
    {"element.date", Reach::SameRecord, "batch.duplicate"},
    // a P55 that is not well-formed is judged no further
    {"emv.tlv", Reach::SameRecord, "emv.amount"},
    {"emv.tlv", Reach::SameRecord, "emv.currency"},
    {"emv.tlv", Reach::SameRecord, "emv.date"},
    {"emv.tlv", Reach::SameRecord, "emv.pan"},
    {"emv.tlv", Reach::SameRecord, "emv.cryptogram"},
};

bool BreaksTheRecord(std::string_view rule) { return rule == "message.bad-prefix" || rule == "message.truncated"; }
bool IsBitmapFault(std::string_view rule) { return rule == "message.bitmap-char" || rule == "message.no-secondary-bit"; }

// A fault as placed: its record and batch, and where it stands.
struct Placed {
  std::string_view rule;
  std::int64_t record = 0;  // 0: the envelope
  std::int64_t batch = 0;
  std::int64_t offset = -1;
};

// Whether `hider` keeps verify from finding `hidden`.
bool Hides(const Placed& hider, const Placed& hidden) {
  for (const Hiding& h : kHidings) {
    if (h.hider != hider.rule) continue;
    if (h.hidden == "*") {
      const bool earlierBreak = BreaksTheRecord(hidden.rule) && hidden.offset < hider.offset;
      if (hidden.rule == hider.rule || IsBitmapFault(hidden.rule) || earlierBreak) continue;
    } else if (h.hidden != hidden.rule) {
      continue;
    }
    const bool inRecords = hider.record != 0 && hidden.record != 0;
    switch (h.reach) {
      case Reach::SameRecord:
        if (inRecords && hider.record == hidden.record) return true;
        break;
      case Reach::NextRecord:
        if (inRecords && hidden.record == hider.record + 1) return true;
        break;
      case Reach::SameBatch:
        if (inRecords && hider.batch == hidden.batch) return true;
        break;
      case Reach::File: return true;
    }
  }
  return false;
}

class Generator {
 public:
  Generator(const FileOptions& options, const std::function<void(std::string_view)>& sink)
      : options_(options), sink_(sink), random_(options.seed), chipRandom_(options.seed), mac_(options.key) {
    for (const Fault& fault : options.faults) {
      pending_.push_back({fault, false, {}});
      if (fault.record != 0) named_.insert(fault.record);
    }
  }

  // A fault the generator can inject: a rule of kalvrin-check verify, where it
  // goes in, into which kinds of record it can go, into which it goes when
  // no record is named, and what it does there. In the order a record is
  // written, so that faults in one record meet as they always did.
  struct FaultSpec {
    std::string_view rule;
    Stage stage;
    Kinds where = kAnyKind;
    Kinds suitable = kAnyKind;
    void (Generator::*inject)(Site&);
    bool copiesEarlier = false;  // needs an earlier transaction in the file
  };
  static std::span<const FaultSpec> Faults();

  FileSummary Run() {
    const auto faults = Faults();
    for (const auto& pending : pending_) {
      const std::string& rule = pending.fault.rule;
      if (std::none_of(faults.begin(), faults.end(), [&rule](const FaultSpec& spec) { return spec.rule == rule; })) {
        summary_.error = "no such fault: " + rule;
        return summary_;
      }
    }
    constexpr std::size_t kFixedPart = kMacHeaderLength + 2 + 2 * kRecordLength;  // header record, 1644, 1844
    const std::uint64_t batchMessages =
        options_.size > kFixedPart ? (options_.size - kFixedPart + kRecordLength - 1) / kRecordLength : 0;
    out_.reserve(256 * kRecordLength);

    WriteMacHeader();
    Emit(Record{Kind::FileHeader, 1, FileHeader()});
    std::uint64_t left = batchMessages;
    while (left > 0 && !cut_) {
      std::uint64_t transactions = 2 + random_.Below(10);
      if (transactions >= left) transactions = left - 1;
      batchTotals_ = next_ + static_cast<std::int64_t>(transactions);
      for (std::uint64_t i = 0; i < transactions && !cut_; ++i) Emit(Record{Kind::Transaction, next_, Transaction()});
      if (!cut_) Emit(Record{Kind::Totals, next_, TotalsMessage()});
      left -= transactions + 1;
    }
    if (!cut_) {
      Site end;
      Inject(Stage::Trailer, end);
      if (!end.dropped) {
        Emit(Record{Kind::Trailer, next_, Trailer()});
        if (!cut_) Inject(Stage::AfterTrailer, end);
      }
    }
    Drain();
    for (const Pending& pending : pending_) {
      if (pending.done) continue;
      const Fault& fault = pending.fault;
      std::string why = pending.blockedBy;
      if (why.empty() && cut_) why = "the file ends inside record " + std::to_string(cutRecord_);
      summary_.error = "cannot inject " + fault.rule +
                       (fault.record != 0 ? " at record " + std::to_string(fault.record) : std::string()) +
                       " into this file" + (why.empty() ? std::string() : ": " + why);
      break;
    }
    SortOutHidden();
    summary_.messages = static_cast<std::uint64_t>(next_ - 1);
    return summary_;
  }

 private:
  // ---- fault bookkeeping ---------------------------------------------------------

  // Every fault of the stage that is pending for the site's record: its own
  // number, or none and the record is the first suitable one that is free
  // for it. The envelope (record 0) takes only faults without a record.
  void Inject(Stage stage, Site& site) {
    for (const FaultSpec& spec : Faults()) {
      if (spec.stage != stage) continue;
      if (site.number != 0 && (spec.where & Of(site.kind)) == 0) continue;
      if (spec.copiesEarlier && !lastTransaction_) continue;
      if (!Take(spec.rule, site, (spec.suitable & Of(site.kind)) != 0)) continue;
      ++site.faults;
      placed_.push_back({spec.rule, site.number, BatchOf(spec.rule, site.number), -1});
      (this->*spec.inject)(site);
    }
  }

  // True (once) when a fault of this rule is pending for the record.
  bool Take(std::string_view rule, const Site& site, bool suitable) {
    for (Pending& pending : pending_) {
      if (pending.done || pending.fault.rule != rule) continue;
      if (pending.fault.record != 0 ? pending.fault.record != site.number : !suitable) continue;
      if (pending.fault.record == 0) {
        pending.blockedBy = Clash(rule, site);
        if (!pending.blockedBy.empty()) continue;
      }
      pending.done = true;
      return true;
    }
    return false;
  }

  // Why a fault without a record of its own cannot go into the site: the
  // record holds or is named for another fault, or the fault would hide
  // one placed or named, or be hidden by it. Empty: it can.
  std::string Clash(std::string_view rule, const Site& site) const {
    if (site.number != 0 && (site.faults != 0 || named_.count(site.number) != 0)) {
      return "every record that suits it holds another fault";
    }
    const Placed here{rule, site.number, BatchOf(rule, site.number), -1};
    auto clash = [&here](const Placed& other) -> std::string {
      if (Hides(other, here)) return std::string(other.rule) + " would hide it";
      if (Hides(here, other)) return "it would hide " + std::string(other.rule);
      return {};
    };
    for (const Placed& other : placed_) {
      if (std::string why = clash(other); !why.empty()) return why;
    }
    for (const Pending& pending : pending_) {
      const std::int64_t record = pending.fault.record;
      if (pending.done || record == 0) continue;
      // a record of this batch, or -1: a batch not begun
      const bool thisBatch = batchTotals_ != 0 && record >= batchFirst_ && record <= batchTotals_;
      if (std::string why = clash({pending.fault.rule, record, thisBatch ? batch_ : -1, -1}); !why.empty()) return why;
    }
    return {};
  }

  void Note(std::string_view rule, std::int64_t record, int element, std::int64_t offset, std::string what) {
    summary_.injected.push_back({std::string(rule), record, element, offset, std::move(what), {}});
    notedBatch_.push_back(BatchOf(rule, record));
  }

  // The batch whose totals a fault in the record can upset: a totals message
  // that cannot be read closes no batch, so its transactions count with the
  // next one's.
  std::int64_t BatchOf(std::string_view rule, std::int64_t record) const {
    return record == batchTotals_ && BreaksTheRecord(rule) ? batch_ + 1 : batch_;
  }

  // What another fault keeps verify from finding moves to `hidden`: a
  // named record may hold several faults.
  void SortOutHidden() {
    std::vector<Injected> found;
    const std::vector<Injected>& all = summary_.injected;
    auto placed = [&all, this](std::size_t i) {
      return Placed{all[i].rule, all[i].record, notedBatch_[i], all[i].offset};
    };
    for (std::size_t i = 0; i < all.size(); ++i) {
      std::size_t by = 0;
      while (by < all.size() && (by == i || !Hides(placed(by), placed(i)))) ++by;
      if (by == all.size()) {
        found.push_back(all[i]);
        continue;
      }
      Injected hidden = all[i];
      hidden.hiddenBy = all[by].rule + (all[by].record != 0 ? " at record " + std::to_string(all[by].record) : "");
      summary_.hidden.push_back(std::move(hidden));
    }
    summary_.injected = std::move(found);
  }

  // ---- the faults -------------------------------------------------------------------

  void OtherKeysCheckValue(Site&) {
    std::string other(options_.key);
    other.back() = other.back() == '0' ? '1' : '0';
    securityKcv_ = CheckValue(other);
    Note("mac.kcv", 0, 0, 44, "the MAC header record and P53 declare the check value of another key");
  }
  void ZInTheHeadersCheckValue(Site& site) {
    site.text[44] = 'Z';
    Note("envelope.mac-header", 0, 0, 44, "the key check value of the MAC header record holds a Z");
  }
  void NineBeforeTheFileHeader(Site&) {
    out_ += "9";
    Note("envelope.file-header", 0, 0, static_cast<std::int64_t>(out_.size()) - 1, "a 9 before the 1644");
  }
  void NumberFiveAhead(Site& site) {
    site.messageNumber += 5;
    site.wrongNumber = true;
  }
  void CopyOfTheLastTransaction(Site& site) {
    const std::string ownNumber = site.message->elements[71];
    *site.message = *lastTransaction_;
    site.message->elements[71] = ownNumber;
    Note("batch.duplicate", site.number, 0, site.start, "a copy of record " + std::to_string(lastTransactionRecord_));
  }
  void CardNumbersLastDigitChanged(Site& site) {
    std::string& pan = site.message->elements[2];
    pan.back() = static_cast<char>('0' + (pan.back() - '0' + 1) % 10);
    if (site.message->elements.count(35) != 0) site.message->elements[35].replace(0, pan.size(), pan);
    Note("element.pan-luhn", site.number, 2, site.DataAt(2, pan.size() - 1), "the card number's last digit changed");
  }
  void NoSuchCurrency(Site& site) {
    site.message->elements[49] = "000";
    Note("element.currency", site.number, 49, site.DataAt(49, 0), "P49 000");
  }
  void TrackTwoExpiresLater(Site& site) {
    const std::string& pan = site.message->elements[2];
    const std::string expiry = site.message->elements[14];
    const std::string other = Padded((std::stoul(expiry.substr(0, 2)) + 1) % 100, 2) + expiry.substr(2);
    site.message->elements[35] = pan + "=" + other + "201";
    Note("element.track2-mismatch", site.number, 35, site.DataAt(35, pan.size() + 1), "P35's expiry date is not P14's");
  }
  void XInANumericElement(Site& site) {
    const int element = site.IsTransaction() ? 11 : site.Is(Kind::Trailer) ? 71 : 7;
    std::string& value = site.message->elements[element];
    value.back() = 'X';
    Note("element.not-numeric", site.number, element, site.DataAt(element, value.size() - 1), "an X in a numeric element");
  }
  void MonthThirteen(Site& site) {
    const int element = site.IsTransaction() ? 12 : 7;
    const std::size_t month = site.IsTransaction() ? 2 : 0;
    site.message->elements[element].replace(month, 2, "13");
    Note("element.date", site.number, element, site.DataAt(element, month), "month 13");
  }
  void TrailerWithS72(Site& site) {
    site.message->elements[72] = "TRAILER";
    Note("envelope.trailer-mac", site.number, 72, site.At(72, 0), "S72 in the trailer moves S128");
  }
  void FileHeadersCheckValueChanged(Site& site) {
    std::string& security = site.message->elements[53];
    security[3] = security[3] == 'F' ? '0' : 'F';
    Note("envelope.kcv-mismatch", site.number, 53, site.DataAt(53, 3), "P53's check value changed");
  }
  void CreditsOneMore(Site& site) {
    std::string& amount = site.message->elements[86];
    amount = Padded(std::stoull(amount) + 1, 16);
    Note("batch.totals", site.number, 86, site.DataAt(86, 0), "S86 one more than the credits' sum");
  }
  void DeclaredMacChanged(Site& site) {
    std::string& mac = site.message->elements[128];
    mac[0] = mac[0] == '0' ? '1' : '0';
    Note("mac.mismatch", site.number, 128, site.DataAt(128, 0), "the declared MAC's first digit changed");
  }
  void AInALengthPrefix(Site& site) {
    const auto prefixed =
        std::find_if(site.starts.begin(), site.starts.end(), [](const auto& s) { return PrefixDigits(s.first) != 0; });
    if (prefixed == site.starts.end()) {
      summary_.error = "record " + std::to_string(site.number) + " has no length prefix to spoil";
      return;
    }
    site.text[prefixed->second + 1] = 'A';
    Note("message.bad-prefix", site.number, prefixed->first, site.start + static_cast<std::int64_t>(prefixed->second),
         "an A in the length prefix");
  }
  void LowerCaseInABitmap(Site& site) {
    const std::size_t zero = site.text.find_last_of('0', 35);
    if (zero < 4 || zero == std::string::npos) {
      summary_.error = "record " + std::to_string(site.number) + " has no 0 in its bitmaps";
      return;
    }
    site.text[zero] = 'a';
    Note("message.bitmap-char", site.number, 0, site.start + static_cast<std::int64_t>(zero), "a lower-case a in a bitmap");
  }
  void SecondaryBitCleared(Site& site) {
    const int bits = site.text[4] >= 'A' ? site.text[4] - 'A' + 10 : site.text[4] - '0';
    site.text[4] = kHex[bits & 7];
    Note("message.no-secondary-bit", site.number, 0, site.start + 4, "bit 1 cleared");
  }
  void FileEndsInside(Site& site) {
    const int last = site.message->elements.rbegin()->first;
    const std::size_t from = site.starts.at(last);
    site.cutAt = from + (site.text.size() - from) / 2;
    Note("message.truncated", site.number, last, site.start + static_cast<std::int64_t>(from), "the file ends inside it");
  }
  void XyzInThePadding(Site& site) {
    const std::size_t stray = site.text.size() + 2;
    site.padded.replace(stray, 3, "XYZ");
    Note("message.stray-text", site.number, 0, site.start + static_cast<std::int64_t>(stray), "XYZ in the padding");
  }
  void NoTrailer(Site& site) {
    site.dropped = true;
    Note("envelope.trailer-missing", 0, 0, -1, "no trailer written");
  }
  void TransactionAfterTheTrailer(Site&) {
    const std::int64_t at = offset_ + static_cast<std::int64_t>(out_.size());
    const std::int64_t record = next_;
    Emit(Record{Kind::Transaction, next_, Transaction()}, false);
    Note("envelope.trailer-not-last", record, 0, at, "a transaction after the trailer");
  }

  // ---- chip data ------------------------------------------------------------------

  // P55 made from the transaction's values; the optional elements that
  // would make the record too long give way to it.
  void WriteChip(Message& message) {
    message.elements[55] = WriteChipData(MakeChipData(message.elements, chipRandom_));
    message.elements.erase(72);
    message.elements.erase(123);
  }
  // The record's chip data, made first when it has none.
  std::vector<ChipObject> ChipOf(Site& site) {
    const auto p55 = site.message->elements.find(55);
    if (p55 == site.message->elements.end() || !IsChipData(p55->second)) WriteChip(*site.message);
    return ReadChipData(site.message->elements.at(55));
  }
  ChipObject& Object(std::vector<ChipObject>& chip, std::string_view tag) {
    return *std::find_if(chip.begin(), chip.end(), [tag](const ChipObject& o) { return o.tag == tag; });
  }
  void NoteChip(std::string_view rule, Site& site, const std::vector<ChipObject>& chip, std::size_t index,
                std::string what) {
    site.message->elements[55] = WriteChipData(chip);
    Note(rule, site.number, 55, site.DataAt(55, index), std::move(what));
  }

  void ChipRunsPastItsEnd(Site& site) {
    std::vector<ChipObject> chip = ChipOf(site);
    chip.push_back({"9F36", "00"});
    std::string& p55 = site.message->elements[55];
    p55 = WriteChipData(chip);
    p55.replace(p55.size() - 4, 2, "02");  // a length of 2 before the 1 byte that follows
    Note("emv.tlv", site.number, 55, site.DataAt(55, p55.size() - 4), "a last 9F36 announces 2 bytes, 1 follows");
  }
  void ChipAmountOneMore(Site& site) {
    std::vector<ChipObject> chip = ChipOf(site);
    Object(chip, "9F02").value = Padded((std::stoull(site.message->elements.at(4)) + 1) % 1000000000000, 12);
    NoteChip("emv.amount", site, chip, ChipValueIndex(chip, "9F02"), "9F02 one more than P4");
  }
  void ChipCurrencyOther(Site& site) {
    std::vector<ChipObject> chip = ChipOf(site);
    Object(chip, "5F2A").value = site.message->elements.at(49) == "978" ? "0840" : "0978";
    NoteChip("emv.currency", site, chip, ChipValueIndex(chip, "5F2A"), "5F2A another currency than P49's");
  }
  void ChipDateDayLater(Site& site) {
    std::vector<ChipObject> chip = ChipOf(site);
    std::string& date = Object(chip, "9A").value;
    date = date.substr(0, 4) + Padded(std::stoul(date.substr(4, 2)) % 28 + 1, 2);
    NoteChip("emv.date", site, chip, ChipValueIndex(chip, "9A"), "9A a day after P12's date");
  }
  void ChipCardNumberChanged(Site& site) {
    std::vector<ChipObject> chip = ChipOf(site);
    std::string& pan = Object(chip, "5A").value;
    const std::size_t last = site.message->elements.at(2).size() - 1;
    pan[last] = static_cast<char>('0' + (pan[last] - '0' + 1) % 10);
    NoteChip("emv.pan", site, chip, ChipValueIndex(chip, "5A"), "5A's last digit changed");
  }
  void ChipWithoutCryptogram(Site& site) {
    std::vector<ChipObject> chip = ChipOf(site);
    chip.erase(std::find_if(chip.begin(), chip.end(), [](const ChipObject& o) { return o.tag == "9F26"; }));
    NoteChip("emv.cryptogram", site, chip, ChipTagIndex(chip, "9F27"), "9F26 left out");
  }

  // ---- the envelope -------------------------------------------------------------

  void WriteMacHeader() {
    Site envelope;
    securityKcv_ = CheckValue(options_.key);
    Inject(Stage::Kcv, envelope);
    envelope.text = "DORVMAC HEADER GENERATED BATCH           1" "01" + securityKcv_ + "20261208";
    Inject(Stage::MacHeader, envelope);
    out_ += envelope.text;
    out_ += "\r\n";
    Inject(Stage::AfterHeader, envelope);
  }
  Message FileHeader() {
    std::string security = "1" "01" + securityKcv_;
    return {"1644", {{7, MonthDay(random_) + TimeOfDay(random_)},
                     {24, "692"},
                     {53, security},
                     {71, ""},
                     {72, "BATCH GENERATED " + Padded(options_.seed % 100000, 5)}}};
  }

  Message Trailer() { return {"1844", {{24, "971"}, {71, ""}, {128, ""}}}; }

  // ---- batches ----------------------------------------------------------------------

  Message Transaction() {
    static constexpr std::string_view kTypes[] = {"1140", "1240", "1440"};
    const std::string_view mti = kTypes[random_.Below(3)];
    const std::string pan = CardNumber(random_);
    const std::string expiry = Padded(27 + random_.Below(9), 2) + random_.Two(1, 12);
    Message message{std::string(mti), {
        {2, pan},
        {3, mti == "1140" || random_.Chance(60) ? "000000" : "200000"},
        {4, random_.Digits(12)},
        {7, MonthDay(random_) + TimeOfDay(random_)},
        {11, Padded(static_cast<std::uint64_t>(next_) % 1000000, 6)},
        {12, random_.Two(20, 29) + MonthDay(random_) + TimeOfDay(random_)},
        {14, expiry},
        {22, "51010151134C"},
        {24, "200"},
        {26, "5999"},
        {37, random_.Digits(12)},
        {41, "TERM" + Padded(static_cast<std::uint64_t>(next_) % 10000, 4) + "        "},
        {42, "MERCHANT0000001"},
        {43, "SAMPLE SHOP   VIENNA    AT"},
        {49, std::string(kCurrencies[random_.Below(5)])},
        {71, ""},
    }};
    // 37 characters at most
    if (random_.Chance(50)) message.elements[35] = pan + "=" + expiry + "201" + random_.Digits(29 - pan.size());
    if (random_.Chance(40)) {
      message.elements[55] = WithIadLength("9F2608" + random_.HexDigits(16) + "9F2701809F1007" +
                                            random_.HexDigits(14 + 2 * random_.Below(20)));
    }
    if (random_.Chance(20)) message.elements[72] = "DATA RECORD " + random_.Digits(random_.Below(40));
    if (random_.Chance(15)) message.elements[101] = "FILE" + random_.Digits(random_.Below(12));
    if (random_.Chance(10)) message.elements[123] = random_.HexDigits(random_.Below(60));
    return message;
  }

  // The P55 above with 9F10's length made that of its value, which the
  // draw makes 7 to 26 bytes: well-formed chip data.
  static std::string WithIadLength(std::string p55) {
    constexpr std::size_t kIadLength = 34;  // after 9F26, 9F27 and 9F10's tag
    const std::size_t bytes = (p55.size() - kIadLength - 2) / 2;
    p55[kIadLength] = kHex[bytes >> 4];
    p55[kIadLength + 1] = kHex[bytes & 0xF];
    return p55;
  }

  Message TotalsMessage() {
    return {"1542", {{7, MonthDay(random_) + TimeOfDay(random_)}, {24, "500"}, {71, ""}, {72, "RECONCILIATION"}}};
  }

  // The batch's totals as the scheme counts them.
  void Count(const Message& message) {
    const std::string& code = message.elements.at(3);
    const std::uint64_t amount = std::stoull(message.elements.at(4));
    if (message.mti == "1140") {
      ++counts_[4];
      return;
    }
    const bool credit = code.compare(0, 2, "20") == 0;
    const std::size_t index = message.mti == "1240" ? (credit ? 0 : 2) : (credit ? 1 : 3);
    ++counts_[index];
    amounts_[index] += amount;
  }

  void FillTotals(Message& message) {
    constexpr int kCounts[] = {74, 75, 76, 77, 81};
    constexpr int kAmounts[] = {86, 87, 88, 89};
    for (std::size_t i = 0; i < 5; ++i) message.elements[kCounts[i]] = Padded(counts_[i], 10);
    for (std::size_t i = 0; i < 4; ++i) message.elements[kAmounts[i]] = Padded(amounts_[i], 16);
    counts_ = {};
    amounts_ = {};
  }

  // ---- one record -----------------------------------------------------------------

  void Emit(Record record, bool inRange = true) {
    Message& message = record.message;
    Site site;
    site.kind = record.kind;
    site.number = record.number;
    site.message = &message;
    site.start = offset_ + static_cast<std::int64_t>(out_.size());
    site.messageNumber = static_cast<std::uint64_t>(record.number);

    // values first: S71, the element faults, the totals, the trailer's MAC
    Inject(Stage::Number, site);
    message.elements[71] = Padded(site.messageNumber % 100000000, 8);
    Inject(Stage::Values, site);
    if (site.IsTransaction() && options_.chip > 0 && static_cast<double>(chipRandom_() % 1000000) < options_.chip * 1e6) {
      WriteChip(message);
    }
    Inject(Stage::Chip, site);
    if (site.IsTransaction()) Count(message);
    if (site.Is(Kind::Totals)) {
      FillTotals(message);
      Inject(Stage::Totals, site);
    }
    if (site.Is(Kind::Trailer)) {
      message.elements[128] = options_.mac.empty() ? mac_.Finish() : options_.mac;
      Inject(Stage::Mac, site);
    }
    // noted last: where S71 stands depends on the values before it
    if (site.wrongNumber) {
      Note("batch.message-number", site.number, 71, site.DataAt(71, 0), "S71 five more than its number");
    }

    // then the text
    site.text = BuildMessage(message.mti, message.elements, &site.starts);
    Inject(Stage::Text, site);
    site.padded = site.text;
    if (site.padded.size() < kRecordLength - 2) site.padded.append(kRecordLength - 2 - site.padded.size(), ' ');
    Inject(Stage::Padding, site);
    std::string& padded = site.padded;
    padded += "\r\n";
    if (site.cutAt != std::string::npos) {
      padded.resize(site.cutAt);
      cut_ = true;
      cutRecord_ = record.number;
    }
    if (inRange && !site.Is(Kind::Trailer)) mac_.Feed(padded);
    out_ += padded;
    ++next_;
    // a copy of a transaction that holds a fault would hold it too
    if (site.IsTransaction() && site.faults == 0) {
      lastTransaction_ = message;
      lastTransactionRecord_ = record.number;
    }
    if (site.Is(Kind::Totals)) {
      ++batch_;
      batchFirst_ = next_;
    }
    if (out_.size() >= 255 * kRecordLength) Drain();
  }
  void Drain() {
    offset_ += static_cast<std::int64_t>(out_.size());
    summary_.bytes += out_.size();
    sink_(out_);
    out_.clear();
  }

  const FileOptions& options_;
  const std::function<void(std::string_view)>& sink_;
  Random random_;
  std::mt19937 chipRandom_;  // apart from random_, so that chip data leaves the rest of the file as it was
  NspMac mac_;
  FileSummary summary_;
  struct Pending {
    Fault fault;
    bool done = false;
    std::string blockedBy;  // why the last record that suits it could not take it
  };
  std::vector<Pending> pending_;
  std::set<std::int64_t> named_;        // the records faults name
  std::vector<Placed> placed_;          // as they went in
  std::vector<std::int64_t> notedBatch_;  // the batch of each fault in summary_.injected
  std::int64_t batch_ = 1;              // counted from 1; the file header counts with the first
  std::int64_t batchFirst_ = 1;         // the batch's first record
  std::int64_t batchTotals_ = 0;        // its totals record, 0: not known yet
  std::string out_;
  std::int64_t offset_ = 0;  // of out_'s first byte
  std::int64_t next_ = 1;    // the next record's number
  bool cut_ = false;
  std::int64_t cutRecord_ = 0;
  std::string securityKcv_;
  std::array<std::uint64_t, 5> counts_{};   // S74 S75 S76 S77 S81
  std::array<std::uint64_t, 4> amounts_{};  // S86 S87 S88 S89
  std::optional<Message> lastTransaction_;
  std::int64_t lastTransactionRecord_ = 0;
};

std::span<const Generator::FaultSpec> Generator::Faults() {
  constexpr Kinds kNotTheFileHeader = kAnyKind & ~Of(Kind::FileHeader);
  constexpr Kinds kNotTheTrailer = kAnyKind & ~Of(Kind::Trailer);
  constexpr Kinds kFileHeader = Of(Kind::FileHeader);
  constexpr Kinds kTotals = Of(Kind::Totals);
  constexpr Kinds kTrailer = Of(Kind::Trailer);
  using G = Generator;
  static constexpr FaultSpec kTable[] = {
      {"mac.kcv", Stage::Kcv, kAnyKind, kAnyKind, &G::OtherKeysCheckValue},
      {"envelope.mac-header", Stage::MacHeader, kAnyKind, kAnyKind, &G::ZInTheHeadersCheckValue},
      {"envelope.file-header", Stage::AfterHeader, kAnyKind, kAnyKind, &G::NineBeforeTheFileHeader},
      {"batch.message-number", Stage::Number, kNotTheFileHeader, kTransaction, &G::NumberFiveAhead},
      {"batch.duplicate", Stage::Values, kTransaction, kAnyKind, &G::CopyOfTheLastTransaction, true},
      {"element.pan-luhn", Stage::Values, kTransaction, kAnyKind, &G::CardNumbersLastDigitChanged},
      {"element.currency", Stage::Values, kTransaction, kAnyKind, &G::NoSuchCurrency},
      {"element.track2-mismatch", Stage::Values, kTransaction, kAnyKind, &G::TrackTwoExpiresLater},
      {"element.not-numeric", Stage::Values, kAnyKind, kTransaction, &G::XInANumericElement},
      {"element.date", Stage::Values, kNotTheTrailer, kTransaction, &G::MonthThirteen},
      {"envelope.trailer-mac", Stage::Values, kTrailer, kAnyKind, &G::TrailerWithS72},
      {"envelope.kcv-mismatch", Stage::Values, kFileHeader, kAnyKind, &G::FileHeadersCheckValueChanged},
      {"emv.amount", Stage::Chip, kTransaction, kAnyKind, &G::ChipAmountOneMore},
      {"emv.currency", Stage::Chip, kTransaction, kAnyKind, &G::ChipCurrencyOther},
      {"emv.date", Stage::Chip, kTransaction, kAnyKind, &G::ChipDateDayLater},
      {"emv.pan", Stage::Chip, kTransaction, kAnyKind, &G::ChipCardNumberChanged},
      {"emv.cryptogram", Stage::Chip, kTransaction, kAnyKind, &G::ChipWithoutCryptogram},
      // last: the others rewrite the chip data whole
      {"emv.tlv", Stage::Chip, kTransaction, kAnyKind, &G::ChipRunsPastItsEnd},
      {"batch.totals", Stage::Totals, kTotals, kAnyKind, &G::CreditsOneMore},
      {"mac.mismatch", Stage::Mac, kTrailer, kAnyKind, &G::DeclaredMacChanged},
      {"message.bad-prefix", Stage::Text, kAnyKind, kTransaction, &G::AInALengthPrefix},
      {"message.bitmap-char", Stage::Text, kAnyKind, kTransaction, &G::LowerCaseInABitmap},
      {"message.no-secondary-bit", Stage::Text, kAnyKind, kTransaction, &G::SecondaryBitCleared},
      {"message.truncated", Stage::Text, kAnyKind, kTrailer, &G::FileEndsInside},
      {"message.stray-text", Stage::Padding, kAnyKind, kTransaction, &G::XyzInThePadding},
      {"envelope.trailer-missing", Stage::Trailer, kAnyKind, kAnyKind, &G::NoTrailer},
      {"envelope.trailer-not-last", Stage::AfterTrailer, kAnyKind, kAnyKind, &G::TransactionAfterTheTrailer},
  };
  return kTable;
}

}  // namespace

int PrefixDigits(int element) {
  if (InRanges(element, kLLElements)) return 2;
  if (InRanges(element, kLLLElements)) return 3;
  return 0;
}

std::string EncodeBitmaps(const std::map<int, std::string>& elements) {
  int bits[129] = {};
  for (const auto& [element, value] : elements) {
    if (element >= 2 && element <= 128 && element != 64) bits[element] = 1;
    if (element > 64 && element <= 128) bits[1] = 1;
  }
  std::string maps;
  for (int first = 1; first <= 128; first += 4) {
    maps += kHex[bits[first] * 8 + bits[first + 1] * 4 + bits[first + 2] * 2 + bits[first + 3]];
  }
  return maps;
}

std::string BuildRawMessage(std::string_view mti, const std::map<int, std::string>& elements) {
  std::string message(mti);
  message += EncodeBitmaps(elements);
  for (const auto& [element, value] : elements) {
    if (element >= 2 && element <= 128 && element != 64) message += value;
  }
  return message;
}

std::string BuildMessage(std::string_view mti, const std::map<int, std::string>& elements,
                         std::map<int, std::size_t>* starts) {
  std::map<int, std::string> raw;
  for (const auto& [element, value] : elements) {
    const int digits = PrefixDigits(element);
    raw[element] = digits == 0 ? value : Padded(value.size(), digits) + value;
  }
  if (starts != nullptr) {
    starts->clear();
    std::size_t at = mti.size() + 32;
    for (const auto& [element, value] : raw) {
      if (element < 2 || element > 128 || element == 64) continue;
      (*starts)[element] = at;
      at += value.size();
    }
  }
  return BuildRawMessage(mti, raw);
}

const std::vector<std::string_view>& InjectableFaults() {
  static const std::vector<std::string_view> ids = [] {
    std::vector<std::string_view> rules;
    for (const auto& spec : Generator::Faults()) rules.push_back(spec.rule);
    return rules;
  }();
  return ids;
}

FileSummary GenerateFile(const FileOptions& options, const std::function<void(std::string_view)>& sink) {
  return Generator(options, sink).Run();
}

std::string GenerateFileBytes(const FileOptions& options, FileSummary* summary) {
  std::string bytes;
  const FileSummary made = GenerateFile(options, [&bytes](std::string_view piece) { bytes.append(piece); });
  if (summary != nullptr) *summary = made;
  return bytes;
}

bool WriteGeneratedFile(const std::filesystem::path& path, const FileOptions& options, FileSummary* summary) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  // Written beside the file and renamed over it once whole: a call that
  // fails leaves what stood at the path as it was.
  std::string temporary = path.string() + ".partial-XXXXXX";
  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return false;
  std::unique_ptr<std::FILE, Closer> file(::fdopen(fd, "wb"));
  if (!file) {
    ::close(fd);
    ::unlink(temporary.c_str());
    return false;
  }
  bool written = true;
  const FileSummary made = GenerateFile(options, [&](std::string_view piece) {
    written = written && std::fwrite(piece.data(), 1, piece.size(), file.get()) == piece.size();
  });
  if (summary != nullptr) *summary = made;
  // the mode a file made by fopen gets
  const mode_t mask = ::umask(0);
  ::umask(mask);
  written = written && made.error.empty() && ::fchmod(fd, 0666 & ~mask) == 0 && std::fclose(file.release()) == 0;
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    file.reset();
    ::unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace kalvrin::filegen
