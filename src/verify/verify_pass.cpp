// The verify pass: framing as the format check frames a file, the message
// decoder for each message, and the rules over what they find.
#include "verify/verify_pass.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>

#include "iso/element_table.h"
#include "iso/format_rules.h"
#include "iso/message_decoder.h"
#include "io/transaction_file.h"
#include "iso/pan_mask.h"
#include "verify/element_rules.h"
#include "verify/mac_rules.h"

namespace kalvrin::verify {

namespace {

constexpr std::int64_t kMacHeaderSize = 60;
constexpr std::int64_t kMethodAt = 41;   // in the MAC header record: method, version, key check value
constexpr std::int64_t kTrailerFunctionCodeAt = 36;  // from the trailer's MTI, where the MAC check reads them
constexpr std::int64_t kTrailerMacAt = 47;
constexpr int kFunctionCode = 24;
constexpr int kSecurity = 53;
constexpr int kMessageNumber = 71;
constexpr int kMac = 128;

bool IsHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsUpperHex(char c) { return IsDigit(c) || (c >= 'A' && c <= 'F'); }

std::string Quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

bool SameHex(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

const DecodedElement* FindElement(const DecodedMessage& message, int number) {
  for (const DecodedElement& element : message.elements) {
    if (element.number == number) return &element;
  }
  return nullptr;
}

const DecodedElement* Complete(const DecodedMessage& message, int number) {
  const DecodedElement* element = FindElement(message, number);
  return element != nullptr && element->complete ? element : nullptr;
}

// The file read front to back in large blocks for the gaps between
// messages. A stretch the file system holds as a hole reads as NUL bytes,
// which are control characters and skipped anyway: it is stepped over
// without reading it.
class BlockReader {
 public:
  explicit BlockReader(std::string_view path) : file_(OpenStream(path, size_)) {
    if (file_ != nullptr) block_ = std::make_unique<char[]>(kBlock);
  }
  ~BlockReader() {
    if (file_ != nullptr) std::fclose(file_);
  }
  BlockReader(const BlockReader&) = delete;
  BlockReader& operator=(const BlockReader&) = delete;

  // The shared read-only open, as a stream.
  static std::FILE* OpenStream(std::string_view path, std::int64_t& size) {
    const int fd = OpenTransactionFile(path, size);
    if (fd < 0) return nullptr;
    std::FILE* stream = ::fdopen(fd, "rb");
    if (stream == nullptr) ::close(fd);
    return stream;
  }

  bool IsOpen() const { return file_ != nullptr; }
  bool Failed() const { return failed_; }
  std::int64_t Size() const { return size_; }

  void Seek(std::int64_t offset) {
    if (offset >= start_ && offset <= start_ + length_) {
      at_ = static_cast<std::size_t>(offset - start_);
    } else {
      start_ = offset;
      length_ = 0;
      at_ = 0;
    }
  }
  std::int64_t Offset() const { return start_ + static_cast<std::int64_t>(at_); }

  // The unread bytes of the block, refilled when none are left; empty at
  // the end of the file.
  std::string_view Peek() {
    if (at_ == static_cast<std::size_t>(length_)) Refill();
    return {block_.get() + at_, static_cast<std::size_t>(length_) - at_};
  }
  void Skip(std::size_t count) { at_ += count; }

  // At a NUL byte whose block holds nothing else after it: moves to the
  // file's next data, past the hole.
  void SkipHole() {
    const std::int64_t from = start_ + length_;
    const off_t data = ::lseek(::fileno(file_), static_cast<off_t>(from), SEEK_DATA);
    std::int64_t next = from;
    if (data >= 0) {
      next = static_cast<std::int64_t>(data);
    } else if (errno == ENXIO) {
      next = size_;  // nothing but a hole up to the end
    }
    start_ = std::max(from, next);
    length_ = 0;
    at_ = 0;
  }

 private:
  static constexpr std::size_t kBlock = 256 * 1024;

  void Refill() {
    start_ += length_;
    length_ = 0;
    at_ = 0;
    if (failed_ || fseeko(file_, static_cast<off_t>(start_), SEEK_SET) != 0) {
      failed_ = true;
      return;
    }
    length_ = static_cast<std::int64_t>(std::fread(block_.get(), 1, kBlock, file_));
    if (std::ferror(file_) != 0) failed_ = true;
  }

  std::FILE* file_;
  std::int64_t size_ = 0;
  std::unique_ptr<char[]> block_;
  std::int64_t start_ = 0;
  std::int64_t length_ = 0;
  std::size_t at_ = 0;
  bool failed_ = false;
};

// What the gap after a message holds: where the next message starts (-1 at
// the end of the file) and the first character that is neither padding nor
// part of that message's MTI (-1 when there is none).
struct Gap {
  std::int64_t next = -1;
  std::int64_t stray = -1;
};

// The last trailer seen, for the checks of its layout at the end.
struct TrailerFacts {
  std::int64_t record = 0;
  std::int64_t offset = -1;
  bool complete = false;
  std::vector<std::pair<int, std::int64_t>> elements;  // number and first byte
  std::string mac;
  std::int64_t macOffset = -1;
};

class Pass {
 public:
  Pass(std::string_view path, const VerifyOptions& options, FindingSink& sink)
      : path_(path), options_(options), rules_(options.rules), sink_(sink), reader_(path), scan_(path) {}

  VerifySummary Run() {
    if (!reader_.IsOpen() || !scan_.IsOpen()) {
      summary_.error = "cannot open the file (it must be a readable regular file)";
      return std::move(summary_);
    }
    summary_.read = true;
    summary_.bytes = reader_.FileSize();
    progressStep_ = std::max<std::int64_t>(1, summary_.bytes / 4096);
    const std::int64_t start = CheckEnvelope();
    ReadMessages(start);
    if (summary_.stopped) return std::move(summary_);
    if (scan_.Failed() || reader_.ReadFailed()) {
      summary_.read = false;
      summary_.error = "cannot read the file to its end";
      return std::move(summary_);
    }
    Finish();
    if (summary_.stopped) return std::move(summary_);
    CheckMac();
    summary_.duplicateIndexBytes = duplicates_.Bytes();
    if (options_.progress) options_.progress(summary_.bytes, summary_.bytes);
    return std::move(summary_);
  }

 private:
  void Report(Rule rule, std::int64_t record, std::int64_t offset, int element, std::string message,
              std::optional<std::string> declared = std::nullopt, std::optional<std::string> computed = std::nullopt) {
    if (!rules_.Enabled(rule)) return;
    const RuleInfo& info = InfoOf(rule);
    if (!cardNumbers_.empty()) {
      MaskQuotedCardNumbers(message, cardNumbers_);
      if (declared) MaskQuotedCardNumbers(*declared, cardNumbers_);
      if (computed) MaskQuotedCardNumbers(*computed, cardNumbers_);
    }
    Finding finding{info.id, info.severity, record, offset, element, std::move(message), std::move(declared),
                    std::move(computed)};
    (info.severity == Severity::Error ? summary_.errors : summary_.warnings) += 1;
    sink_.OnFinding(finding);
  }

  bool Progress(std::int64_t done) {
    if (!options_.progress || done < nextProgress_) return true;
    nextProgress_ = done + progressStep_;
    if (!options_.progress(done, summary_.bytes)) summary_.stopped = true;
    return !summary_.stopped;
  }

  // The offset of the index-th character (control characters not counted)
  // from `from` on.
  std::int64_t OffsetOfCharacter(std::int64_t from, std::size_t index) {
    for (std::int64_t at = from;; ++at) {
      const int byte = reader_.ByteAt(at);
      if (byte < 0) return from;
      if (IsControl(static_cast<char>(byte))) continue;
      if (index-- == 0) return at;
    }
  }

  std::int64_t OffsetInValue(const DecodedElement& element, std::size_t index) {
    return OffsetOfCharacter(element.span.offset, element.prefix.size() + index);
  }

  // ---- envelope -----------------------------------------------------------

  // Checks the MAC header record and the file header test; returns where
  // reading starts.
  std::int64_t CheckEnvelope() {
    const std::string header = reader_.ReadBytes(0, kMacHeaderSize);
    headerRecord_ = header;
    const std::int64_t size = summary_.bytes;
    if (size < kMacHeaderSize) {
      Report(Rule::MacHeader, kNoRecord, kNoOffset, kNoElement,
             "the file has " + std::to_string(size) + " bytes, fewer than the 60 of a MAC header record");
    } else {
      std::int64_t bad = -1;
      std::string_view what;
      if (!IsDigit(header[kMethodAt])) {
        bad = kMethodAt;
        what = "its MAC method (byte 41) is not a digit";
      } else if (!IsDigit(header[42]) || !IsDigit(header[43])) {
        bad = IsDigit(header[42]) ? 43 : 42;
        what = "its MAC version (bytes 42-43) is not two digits";
      } else {
        for (std::int64_t at = 44; at < 52 && bad < 0; ++at) {
          if (!IsHex(header[static_cast<std::size_t>(at)])) {
            bad = at;
            what = "its key check value (bytes 44-51) is not eight hex digits";
          }
        }
      }
      if (bad >= 0) {
        Report(Rule::MacHeader, kNoRecord, bad, kNoElement,
               "MAC header record " + Quoted(header.substr(41, 11)) + ": " + std::string(what));
      } else {
        headerValid_ = true;
      }
    }

    // The MAC check's file header test: the first digit after the record and
    // the three bytes after it, as they are.
    std::int64_t digit = -1;
    for (std::int64_t at = kMacHeaderSize; at < size; ++at) {
      const int byte = reader_.ByteAt(at);
      if (byte < 0) break;
      if (IsDigit(static_cast<char>(byte))) {
        digit = at;
        break;
      }
    }
    if (digit < 0) {
      Report(Rule::FileHeader, kNoRecord, kNoOffset, kNoElement,
             "no digit follows the MAC header record, so no 1644 file header");
      return 0;
    }
    const std::string mti = reader_.ReadBytes(digit, 4);
    if (mti != "1644") {
      Report(Rule::FileHeader, kNoRecord, digit, kNoElement,
             "the first digit after the MAC header record begins " + Quoted(mti) +
                 ", not the 1644 file header (File Header not found)");
      return 0;
    }
    return digit;
  }

  // ---- framing --------------------------------------------------------------

  // From `from` (no MTI digits pending) to the next recognised MTI.
  Gap ScanGap(std::int64_t from) {
    Gap gap;
    scan_.Seek(from);
    std::array<std::int64_t, kMtiLength> digitAt{};
    std::array<char, kMtiLength> digits{};
    int count = 0;
    auto stray = [&gap](std::int64_t at) {
      if (gap.stray < 0) gap.stray = at;
    };
    for (std::string_view block = scan_.Peek(); !block.empty(); block = scan_.Peek()) {
      const std::int64_t base = scan_.Offset();
      if (!Progress(base)) return gap;
      for (std::size_t i = 0; i < block.size(); ++i) {
        const char c = block[i];
        if (IsControl(c)) {
          if (c == '\0' && std::all_of(block.begin() + static_cast<std::ptrdiff_t>(i), block.end(),
                                       [](char b) { return b == '\0'; })) {
            scan_.Skip(block.size());
            scan_.SkipHole();
            break;
          }
          continue;
        }
        if (!IsDigit(c)) {
          if (count > 0) stray(digitAt[0]);
          count = 0;
          if (c != ' ') {
            stray(base + static_cast<std::int64_t>(i));
          } else {
            while (i + 1 < block.size() && block[i + 1] == ' ') ++i;  // padding comes in long runs
          }
          continue;
        }
        digits[static_cast<std::size_t>(count)] = c;
        digitAt[static_cast<std::size_t>(count++)] = base + static_cast<std::int64_t>(i);
        if (count < kMtiLength) continue;
        if (IsMessageType(TextToNumber(std::string_view(digits.data(), digits.size())))) {
          gap.next = digitAt[0];
          return gap;
        }
        stray(digitAt[0]);  // a digit that opens no message is text like any other
        std::copy(digits.begin() + 1, digits.end(), digits.begin());
        std::copy(digitAt.begin() + 1, digitAt.end(), digitAt.begin());
        count = kMtiLength - 1;
      }
      if (scan_.Offset() == base) scan_.Skip(block.size());
    }
    if (count > 0) stray(digitAt[0]);
    return gap;
  }

  // After a bad prefix: an MTI at the start of a line after it, or -1.
  std::int64_t LineStartMessage(std::int64_t from) {
    if (noLineStartFrom_ >= 0 && from >= noLineStartFrom_) return -1;
    scan_.Seek(from);
    bool lineStart = false;
    std::array<char, kMtiLength> digits{};
    std::int64_t first = -1;
    int count = 0;
    for (std::string_view block = scan_.Peek(); !block.empty(); block = scan_.Peek()) {
      const std::int64_t base = scan_.Offset();
      for (std::size_t i = 0; i < block.size(); ++i) {
        const char c = block[i];
        if (c == '\n' || c == '\r') {
          lineStart = true;
          count = 0;
          continue;
        }
        if (IsControl(c) || !lineStart) continue;
        if (!IsDigit(c)) {
          lineStart = false;
          count = 0;
          continue;
        }
        if (count == 0) first = base + static_cast<std::int64_t>(i);
        digits[static_cast<std::size_t>(count++)] = c;
        if (count < kMtiLength) continue;
        if (IsMessageType(TextToNumber(std::string_view(digits.data(), digits.size())))) return first;
        lineStart = false;
        count = 0;
      }
      scan_.Skip(block.size());
    }
    noLineStartFrom_ = from;
    return -1;
  }

  void ReadMessages(std::int64_t start) {
    std::int64_t from = start;
    bool previousComplete = false;
    for (;;) {
      const Gap gap = ScanGap(from);
      if (summary_.stopped || scan_.Failed()) return;
      if (gap.stray >= 0 && previousComplete) {
        const std::string text = reader_.ReadBytes(gap.stray, 16);
        std::string shown;
        for (const char c : text) {
          if (IsControl(c)) break;
          shown += c;
        }
        Report(Rule::StrayText, record_, gap.stray, kNoElement,
               "text " + Quoted(shown) + " after the message is neither padding nor a message");
      }
      if (gap.next < 0) return;
      DecodedMessage message = reader_.Decode(gap.next);
      if (message.stop == DecodeStop::CannotRead) return;
      ++record_;
      Check(message);
      previousComplete = message.stop == DecodeStop::Complete;
      if (message.stop == DecodeStop::EndOfFile) return;
      if (message.stop == DecodeStop::BadPrefix) {
        const DecodedElement& bad = message.elements.back();
        const std::int64_t afterPrefix = bad.span.offset + bad.span.bytes;
        const std::int64_t resume = LineStartMessage(afterPrefix);
        from = resume >= 0 ? resume : afterPrefix;
      } else {
        from = message.span.offset + message.span.bytes;
      }
    }
  }

  // ---- one message ------------------------------------------------------------

  void Check(const DecodedMessage& message) {
    const std::int64_t record = record_;
    if (options_.maskCardNumbers) cardNumbers_ = CardNumbersIn(message);
    ++summary_.messages;
    ++summary_.messagesByType[message.mti];
    const bool complete = message.stop == DecodeStop::Complete;

    if (trailerSeen_ && !reportedAfterTrailer_) {
      Report(Rule::TrailerNotLast, record, message.span.offset, kNoElement,
             "message " + message.mti + " follows the trailer at record " + std::to_string(trailer_.record));
      reportedAfterTrailer_ = true;
    }

    CheckBitmaps(message, record);

    if (message.stop == DecodeStop::BadPrefix) {
      const DecodedElement& bad = message.elements.back();
      const ElementLayout layout = kElementLayouts[static_cast<std::size_t>(bad.number)];
      const bool digits = std::all_of(bad.prefix.begin(), bad.prefix.end(), IsDigit);
      Report(Rule::BadPrefix, record, message.errorOffset, bad.number,
             "length prefix " + Quoted(bad.prefix) + " of " + ElementName(bad.number) +
                 (digits ? " announces more than its maximum " + std::to_string(layout.maxLength)
                         : std::string(" is not a number")) +
                 "; the format check stops here with \"" + message.error + "\"");
    } else if (message.stop == DecodeStop::EndOfFile) {
      const DecodedElement* cut = message.elements.empty() || message.elements.back().complete
                                      ? nullptr
                                      : &message.elements.back();
      if (cut != nullptr) {
        Report(Rule::Truncated, record, cut->span.offset >= 0 ? cut->span.offset : message.span.offset, cut->number,
               "the file ends inside " + ElementName(cut->number) + " of this " + message.mti + " message (" +
                   std::to_string(cut->value.size()) + " of its " + std::to_string(cut->length) +
                   " characters there)");
      } else {
        Report(Rule::Truncated, record, message.span.offset, kNoElement,
               "the file ends inside the MTI and bitmaps of this " + message.mti + " message");
      }
    }

    const DecodedElement* functionCode = Complete(message, kFunctionCode);
    const bool isTrailer = message.mti == "1844" && functionCode != nullptr && functionCode->value == "971";
    if (isTrailer) {
      if (trailerSeen_ && !reportedAfterTrailer_) {
        Report(Rule::TrailerNotLast, record, message.span.offset, kNoElement,
               "a second trailer: one stands at record " + std::to_string(trailer_.record));
      }
      NoteTrailer(message, record, complete);
    }

    if (record == 1 && message.mti == "1644" && complete) CheckSecurity(message);

    if (!complete) {
      Broken(record);
      return;
    }
    CheckElements(message, rules_, [&](ElementFault fault) {
      const DecodedElement* element = FindElement(message, fault.element);
      Report(fault.rule, record, element != nullptr ? OffsetInValue(*element, fault.index) : message.span.offset,
             fault.element, std::move(fault.message), std::move(fault.declared), std::move(fault.computed));
    }, options_.maskCardNumbers);
    CheckNumber(message, record);
    CheckDuplicate(message, record);
    CountTotals(message, record);
  }

  void CheckBitmaps(const DecodedMessage& message, std::int64_t record) {
    std::string bad;
    std::int64_t first = -1;
    int firstIndex = -1;
    const std::string both = message.primaryBitmap + message.secondaryBitmap;
    for (std::size_t i = 0; i < both.size(); ++i) {
      if (IsUpperHex(both[i])) continue;
      if (firstIndex < 0) firstIndex = static_cast<int>(i);
      bad += both[i];
    }
    if (firstIndex >= 0) {
      const std::size_t index = static_cast<std::size_t>(firstIndex);
      first = index < 16 ? OffsetOfCharacter(message.primarySpan.offset, index)
                         : OffsetOfCharacter(message.secondarySpan.offset, index - 16);
      const bool lower = std::all_of(bad.begin(), bad.end(), [](char c) { return c >= 'a' && c <= 'f'; });
      Report(Rule::BitmapChar, record, first, kNoElement,
             std::string(index < 16 ? "primary" : "secondary") + " bitmap " +
                 Quoted(index < 16 ? message.primaryBitmap : message.secondaryBitmap) + " holds " + Quoted(bad) +
                 (lower ? ": lower-case digits mark no elements, so elements " : ": these mark no elements, so elements ") +
                 std::to_string(1 + 4 * (firstIndex % 16) + (index < 16 ? 0 : 64)) + "-" +
                 std::to_string(4 + 4 * (firstIndex % 16) + (index < 16 ? 0 : 64)) + " are not read");
    }
    if (message.primaryBitmap.size() == static_cast<std::size_t>(kBitmapLength) &&
        IsUpperHex(message.primaryBitmap[0]) && (BitmapBits(message.primaryBitmap[0]) & 8) == 0) {
      Report(Rule::NoSecondaryBit, record, message.primarySpan.offset, kNoElement,
             "bit 1 of primary bitmap " + Quoted(message.primaryBitmap) +
                 " is clear, yet the secondary bitmap " + Quoted(message.secondaryBitmap) + " follows");
    }
  }

  void NoteTrailer(const DecodedMessage& message, std::int64_t record, bool complete) {
    trailerSeen_ = true;
    reportedAfterTrailer_ = false;
    trailer_ = TrailerFacts{};
    trailer_.record = record;
    trailer_.offset = message.span.offset;
    trailer_.complete = complete;
    for (const DecodedElement& element : message.elements) {
      trailer_.elements.emplace_back(element.number, element.span.offset);
      if (element.number == kMac && element.complete) {
        trailer_.mac = element.value;
        trailer_.macOffset = element.span.offset;
      }
    }
  }

  void CheckSecurity(const DecodedMessage& header) {
    const DecodedElement* security = Complete(header, kSecurity);
    if (security == nullptr || !headerValid_) return;
    const std::string declared = security->value.substr(0, 11);
    const std::string record = headerRecord_.substr(kMethodAt, 11);
    const bool same = declared.size() == 11 && declared.substr(0, 3) == record.substr(0, 3) &&
                      SameHex(declared.substr(3), record.substr(3));
    if (same) return;
    std::size_t differs = 0;
    while (differs < declared.size() && differs < record.size() &&
           (differs < 3 ? declared[differs] == record[differs] : SameHex(declared.substr(differs, 1), record.substr(differs, 1)))) {
      ++differs;
    }
    Report(Rule::KcvMismatch, 1, OffsetInValue(*security, std::min(differs, security->value.size())), kSecurity,
           "the file header's P53 declares method, version and key check value " + Quoted(declared) +
               ", the MAC header record " + Quoted(record),
           declared, record);
  }

  // ---- batch --------------------------------------------------------------------

  void Broken(std::int64_t record) {
    numbers_.Unknown();
    if (batchBroken_ == 0) batchBroken_ = record;
    if (fileBroken_ == 0) fileBroken_ = record;
  }

  void CheckNumber(const DecodedMessage& message, std::int64_t record) {
    const DecodedElement* number = Complete(message, kMessageNumber);
    const std::optional<Sum> value = number != nullptr ? ParseSum(number->value) : std::nullopt;
    if (!value || *value > 0xFFFFFFFFFFFFull) {
      numbers_.Unknown();
      return;
    }
    const auto v = static_cast<std::uint64_t>(*value);
    const std::optional<std::uint64_t> expected = numbers_.Next(v);
    if (!expected) return;
    std::string text = std::to_string(*expected);
    if (text.size() < number->value.size()) text.insert(0, number->value.size() - text.size(), '0');
    std::string found = "S71 " + Quoted(number->value) + " breaks the sequence: " + Quoted(text) + " expected";
    if (v > *expected) found += " (a wrong number, or " + std::to_string(v - *expected) + " messages missing)";
    Report(Rule::MessageNumber, record, OffsetInValue(*number, 0), kMessageNumber, std::move(found),
           number->value, text);
  }

  void CheckDuplicate(const DecodedMessage& message, std::int64_t record) {
    if (message.mti != "1140" && message.mti != "1240" && message.mti != "1440") return;
    if (!rules_.Enabled(Rule::Duplicate)) return;
    auto value = [&message](int number) -> std::string_view {
      const DecodedElement* element = Complete(message, number);
      return element != nullptr ? std::string_view(element->value) : std::string_view("\x01");
    };
    const std::uint64_t hash = KeyHash({message.mti, value(2), value(11), value(12), value(37)});
    const std::int64_t earlier = duplicates_.Insert(hash, record);
    if (earlier == 0) return;
    const std::string pan = options_.maskCardNumbers ? MaskPan(value(2)) : std::string(value(2));
    Report(Rule::Duplicate, record, message.span.offset, kNoElement,
           "this " + message.mti + " repeats record " + std::to_string(earlier) + " (P2 " + Quoted(pan) +
               ", P11 " + Quoted(value(11)) + ", P12 " + Quoted(value(12)) + ", P37 " + Quoted(value(37)) + ")");
  }

  void CountTotals(const DecodedMessage& message, std::int64_t record) {
    if (message.mti == "1140" || message.mti == "1240" || message.mti == "1440") {
      const DecodedElement* code = Complete(message, 3);
      const DecodedElement* amount = Complete(message, 4);
      const std::optional<Sum> value = amount == nullptr ? std::optional<Sum>(0) : ParseSum(amount->value);
      const std::string_view processing = code != nullptr ? std::string_view(code->value) : std::string_view();
      batch_.Add(message.mti, processing, value);
      file_.Add(message.mti, processing, value);
    }
    bool carries = false;
    for (const DecodedElement& element : message.elements) carries = carries || IsTotalElement(element.number);
    if (carries) JudgeTotals(message, record);
  }

  void JudgeTotals(const DecodedMessage& message, std::int64_t record) {
    BatchSummary batch;
    batch.totalsRecord = record;
    batch.computed = batch_;
    std::array<std::optional<Sum>, kTotalElements.size()> declared;
    for (std::size_t i = 0; i < kTotalElements.size(); ++i) {
      const DecodedElement* element = Complete(message, kTotalElements[i]);
      if (element == nullptr) continue;
      batch.declared[i] = element->value;
      declared[i] = ParseSum(element->value);
    }
    if (batchBroken_ != 0) {
      batch.notJudged = "record " + std::to_string(batchBroken_) + " of the batch could not be read in full";
    } else {
      // one reading for the whole message: the one more of its values fit
      int batchFits = 0;
      int fileFits = 0;
      for (std::size_t i = 0; i < declared.size(); ++i) {
        if (!declared[i]) continue;
        batchFits += *declared[i] == batch_.values[i];
        fileFits += *declared[i] == file_.values[i];
      }
      const bool cumulative = fileBroken_ == 0 && fileFits > batchFits;
      batch.cumulative = cumulative;
      const Totals& computed = cumulative ? file_ : batch_;
      for (std::size_t i = 0; i < declared.size(); ++i) {
        if (!declared[i] || *declared[i] == computed.values[i]) continue;
        if (i >= kCreditAmount && !computed.amountsKnown) continue;
        const DecodedElement* element = Complete(message, kTotalElements[i]);
        Report(Rule::Totals, record, OffsetInValue(*element, 0), kTotalElements[i],
               ElementName(kTotalElements[i]) + " declares " + element->value + ", the " +
                   (cumulative ? "file's transactions since the file header give " : "batch's transactions give ") +
                   SumText(computed.values[i]),
               element->value, SumText(computed.values[i]));
      }
      if (!computed.amountsKnown) batch.notJudged = "amounts not judged: a P4 of the batch is not a number";
    }
    AddBatch(std::move(batch));
    batch_ = Totals{};
    batchBroken_ = 0;
  }

  void AddBatch(BatchSummary batch) {
    if (summary_.batches.size() < kMaxBatchesListed) {
      summary_.batches.push_back(std::move(batch));
    } else {
      ++summary_.batchesNotListed;
    }
  }

  // ---- the end of the file -------------------------------------------------------

  void Finish() {
    const bool openBatch = std::any_of(batch_.values.begin(), batch_.values.end(), [](Sum v) { return v != 0; });
    if (openBatch) {
      BatchSummary batch;
      batch.computed = batch_;
      batch.notJudged = "no message with totals closes these transactions";
      AddBatch(std::move(batch));
    }
    if (!trailerSeen_) {
      Report(Rule::TrailerMissing, kNoRecord, kNoOffset, kNoElement, "no 1844 message with function code 971");
      return;
    }
    if (!trailer_.complete) return;  // its own finding says why
    CheckTrailerLayout();
  }

  void CheckTrailerLayout() {
    const TrailerFacts& t = trailer_;
    const std::int64_t record = t.record;
    for (const auto& [number, offset] : t.elements) {
      if (number == kFunctionCode || number == kMessageNumber || number == kMac) continue;
      Report(Rule::TrailerMac, record, offset, number,
             "the trailer carries " + ElementName(number) +
                 " beyond P24, S71 and S128, so the MAC check reads its function code and MAC at the wrong bytes");
      return;
    }
    const auto at = [&t](int number) -> std::int64_t {
      for (const auto& [n, offset] : t.elements) {
        if (n == number) return offset;
      }
      return -1;
    };
    const std::int64_t functionCode = at(kFunctionCode) - t.offset;
    if (functionCode != kTrailerFunctionCodeAt) {
      Report(Rule::TrailerMac, record, at(kFunctionCode), kFunctionCode,
             "the trailer's P24 stands " + std::to_string(functionCode) + " bytes after its MTI, not 36 where the MAC check reads it");
      return;
    }
    if (t.macOffset < 0) {
      Report(Rule::TrailerMac, record, t.offset, kMac, "the trailer has no S128, so it declares no MAC");
      return;
    }
    if (t.macOffset - t.offset != kTrailerMacAt) {
      Report(Rule::TrailerMac, record, t.macOffset, kMac,
             "the trailer's S128 stands " + std::to_string(t.macOffset - t.offset) +
                 " bytes after its MTI, not 47 where the MAC check reads it");
      return;
    }
    const auto bad = std::find_if_not(t.mac.begin(), t.mac.end(), IsHex);
    if (bad != t.mac.end()) {
      Report(Rule::TrailerMac, record, OffsetOfCharacter(t.macOffset, static_cast<std::size_t>(bad - t.mac.begin())),
             kMac, "the trailer's MAC " + Quoted(t.mac) + " is not eight hex digits");
    }
  }

  void CheckMac() {
    MacSummary& mac = summary_.mac;
    if (options_.key.empty()) {
      mac.note = "MAC not checked: no --key";
      return;
    }
    if (!rules_.Enabled(Rule::MacKcv) && !rules_.Enabled(Rule::MacMismatch)) {
      mac.note = "MAC not checked: its rules are disabled";
      return;
    }
    const FileMacs macs = ComputeFileMacs(path_, options_.key, read_);
    if (!macs.computed) {
      mac.note = "MAC not computed: " + macs.failure;
      return;
    }
    mac.checked = true;
    mac.declared = macs.declared;
    mac.computed = macs.variants;
    const std::string headerKcv = headerRecord_.size() >= 52 ? headerRecord_.substr(44, 8) : std::string();
    if (!SameHex(macs.keyKcv, headerKcv)) {
      Report(Rule::MacKcv, kNoRecord, headerRecord_.size() >= 52 ? 44 : kNoOffset, kNoElement,
             "the key's check value " + macs.keyKcv + " is not the MAC header record's " + Quoted(headerKcv),
             headerKcv, macs.keyKcv);
      mac.note = "a wrong key: the MACs were not judged";
      return;
    }
    if (!macs.trailerFound) {
      mac.note = "no trailer declares a MAC";
      return;
    }
    if (trailerSeen_ && !trailer_.complete) {
      mac.note = "the trailer is cut short: its MAC was not judged";
      return;
    }
    for (std::size_t i = 0; i < macs.variants.size(); ++i) {
      if (macs.variants[i] == macs.declared) {
        mac.matched = kVariantNames[i];
        return;
      }
    }
    const bool here = trailerSeen_ && trailer_.macOffset >= 0;
    Report(Rule::MacMismatch, here ? trailer_.record : kNoRecord, here ? trailer_.macOffset : kNoOffset,
           here ? kMac : kNoElement,
           "declared MAC " + Quoted(macs.declared) + " equals none of MACALL " + macs.variants[0] + ", MACNHD " +
               macs.variants[1] + ", MACNSP " + macs.variants[2],
           macs.declared, std::nullopt);
  }

  std::string path_;
  const VerifyOptions& options_;
  const RuleSet& rules_;
  FindingSink& sink_;
  std::vector<std::string> cardNumbers_;  // of the message being checked, when findings mask them
  MessageReader reader_;
  BlockReader scan_;
  FileIdentity read_ = FileIdentity::Of(path_);  // the file the readers opened, for the MAC's own open
  VerifySummary summary_;
  std::int64_t progressStep_ = 1;
  std::int64_t nextProgress_ = 0;

  std::string headerRecord_;
  bool headerValid_ = false;
  std::int64_t record_ = 0;
  std::int64_t noLineStartFrom_ = -1;

  bool trailerSeen_ = false;
  bool reportedAfterTrailer_ = false;
  TrailerFacts trailer_;

  MessageNumbers numbers_;
  DuplicateIndex duplicates_;
  Totals batch_;
  Totals file_;
  std::int64_t batchBroken_ = 0;  // the first broken record of the open batch, 0 when none
  std::int64_t fileBroken_ = 0;
};

}  // namespace

VerifySummary VerifyFile(std::string_view path, const VerifyOptions& options, FindingSink& sink) {
  return Pass(path, options, sink).Run();
}

}  // namespace kalvrin::verify
