// Verify's reading of a file: a scan of the gaps between messages in large
// blocks, the message decoder for each message, and the format check's rule
// for where reading goes on after a bad length prefix.
#include "verify/message_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#include "io/transaction_file.h"
#include "iso/format_rules.h"
#include "mac/mac_envelope.h"
#include "verify/batch_rules.h"
#include "verify/finding_text.h"

namespace kalvrin::verify {

namespace {

constexpr int kFunctionCode = 24;

// Of a message the decoder found.
MessageBreak BreakOf(DecodeStop stop) {
  if (stop == DecodeStop::Complete) return MessageBreak::None;
  return stop == DecodeStop::BadPrefix ? MessageBreak::BadPrefix : MessageBreak::Truncated;
}

bool IsTrailer(const DecodedMessage& message) {
  const DecodedElement* functionCode = CompleteElement(message, kFunctionCode);
  return message.mti == "1844" && functionCode != nullptr && functionCode->value == "971";
}

bool CarriesTotals(const DecodedMessage& message) {
  return std::any_of(message.elements.begin(), message.elements.end(),
                     [](const DecodedElement& element) { return IsTotalElement(element.number); });
}

}  // namespace

const DecodedElement* FindElement(const DecodedMessage& message, int number) {
  for (const DecodedElement& element : message.elements) {
    if (element.number == number) return &element;
  }
  return nullptr;
}

const DecodedElement* CompleteElement(const DecodedMessage& message, int number) {
  const DecodedElement* element = FindElement(message, number);
  return element != nullptr && element->complete ? element : nullptr;
}

// The file read front to back in large blocks for the gaps between
// messages. A stretch the file system holds as a hole reads as NUL bytes,
// which are control characters and skipped anyway: it is stepped over
// without reading it.
class MessageFileReader::Scanner {
 public:
  explicit Scanner(std::string_view path) : file_(OpenStream(path, size_)) {
    if (file_ != nullptr) block_ = std::make_unique<char[]>(kBlock);
  }
  ~Scanner() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Scanner(const Scanner&) = delete;
  Scanner& operator=(const Scanner&) = delete;

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

  void SetFeed(std::function<void(std::string_view)> feed) { feed_ = std::move(feed); }

  // Hands the bytes before `end` that the feed has not had yet, read
  // again; stops feeding at a failed read, which the feed sees as bytes
  // missing at the end.
  void FeedTo(std::int64_t end) {
    if (!feed_ || fed_ >= end) return;
    if (!catchUp_) catchUp_ = std::make_unique<char[]>(kCatchUp);
    while (fed_ < end) {
      const auto want = static_cast<std::size_t>(std::min<std::int64_t>(end - fed_, kCatchUp));
      const ssize_t got = ::pread(::fileno(file_), catchUp_.get(), want, static_cast<off_t>(fed_));
      if (got <= 0) {
        feed_ = nullptr;
        return;
      }
      feed_(std::string_view(catchUp_.get(), static_cast<std::size_t>(got)));
      fed_ += got;
    }
  }

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
    if (feed_) Feed();
  }

  // The block's bytes the feed has not had, after those it skipped.
  void Feed() {
    FeedTo(start_);
    if (!feed_ || fed_ >= start_ + length_) return;
    const auto from = static_cast<std::size_t>(fed_ - start_);
    feed_(std::string_view(block_.get() + from, static_cast<std::size_t>(length_) - from));
    fed_ = start_ + length_;
  }

