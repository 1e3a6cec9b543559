// The comparison in three steps: each file is read once into an index of
// small entries (key hash, content hash, offset) and its batch ends, the
// entries are paired by key in file order, and a walk in the new file's
// order writes the records, reading again by offset only the messages it
// reports.
#include "compare/compare_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <memory>

#include "defines.h"
#include "io/transaction_file.h"
#include "iso/format_rules.h"
#include "iso/pan_mask.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"
#include "verify/message_reader.h"

namespace kalvrin::compare {

namespace {

constexpr int kFunctionCode = 24;
constexpr std::int32_t kNoPartner = -1;

// 64-bit FNV-1a, with a length before each text so that ("ab","c") and
// ("a","bc") differ.
class Hash {
 public:
  void Add(std::string_view text) {
    Number(text.size());
    for (const char c : text) Byte(static_cast<unsigned char>(c));
  }
  void Number(std::uint64_t value) {
    for (int i = 0; i < 8; ++i) Byte(static_cast<unsigned char>(value >> (8 * i)));
  }
  std::uint64_t Value() const { return value_; }

 private:
  void Byte(unsigned char byte) {
    value_ ^= byte;
    value_ *= 0x100000001b3ULL;
  }
  std::uint64_t value_ = 0xcbf29ce484222325ULL;
};

bool IsTransaction(std::string_view mti) {
  const std::int32_t type = TextToNumber(mti);
  return type >= 1100 && type <= 1499;
}

// One message of a file, as the pairing and the walk need it: 24 bytes, the
// offset sharing its word with what little else a message needs.
class Entry {
 public:
  static constexpr int kOffsetBits = 48;  // 256 TB: a larger file is refused
  static constexpr std::int64_t kLargestFile = std::int64_t{1} << kOffsetBits;

  Entry() = default;
  Entry(std::int64_t offset, int brokenElement, bool unreadable, bool transaction)
      : packed_(static_cast<std::uint64_t>(offset) | static_cast<std::uint64_t>(brokenElement & 0xFF) << kOffsetBits |
                std::uint64_t{unreadable} << (kOffsetBits + 8) | std::uint64_t{transaction} << (kOffsetBits + 9)) {}

  std::int64_t Offset() const { return static_cast<std::int64_t>(packed_ & (kLargestFile - 1)); }  // of the MTI
  int BrokenElement() const { return static_cast<int>(packed_ >> kOffsetBits & 0xFF); }  // 0 for the bitmaps
  bool Unreadable() const { return (packed_ >> (kOffsetBits + 8) & 1) != 0; }
  bool Transaction() const { return (packed_ >> (kOffsetBits + 9) & 1) != 0; }

  std::uint64_t key = 0;      // MTI and key elements (transactions) or MTI and P24 (others)
  std::uint64_t content = 0;  // every compared element

 private:
  std::uint64_t packed_ = 0;
};
static_assert(sizeof(Entry) == 24);

// A file's index, with its reading. The entries sit in a deque, which
// grows without copying what it holds.
struct Side {
  std::string path;
  std::unique_ptr<verify::MessageFileReader> reader;
  std::unique_ptr<MessageReader> decoder;  // for the messages read again
  verify::FileStart start;
  std::deque<Entry> entries;
  std::vector<std::int32_t> partner;  // index in the other side's entries, kNoPartner
  // The entries that close a batch, in order: a message's batch is one more
  // than the number of them before it.
  std::vector<std::int32_t> batchEnds;
  // Of each readable message that is no transaction, its rank among those
  // of its MTI and P24, from 1, by entry index: for the key's text.
  std::vector<std::pair<std::int32_t, std::uint32_t>> ranks;

  std::int64_t BatchOf(std::size_t index) const {
    const auto before = std::lower_bound(batchEnds.begin(), batchEnds.end(), static_cast<std::int32_t>(index));
    return 1 + (before - batchEnds.begin());
  }
};

class Indexer final : public verify::MessageVisitor {
 public:
  Indexer(Side& side, const CompareOptions& options, const std::vector<int>& match)
      : side_(side), options_(options), match_(match) {}