  static constexpr std::size_t kCatchUp = 64 * 1024;
  std::function<void(std::string_view)> feed_;
  std::unique_ptr<char[]> catchUp_;
  std::int64_t fed_ = 0;  // the bytes before it went to the feed

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
struct MessageFileReader::Gap {
  std::int64_t next = -1;
  std::int64_t stray = -1;
};

MessageFileReader::MessageFileReader(std::string_view path)
    : identity_(FileIdentity::Of(std::string(path))),
      path_(path),
      decoder_(path),
      scan_(std::make_unique<Scanner>(path)) {}

MessageFileReader::~MessageFileReader() = default;

bool MessageFileReader::IsOpen() const { return decoder_.IsOpen() && scan_->IsOpen(); }

std::int64_t MessageFileReader::Size() const { return decoder_.FileSize(); }

void MessageFileReader::SetByteObserver(std::function<void(std::string_view)> feed) {
  scan_->SetFeed(std::move(feed));
}

bool MessageFileReader::Failed() const { return scan_->Failed() || decoder_.ReadFailed(); }

bool MessageFileReader::Changed() const { return FileIdentity::Of(path_) != identity_; }

bool MessageFileReader::Progress(std::int64_t done) {
  if (done < nextProgress_) return true;
  nextProgress_ = done + progressStep_;
  if (Changed()) {
    changed_ = true;
    return false;
  }
  if (progress_ && !progress_(done, Size())) stopped_ = true;
  return !stopped_;
}

std::int64_t MessageFileReader::OffsetOfCharacter(std::int64_t from, std::size_t index) {
  for (std::int64_t at = from;; ++at) {
    const int byte = decoder_.ByteAt(at);
    if (byte < 0) return from;
    if (IsControl(static_cast<char>(byte))) continue;
    if (index-- == 0) return at;
  }
}

std::int64_t MessageFileReader::OffsetInValue(const DecodedElement& element, std::size_t index) {
  return OffsetOfCharacter(element.span.offset, element.prefix.size() + index);
}

FileStart MessageFileReader::ReadStart() {
  FileStart start;
  start.size = Size();
  start.macHeader = decoder_.ReadBytes(0, kMacHeaderSize);
  for (auto at = static_cast<std::int64_t>(kMacHeaderSize); at < start.size; ++at) {
    const int byte = decoder_.ByteAt(at);
    if (byte < 0) break;
    if (IsDigit(static_cast<char>(byte))) {
      start.headerDigit = at;
      break;
    }
  }
  if (start.headerDigit < 0) return start;
  start.headerMti = decoder_.ReadBytes(start.headerDigit, 4);
  start.fileHeaderFound = start.headerMti == "1644";
  if (start.fileHeaderFound) start.start = start.headerDigit;
  return start;
}

// From `from` (no MTI digits pending) to the next recognised MTI.
MessageFileReader::Gap MessageFileReader::ScanGap(std::int64_t from) {
  Gap gap;
  scan_->Seek(from);
  std::array<std::int64_t, kMtiLength> digitAt{};
  std::array<char, kMtiLength> digits{};
  int count = 0;
  auto stray = [&gap](std::int64_t at) {
    if (gap.stray < 0) gap.stray = at;
  };
  for (std::string_view block = scan_->Peek(); !block.empty(); block = scan_->Peek()) {
    const std::int64_t base = scan_->Offset();
    if (!Progress(base)) return gap;
    for (std::size_t i = 0; i < block.size(); ++i) {
      const char c = block[i];
      if (IsControl(c)) {
        if (c == '\0' && std::all_of(block.begin() + static_cast<std::ptrdiff_t>(i), block.end(),
                                     [](char b) { return b == '\0'; })) {
          scan_->Skip(block.size());
          scan_->SkipHole();
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
    if (scan_->Offset() == base) scan_->Skip(block.size());
  }
  if (count > 0) stray(digitAt[0]);
  return gap;
}

// After a bad prefix: an MTI at the start of a line after it, or -1.
std::int64_t MessageFileReader::LineStartMessage(std::int64_t from) {
  if (noLineStartFrom_ >= 0 && from >= noLineStartFrom_) return -1;
  scan_->Seek(from);
  bool lineStart = false;
  std::array<char, kMtiLength> digits{};
  std::int64_t first = -1;
  int count = 0;
  for (std::string_view block = scan_->Peek(); !block.empty(); block = scan_->Peek()) {
    const std::int64_t base = scan_->Offset();
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
    scan_->Skip(block.size());
  }
  noLineStartFrom_ = from;
  return -1;
}

BitmapFault MessageFileReader::FindBitmapFault(const DecodedMessage& message) {
  BitmapFault fault;
  const std::string both = message.primaryBitmap + message.secondaryBitmap;
  for (std::size_t i = 0; i < both.size(); ++i) {
    if (IsUpperHex(both[i])) continue;
    if (fault.firstIndex < 0) fault.firstIndex = static_cast<int>(i);
    fault.characters += both[i];
  }
  if (fault.firstIndex >= 0) {
    const auto index = static_cast<std::size_t>(fault.firstIndex);
    const std::size_t bitmap = static_cast<std::size_t>(kBitmapLength);
    fault.offset = index < bitmap ? OffsetOfCharacter(message.primarySpan.offset, index)
                                  : OffsetOfCharacter(message.secondarySpan.offset, index - bitmap);
  }
  return fault;
}

// Hands one decoded message to the visitor; returns where reading goes on,
// -1 when nothing follows.
std::int64_t MessageFileReader::HandOver(MessageVisitor& visitor, const DecodedMessage& message,
                                         std::int64_t record) {
  const MessageBreak broken = BreakOf(message.stop);
  const ReadMessage read{record, message, broken, FindBitmapFault(message), IsTrailer(message),
                         broken == MessageBreak::None && CarriesTotals(message)};
  visitor.OnMessage(read);
  if (broken == MessageBreak::Truncated) return -1;
  if (broken == MessageBreak::BadPrefix) {
    const DecodedElement& bad = message.elements.back();
    const std::int64_t afterPrefix = bad.span.offset + bad.span.bytes;
    const std::int64_t resume = LineStartMessage(afterPrefix);
    return resume >= 0 ? resume : afterPrefix;
  }
  return message.span.offset + message.span.bytes;
}

StrayText MessageFileReader::ReadStrayText(std::int64_t record, std::int64_t offset) {
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  StrayText stray{record, offset, decoder_.ReadBytes(offset, kStrayTextShown + kCardNumberContext), {}, {}};
  std::string& text = stray.text;
  text.erase(std::find_if(text.begin(), text.end(), IsControl), text.end());
  if (text.size() > kStrayTextShown) {
    if (isDigit(text[kStrayTextShown - 1])) {
      const auto rest = text.begin() + static_cast<std::ptrdiff_t>(kStrayTextShown);
      stray.digitsAfter.assign(rest, std::find_if_not(rest, text.end(), isDigit));
    }
    text.resize(kStrayTextShown);
  }
  const std::int64_t from = std::max<std::int64_t>(0, offset - static_cast<std::int64_t>(kCardNumberContext));
  const std::string before = decoder_.ReadBytes(from, static_cast<std::size_t>(offset - from));
  const auto digits = std::find_if_not(before.rbegin(), before.rend(), isDigit).base();
  stray.digitsBefore.assign(digits, before.end());
  return stray;
}

ReadEnd MessageFileReader::Read(MessageVisitor& visitor, const ProgressCallback& progress) {
  progress_ = progress;
  progressStep_ = std::max<std::int64_t>(1, Size() / 4096);
  nextProgress_ = 0;
  stopped_ = false;
  changed_ = false;
  const FileStart start = ReadStart();
  visitor.OnStart(start);
  std::int64_t from = start.start;
  std::int64_t record = 0;
  bool previousComplete = false;
  while (from >= 0) {
    const Gap gap = ScanGap(from);
    if (stopped_ || changed_ || scan_->Failed()) break;
    if (gap.stray >= 0 && previousComplete) visitor.OnStrayText(ReadStrayText(record, gap.stray));
    if (gap.next < 0) break;
    const DecodedMessage message = decoder_.Decode(gap.next);
    if (message.stop == DecodeStop::CannotRead) break;
    // The scan saw an MTI that the decoder does not find there, or the
    // reading would not move on: both only when the file changed under the
    // reader, which would otherwise read the same bytes for ever.
    if (message.stop == DecodeStop::NoMessage) {
      changed_ = true;
      break;
    }
    ++record;
    from = HandOver(visitor, message, record);
    previousComplete = message.stop == DecodeStop::Complete;
    if (from >= 0 && from <= gap.next) {
      changed_ = true;
      break;
    }
  }
  if (stopped_) return ReadEnd::Stopped;
  if (changed_ || Changed()) return ReadEnd::Changed;
  if (Failed()) return ReadEnd::CannotRead;
  scan_->FeedTo(Size());
  return ReadEnd::EndOfFile;
}

}  // namespace kalvrin::verify