  void OnStart(const verify::FileStart& start) override { side_.start = start; }
  void OnStrayText(const verify::StrayText&) override {}
  void OnMessage(const verify::ReadMessage& message) override {
    const DecodedMessage& decoded = message.decoded;
    const bool transaction = IsTransaction(decoded.mti);
    const auto index = static_cast<std::int32_t>(side_.entries.size());
    if (message.broken != verify::MessageBreak::None) {
      const bool inElement = !decoded.elements.empty() && !decoded.elements.back().complete;
      side_.entries.emplace_back(decoded.mtiSpan.offset, inElement ? decoded.elements.back().number : 0, true,
                                 transaction);
    } else {
      Entry& entry = side_.entries.emplace_back(decoded.mtiSpan.offset, 0, false, transaction);
      entry.key = KeyOf(decoded, transaction);
      entry.content = ContentOf(decoded);
      if (!transaction) side_.ranks.emplace_back(index, ++seen_[entry.key]);
    }
    if (message.closesBatch) side_.batchEnds.push_back(index);
  }

 private:
  std::uint64_t KeyOf(const DecodedMessage& message, bool transaction) const {
    Hash hash;
    hash.Add(message.mti);
    hash.Number(transaction ? 1 : 0);
    if (!transaction) {
      const DecodedElement* functionCode = verify::FindElement(message, kFunctionCode);
      hash.Add(functionCode != nullptr ? std::string_view(functionCode->value) : std::string_view());
      return hash.Value();
    }
    for (const int number : match_) {
      const DecodedElement* element = verify::FindElement(message, number);
      hash.Add(element != nullptr ? std::string_view(element->value) : std::string_view());
    }
    return hash.Value();
  }

  std::uint64_t ContentOf(const DecodedMessage& message) const {
    Hash hash;
    for (const DecodedElement& element : message.elements) {
      if (options_.ignore.test(static_cast<std::size_t>(element.number))) continue;
      hash.Number(static_cast<std::uint64_t>(element.number));
      hash.Add(element.value);
    }
    return hash.Value();
  }

  Side& side_;
  const CompareOptions& options_;
  const std::vector<int>& match_;
  std::map<std::uint64_t, std::uint32_t> seen_;  // messages of each non-transaction key so far
};

// Pairs equal keys, the first with the first, in file order.
void Pair(Side& older, Side& newer) {
  auto sortedReadable = [](const std::deque<Entry>& entries) {
    std::vector<std::int32_t> order;
    order.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
      if (!entries[i].Unreadable()) order.push_back(static_cast<std::int32_t>(i));
    }
    std::stable_sort(order.begin(), order.end(), [&entries](std::int32_t a, std::int32_t b) {
      return entries[static_cast<std::size_t>(a)].key < entries[static_cast<std::size_t>(b)].key;
    });
    return order;
  };
  older.partner.assign(older.entries.size(), kNoPartner);
  newer.partner.assign(newer.entries.size(), kNoPartner);
  const std::vector<std::int32_t> a = sortedReadable(older.entries);
  const std::vector<std::int32_t> b = sortedReadable(newer.entries);
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const std::uint64_t keyA = older.entries[static_cast<std::size_t>(a[i])].key;
    const std::uint64_t keyB = newer.entries[static_cast<std::size_t>(b[j])].key;
    if (keyA < keyB) {
      ++i;
    } else if (keyB < keyA) {
      ++j;
    } else {
      older.partner[static_cast<std::size_t>(a[i])] = b[j];
      newer.partner[static_cast<std::size_t>(b[j])] = a[i];
      ++i;
      ++j;
    }
  }
}

std::string WithoutControls(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (!IsControl(c)) out += c;
  }
  return out;
}

// The MAC header record's declared values, by name.
struct EnvelopeField {
  const char* name;
  std::size_t at;
  std::size_t length;
};
constexpr EnvelopeField kEnvelopeFields[] = {
    {"method", kMacMethodAt, kMacVersionAt - kMacMethodAt},
    {"version", kMacVersionAt, kMacKcvAt - kMacVersionAt},
    {"kcv", kMacKcvAt, kKcvDigits},
};

class Comparison {
 public:
  Comparison(std::string_view oldPath, std::string_view newPath, const CompareOptions& options, DifferenceSink& sink)
      : options_(options), sink_(sink) {
    old_.path = oldPath;
    new_.path = newPath;
    match_.assign(kDefaultMatch.begin(), kDefaultMatch.end());
    if (!options.match.empty()) match_ = options.match;
  }

  CompareResult Run() {
    if (!Open(old_) || !Open(new_)) return std::move(result_);
    total_ = 3 * (old_.reader->Size() + new_.reader->Size());
    if (!Index(old_) || !Index(new_)) return std::move(result_);
    Pair(old_, new_);
    result_.summary.oldMessages = static_cast<std::int64_t>(old_.entries.size());
    result_.summary.newMessages = static_cast<std::int64_t>(new_.entries.size());
    if (!CompareLineEnds()) return std::move(result_);
    CompareEnvelopes();
    if (!Walk()) return std::move(result_);
    for (Side* side : {&old_, &new_}) {
      if (side->reader->Changed()) {
        Fail(*side, std::string(kFileChanged));
        return std::move(result_);
      }
    }
    result_.read = true;
    if (options_.progress) options_.progress(total_, total_);
    return std::move(result_);
  }

 private:
  bool Fail(const Side& side, std::string error) {
    result_.read = false;
    result_.error = std::move(error);
    result_.errorPath = side.path;
    return false;
  }

  bool Stop() {
    result_.stopped = true;
    result_.read = true;
    return false;
  }

  bool Open(Side& side) {
    side.reader = std::make_unique<verify::MessageFileReader>(side.path);
    side.decoder = std::make_unique<MessageReader>(side.path);
    if (side.reader->IsOpen() && side.decoder->IsOpen()) {
      if (side.reader->Size() < Entry::kLargestFile) return true;
      return Fail(side, "the file is too large to compare");
    }
    const std::string reason = OpenFailureReason(side.path);
    return Fail(side,
                "cannot open the file: " + (reason.empty() ? std::string("it must be a readable regular file") : reason));
  }

  bool Progress(std::int64_t done) { return !options_.progress || options_.progress(done_ + done, total_); }

  bool Index(Side& side) {
    Indexer indexer(side, options_, match_);
    const verify::ReadEnd end =
        side.reader->Read(indexer, [this](std::int64_t done, std::int64_t) { return Progress(done); });
    done_ += side.reader->Size();
    if (end == verify::ReadEnd::Stopped) return Stop();
    if (end == verify::ReadEnd::CannotRead) return Fail(side, "cannot read the file to its end");
    if (end == verify::ReadEnd::Changed) return Fail(side, std::string(kFileChanged));
    return true;
  }

  bool CompareLineEnds() {
    std::string kinds[2];
    Side* sides[2] = {&old_, &new_};
    for (int i = 0; i < 2; ++i) {
      bool failed = false;
      bool stopped = false;
      kinds[i] = LineEndKind(sides[i]->path, failed, [this, &stopped](std::int64_t done) {
        stopped = !Progress(done);
        return !stopped;
      });
      if (stopped) return Stop();
      if (failed) return Fail(*sides[i], "cannot read the file to its end");
      done_ += sides[i]->reader->Size();
    }
    if (kinds[0] == kinds[1]) return true;
    Difference difference;
    difference.change = Change::LineEnds;
    difference.oldValue = kinds[0];
    difference.newValue = kinds[1];
    Emit(difference);
    return true;
  }

  void CompareEnvelopes() {
    if (!old_.start.fileHeaderFound || !new_.start.fileHeaderFound) return;
    const std::string& a = old_.start.macHeader;
    const std::string& b = new_.start.macHeader;
    if (a.size() < kMacHeaderSize || b.size() < kMacHeaderSize) return;
    for (const EnvelopeField& field : kEnvelopeFields) {
      const std::string before = WithoutControls(std::string_view(a).substr(field.at, field.length));
      const std::string after = WithoutControls(std::string_view(b).substr(field.at, field.length));
      if (before == after) continue;
      Difference difference;
      difference.change = Change::Envelope;
      difference.field = field.name;
      difference.oldValue = before;
      difference.newValue = after;
      Emit(difference);
    }
  }

  // Records in the new file's order; the old file's messages without a
  // partner go right after the partner of the old message before them.
  bool Walk() {
    std::vector<std::pair<std::int32_t, std::int32_t>> placed;  // (new anchor, old index)
    std::int32_t anchor = kNoPartner;
    for (std::size_t i = 0; i < old_.entries.size(); ++i) {
      if (old_.partner[i] != kNoPartner) {
        anchor = old_.partner[i];
      } else {
        placed.emplace_back(anchor, static_cast<std::int32_t>(i));
      }
    }
    std::stable_sort(placed.begin(), placed.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    auto next = placed.begin();
    auto emitPlaced = [&](std::int32_t at) {
      for (; next != placed.end() && next->first == at; ++next) {
        if (!OldAlone(static_cast<std::size_t>(next->second))) return false;
      }
      return true;
    };
    if (!emitPlaced(kNoPartner)) return false;
    const auto count = new_.entries.size();
    const std::int64_t walkBytes = total_ / 3;
    for (std::size_t j = 0; j < count; ++j) {
      if (j % 4096 == 0 && !Progress(static_cast<std::int64_t>(j) * walkBytes / static_cast<std::int64_t>(count))) {
        return Stop();
      }
      if (!NewMessage(j)) return false;
      if (!emitPlaced(static_cast<std::int32_t>(j))) return false;
    }
    return true;
  }

  // The message read again; false when it is no longer there.
  bool Decode(Side& side, std::size_t index, DecodedMessage& message) {
    message = side.decoder->Decode(side.entries[index].Offset());
    if (message.stop == DecodeStop::NoMessage || message.stop == DecodeStop::CannotRead ||
        (message.stop != DecodeStop::Complete) != side.entries[index].Unreadable()) {
      return Fail(side,
                  message.stop == DecodeStop::CannotRead ? "cannot read the file to its end" : std::string(kFileChanged));
    }
    if (options_.maskCardNumbers) MaskCardNumbers(message);
    return true;
  }

  std::string KeyText(const Side& side, std::size_t index, const DecodedMessage& message) const {
    std::string key = message.mti;
    const Entry& entry = side.entries[index];
    if (entry.Unreadable()) return key;
    if (!entry.Transaction()) {
      const DecodedElement* functionCode = verify::FindElement(message, kFunctionCode);
      key += " P24 " + (functionCode != nullptr ? functionCode->value : std::string("-"));
      const auto at = std::lower_bound(side.ranks.begin(), side.ranks.end(),
                                       std::make_pair(static_cast<std::int32_t>(index), std::uint32_t{0}));
      return at != side.ranks.end() && at->first == static_cast<std::int32_t>(index)
                 ? key + " #" + std::to_string(at->second)
                 : key;
    }
    for (const int number : match_) {
      const DecodedElement* element = verify::FindElement(message, number);
      key += ' ';
      key += element != nullptr ? element->value : std::string("-");
    }
    return key;
  }

  void OldSide(Difference& difference, std::size_t index) const {
    difference.oldRecord = static_cast<std::int64_t>(index) + 1;
    difference.oldOffset = old_.entries[index].Offset();
  }
  void NewSide(Difference& difference, std::size_t index) const {
    difference.newRecord = static_cast<std::int64_t>(index) + 1;
    difference.newOffset = new_.entries[index].Offset();
  }

  // A message of one file alone: removed, added or unreadable.
  bool Alone(Side& side, std::size_t index, bool isOld) {
    DecodedMessage message;
    if (!Decode(side, index, message)) return false;
    const Entry& entry = side.entries[index];
    Difference difference;
    difference.change = entry.Unreadable() ? Change::Unreadable : isOld ? Change::Removed : Change::Added;
    if (isOld) {
      OldSide(difference, index);
    } else {
      NewSide(difference, index);
    }
    difference.element = entry.BrokenElement();
    difference.key = KeyText(side, index, message);
    Emit(difference);
    return true;
  }

  bool OldAlone(std::size_t index) { return Alone(old_, index, true); }

  bool NewMessage(std::size_t j) {
    const std::int32_t partner = new_.partner[j];
    if (partner == kNoPartner) return Alone(new_, j, false);
    const auto i = static_cast<std::size_t>(partner);
    ++result_.summary.pairs;
    const Entry& before = old_.entries[i];
    const Entry& after = new_.entries[j];
    const std::int64_t batchBefore = old_.BatchOf(i);
    const std::int64_t batchAfter = new_.BatchOf(j);
    const bool moved = after.Transaction() && batchBefore != batchAfter;
    if (!moved && before.content == after.content) {
      ++result_.summary.equal;
      return true;
    }
    DecodedMessage a;
    DecodedMessage b;
    if (!Decode(old_, i, a) || !Decode(new_, j, b)) return false;
    Difference base;
    OldSide(base, i);
    NewSide(base, j);
    base.key = KeyText(new_, j, b);
    const std::int64_t recordsBefore = result_.summary.Records();
    if (moved) {
      Difference difference = base;
      difference.change = Change::Moved;
      difference.oldValue = std::to_string(batchBefore);
      difference.newValue = std::to_string(batchAfter);
      Emit(difference);
    }
    if (before.content != after.content) CompareElements(base, a, b);
    if (result_.summary.Records() == recordsBefore) ++result_.summary.equal;  // a content hash met by chance
    return true;
  }

  // Both element lists are in element order: one merge.
  void CompareElements(const Difference& base, const DecodedMessage& a, const DecodedMessage& b) {
    auto x = a.elements.begin();
    auto y = b.elements.begin();
    auto ignored = [this](int number) { return options_.ignore.test(static_cast<std::size_t>(number)); };
    while (x != a.elements.end() || y != b.elements.end()) {
      const int numberX = x != a.elements.end() ? x->number : 1000;
      const int numberY = y != b.elements.end() ? y->number : 1000;
      const int number = std::min(numberX, numberY);
      const DecodedElement* before = numberX == number ? &*x++ : nullptr;
      const DecodedElement* after = numberY == number ? &*y++ : nullptr;
      if (ignored(number)) continue;
      if (before != nullptr && after != nullptr && before->value == after->value) continue;
      Difference difference = base;
      difference.change = Change::Changed;
      difference.element = number;
      if (before != nullptr) difference.oldValue = before->value;
      if (after != nullptr) difference.newValue = after->value;
      Emit(difference);
    }
  }

  void Emit(const Difference& difference) {
    Summary& summary = result_.summary;
    switch (difference.change) {
      case Change::LineEnds: ++summary.lineEnds; break;
      case Change::Envelope: ++summary.envelope; break;
      case Change::Removed: ++summary.removed; break;
      case Change::Added: ++summary.added; break;
      case Change::Moved: ++summary.moved; break;
      case Change::Changed: ++summary.changed; break;
      case Change::Unreadable: ++summary.unreadable; break;
    }
    sink_.OnDifference(difference);
  }

  const CompareOptions& options_;
  DifferenceSink& sink_;
  std::vector<int> match_;
  Side old_;
  Side new_;
  CompareResult result_;
  std::int64_t total_ = 0;
  std::int64_t done_ = 0;
};

}  // namespace

std::string_view ChangeName(Change change) {
  switch (change) {
    case Change::LineEnds: return "line-ends";
    case Change::Envelope: return "envelope";
    case Change::Removed: return "removed";
    case Change::Added: return "added";
    case Change::Moved: return "moved";
    case Change::Changed: return "changed";
    case Change::Unreadable: break;
  }
  return "unreadable";
}

std::optional<std::vector<int>> ParseElementList(std::string_view text, std::string& error) {
  std::vector<int> elements;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t comma = std::min(text.find(',', from), text.size());
    const std::string_view item = text.substr(from, comma - from);
    from = comma + 1;
    const bool digits = item.size() >= 2 && item.size() <= 4 &&
                        std::all_of(item.begin() + 1, item.end(), [](char c) { return IsDigit(c); });
    const std::int32_t number = digits ? TextToNumber(item.substr(1)) : -1;
    const bool primary = !item.empty() && item[0] == 'P' && number >= 2 && number <= 63;
    const bool secondary = !item.empty() && item[0] == 'S' && number >= 65 && number <= 128;
    if (!primary && !secondary) {
      error = "'" + std::string(item) + "' is no element: write P2 to P63 or S65 to S128, separated by commas";
      return std::nullopt;
    }
    if (std::find(elements.begin(), elements.end(), number) == elements.end()) elements.push_back(number);
  }
  return elements;
}

std::string LineEndKind(std::string_view path, bool& failed, const std::function<bool(std::int64_t)>& going) {
  failed = false;
  std::int64_t size = 0;
  const int fd = OpenTransactionFile(path, size);
  if (fd < 0) {
    failed = true;
    return {};
  }
  bool crlf = false;
  bool lf = false;
  bool cr = false;
  bool pendingCr = false;  // the last byte read was a CR
  std::int64_t read = 0;
  std::vector<char> block(1 << 18);
  for (;;) {
    const ssize_t got = ::read(fd, block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failed = true;
    if (got <= 0) break;
    read += got;
    if (going && !going(read)) break;
    const char* p = block.data();
    const char* end = p + got;
    if (pendingCr) {
      (*p == '\n' ? crlf : cr) = true;
      if (*p == '\n') ++p;
      pendingCr = false;
    }
    while (p < end && !(crlf + lf + cr >= 2)) {
      const char* hit = std::find_if(p, end, [](char c) { return c == '\n' || c == '\r'; });
      if (hit == end) break;
      if (*hit == '\n') {
        lf = true;
        p = hit + 1;
      } else if (hit + 1 == end) {
        pendingCr = true;
        p = end;
      } else {
        (hit[1] == '\n' ? crlf : cr) = true;
        p = hit + (hit[1] == '\n' ? 2 : 1);
      }
    }
    if (crlf + lf + cr >= 2) break;
  }
  ::close(fd);
  if (pendingCr) cr = true;
  if (crlf + lf + cr >= 2) return "mixed";
  return crlf ? "CR LF" : lf ? "LF" : cr ? "CR" : "none";
}

CompareResult CompareFiles(std::string_view oldPath, std::string_view newPath, const CompareOptions& options,
                           DifferenceSink& sink) {
  return Comparison(oldPath, newPath, options, sink).Run();
}

}  // namespace kalvrin::compare
