// One read of the transaction file for the three MAC variants. The file is
// read in chunks into a small ring; the calling thread feeds MACALL's chain
// from each chunk and a second thread MACNHD's and MACNSP's, interleaved.
// Each variant's MAC is the CBC-MAC of its whole byte stream, however it is
// cut, so the pieces between a variant's FIRST and LAST go to its chain in
// whatever sizes the chunks give; FIRST and LAST themselves are the pieces
// the separate variants cut, and go through GenerateMAC as there. The
// figures follow from the sizes alone.
#include "mac/mac_pass.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "mac/file_mac_texts.h"
#include "mac/mac_chains.h"

namespace kalvrin {

namespace {

namespace t = mac_texts;

constexpr std::int64_t kPiece = kMacBlockSize;
constexpr std::size_t kChunk = std::size_t{1} << 18;
constexpr std::size_t kRingSlots = 4;
// MACALL's chain is fed in steps this size, with the window's events
// between them.
constexpr std::size_t kFeedStep = std::size_t{32} << 10;
constexpr auto kWaitStep = std::chrono::milliseconds(20);

// Each byte as the MAC takes it: outside 0x20..0x7E, 0xAA.
constexpr std::array<std::uint8_t, 256> kMasked = [] {
  std::array<std::uint8_t, 256> table{};
  for (int b = 0; b < 256; ++b) table[static_cast<std::size_t>(b)] = b >= 0x20 && b <= 0x7E ? static_cast<std::uint8_t>(b) : 0xAA;
  return table;
}();

// 1 for a byte that a variant keeps, 0 for one it drops.
using KeepTable = std::array<std::uint8_t, 256>;
constexpr KeepTable MakeKeep(bool dropSpaces) {
  KeepTable table{};
  for (auto& keep : table) keep = 1;
  table['\t'] = table['\n'] = table['\r'] = 0;
  if (dropSpaces) table[' '] = 0;
  return table;
}
constexpr KeepTable kKeepAll = [] {
  KeepTable table{};
  for (auto& keep : table) keep = 1;
  return table;
}();
constexpr KeepTable kKeepNhd = MakeKeep(false);
constexpr KeepTable kKeepNsp = MakeKeep(true);

std::string Decimal(std::int64_t value) { return std::to_string(value); }

std::string Joined(std::string_view a, std::string_view b) {
  std::string text(a);
  text += b;
  return text;
}

std::int64_t BlockCount(std::int64_t length) { return length <= 0 ? 0 : (length + kPiece - 1) / kPiece; }

// The progress bar counts blocks; a count beyond an int is shown scaled down.
struct BarScale {
  explicit BarScale(std::int64_t blocks)
      : scale(blocks / std::numeric_limits<int>::max() + 1), max(static_cast<int>(blocks / scale)) {}
  int Position(std::int64_t done) const { return static_cast<int>(std::min<std::int64_t>(done / scale, max)); }
  std::int64_t scale;
  int max;
};

// How one variant cuts its stretch of the file, worked out from the sizes.
struct Plan {
  std::int64_t begin = 0;      // its raw bytes: [begin, end)
  std::int64_t end = 0;
  std::int64_t firstEnd = 0;   // the FIRST (or SINGLE) piece ends here
  std::int64_t lastBegin = 0;  // the LAST piece starts here
  bool single = false;
  std::int64_t blocks = 0;     // shown before the variant computes
  std::int64_t calls = 0;      // GenerateMAC calls of a complete run
};

Plan MacAllPlan(std::int64_t length) {
  Plan plan;
  plan.end = length;
  // a file of one block or less (even an empty one) is one SINGLE call
  plan.blocks = std::max<std::int64_t>(1, BlockCount(length));
  plan.single = plan.blocks == 1;
  plan.firstEnd = plan.single ? length : kPiece;
  plan.lastBegin = plan.single ? length : (plan.blocks - 1) * kPiece;
  plan.calls = plan.blocks;
  return plan;
}

// The trimmed variants: 512 raw bytes a piece, the last piece 512 to 1023
// raw bytes; a range of 512 bytes or less (0 too) is one SINGLE call.
Plan TrimmedPlan(std::int64_t length, std::int64_t headerLength, std::int64_t trailerLength) {
  Plan plan;
  plan.begin = std::clamp<std::int64_t>(headerLength, 0, length);
  const std::int64_t range = std::max<std::int64_t>(0, length - plan.begin - std::max<std::int64_t>(0, trailerLength));
  plan.end = plan.begin + range;
  plan.blocks = BlockCount(range);
  plan.single = range <= kPiece;
  if (plan.single) {
    plan.firstEnd = plan.lastBegin = plan.end;
    plan.calls = 1;
    return plan;
  }
  const std::int64_t afterFirst = range - kPiece;
  const std::int64_t middles = afterFirst >= 2 * kPiece ? (afterFirst - 2 * kPiece) / kPiece + 1 : 0;
  plan.firstEnd = plan.begin + kPiece;
  plan.lastBegin = plan.firstEnd + middles * kPiece;
  plan.calls = middles + 2;
  return plan;
}

struct Keys {
  const KeyStore& keyStore;
  const KeyCryptogram& keyCryptogram;
  std::string_view kcvText;
};

// One variant's chain over the raw bytes as they come: its FIRST and LAST
// pieces collected and sent through GenerateMAC, the bytes between them
// kept, masked and left in middle() for the caller to feed.
class VariantStream {
 public:
  VariantStream(const Plan& plan, const KeepTable& keep, MacRun& run, const Keys& keys)
      : plan_(plan), keep_(keep), run_(run), keys_(keys) {
    middle_.reserve(kChunk);
  }

  void Take(const std::uint8_t* raw, std::int64_t at, std::size_t count) {
    middle_.clear();
    const std::int64_t from = std::max(at, plan_.begin);
    const std::int64_t to = std::min(at + static_cast<std::int64_t>(count), plan_.end);
    if (from >= to || failed()) return;
    const auto slice = [&](std::int64_t a, std::int64_t b) {
      return std::pair{raw + (std::max(a, from) - at), std::max<std::int64_t>(0, std::min(b, to) - std::max(a, from))};
    };
    if (const auto [bytes, n] = slice(plan_.begin, plan_.firstEnd); n > 0) {
      Collect(bytes, static_cast<std::size_t>(n));
      if (std::min(plan_.firstEnd, to) == plan_.firstEnd) Open();
    }
    if (const auto [bytes, n] = slice(plan_.firstEnd, plan_.lastBegin); n > 0 && !failed()) {
      middle_.resize(static_cast<std::size_t>(n));
      std::size_t kept = 0;
      for (std::int64_t i = 0; i < n; ++i) {
        const std::uint8_t b = bytes[i];
        middle_[kept] = kMasked[b];
        kept += keep_[b];
      }
      middle_.resize(kept);
      fed_ += static_cast<std::int64_t>(kept);
    }
    if (const auto [bytes, n] = slice(plan_.lastBegin, plan_.end); n > 0 && !failed()) {
      Collect(bytes, static_cast<std::size_t>(n));
      lastRaw_ += n;
    }
  }

  // At the end of the read, wherever it ended: what is left of the FIRST
  // piece, then the LAST.
  void Finish() {
    if (!opened_ && !failed()) Open();
    if (!plan_.single && !failed()) Call(LAST);
  }

  // The bytes Take found between FIRST and LAST, for MacMiddle.
  ChainFeed Feed() { return {&run_.chain, &run_.context, middle_.data(), middle_.size()}; }
  bool HasMiddle() const { return !middle_.empty() && !failed(); }
  void MiddleRefused() {
    code_ = kMacWrongPendingCount;
    failedStage_ = MIDDLE;
  }

  bool failed() const { return code_ != 0; }
  int code() const { return code_; }
  int failedStage() const { return failedStage_; }
  std::int64_t fed() const { return fed_; }
  std::int64_t lastRaw() const { return lastRaw_; }

 private:
  void Collect(const std::uint8_t* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::uint8_t b = bytes[i];
      piece_[pieceSize_] = kMasked[b];
      pieceSize_ += keep_[b];
    }
  }
  void Open() {
    opened_ = true;
    Call(plan_.single ? SINGLE : FIRST);
  }
  void Call(int stage) {
    const int code = GenerateMAC(run_.macText.data(), run_.chain, run_.context, stage, piece_.data(), pieceSize_,
                                 keys_.keyStore, keys_.keyCryptogram, keys_.kcvText);
    fed_ += static_cast<std::int64_t>(pieceSize_);
    pieceSize_ = 0;
    if (code != 0) {
      code_ = code;
      failedStage_ = stage;
    }
  }

  const Plan& plan_;
  const KeepTable& keep_;
  MacRun& run_;
  const Keys& keys_;
  std::array<std::uint8_t, 2 * kPiece> piece_{};  // a LAST piece holds up to 1023 raw bytes
  std::size_t pieceSize_ = 0;
  std::vector<std::uint8_t> middle_;
  bool opened_ = false;
  int code_ = 0;
  int failedStage_ = 0;
  std::int64_t fed_ = 0;
  std::int64_t lastRaw_ = 0;
};

// The transaction file, read-only; only a regular file, opened without
// waiting (see FindMacRecords).
class RawFile {
 public:
  explicit RawFile(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return;
    const std::string name(path);
    fd_ = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    struct stat info {};
    if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || ::fcntl(fd_, F_SETFL, 0) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    size_ = info.st_size;
  }
  ~RawFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawFile(const RawFile&) = delete;
  RawFile& operator=(const RawFile&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  std::int64_t Size() const { return size_; }
  // Up to count bytes; fewer only at the end of the file or on a read error.
  std::size_t Read(std::uint8_t* out, std::size_t count) {
    std::size_t done = 0;
    while (done < count && !ended_) {
      const ssize_t got = ::read(fd_, out + done, count - done);
      if (got > 0) {
        done += static_cast<std::size_t>(got);
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        ended_ = true;
      }
    }
    return done;
  }
  bool AtEnd() {
    std::uint8_t probe = 0;
    return Read(&probe, 1) == 0;
  }

 private:
  int fd_ = -1;
  std::int64_t size_ = 0;
  bool ended_ = false;
};

// The chunks in flight between the reading thread and the one that feeds
// the trimmed variants.
class ChunkRing {
 public:
  ChunkRing() {
    for (auto& slot : slots_) slot.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kChunk);
  }
  struct Slot {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::int64_t at = 0;
    std::size_t count = 0;
  };
  Slot& slot(std::size_t chunk) { return slots_[chunk % kRingSlots]; }

  // Reader: true once the slot of `chunk` is free; waits up to one step.
  bool WaitFree(std::size_t chunk) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWaitStep, [&] { return consumed_ + kRingSlots > chunk || abandoned_; });
  }
  void Publish(std::size_t chunk) {
    Signal([&] { produced_ = chunk + 1; });
  }
  void Close() {
    Signal([&] { closed_ = true; });
  }
  // Consumer: false when no chunk is coming any more.
  bool WaitFilled(std::size_t chunk) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return produced_ > chunk || closed_; });
    return produced_ > chunk;
  }
  void Consumed(std::size_t chunk) {
    Signal([&] { consumed_ = chunk + 1; });
  }
  // The consumer has gone; the reader need not wait for it.
  void Abandon() {
    Signal([&] { abandoned_ = true; });
  }

 private:
  // A change of the shared counts or flags, then word to whoever waits.
  template <typename Change>
  void Signal(Change change) {
    {
      const std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  std::array<Slot, kRingSlots> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t produced_ = 0;
  std::size_t consumed_ = 0;
  bool closed_ = false;
  bool abandoned_ = false;
};

// MACNHD and MACNSP over one chunk: both chains interleaved.
void FeedTrimmed(VariantStream& nhd, VariantStream& nsp, const ChunkRing::Slot& slot) {
  nhd.Take(slot.bytes.get(), slot.at, slot.count);
  nsp.Take(slot.bytes.get(), slot.at, slot.count);
  std::array<ChainFeed, 2> feeds{};
  std::array<VariantStream*, 2> owners{};
  std::size_t n = 0;
  for (VariantStream* stream : {&nhd, &nsp}) {
    if (!stream->HasMiddle()) continue;
    owners[n] = stream;
    feeds[n++] = stream->Feed();
  }
  if (n > 0 && !MacMiddle(std::span<const ChainFeed>(feeds.data(), n))) {
    for (std::size_t i = 0; i < n; ++i) owners[i]->MiddleRefused();
  }
}

// ---------------------------------------------------------------------------
// What each variant shows, as the separate variants show it.

void ShowMacAllStart(WindowSurface& surface, const Plan& plan, std::int64_t length) {
  surface.setEditText(Edit::CalcMac1FSize, t::kByteCountPending);
  surface.setStatus(kPositionPanel, Joined(t::kFileSize, Decimal(length)));
  surface.setEditText(Edit::CalcMac1BNum, Decimal(plan.blocks));
  surface.setEditText(Edit::CalcMac1BSize, t::kBlockSizeText);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, Decimal(plan.blocks)));
  const BarScale bar(plan.blocks);
  surface.setProgressMin(0);
  surface.setProgressMax(bar.max);
  surface.setProgressPosition(0);
  surface.repaint();
}

int ShowMacAllEnd(WindowSurface& surface, const Plan& plan, const VariantStream& all, const MacRun& run,
                  bool readToEnd) {
  if (all.failed() && all.failedStage() != LAST && all.failedStage() != SINGLE) {
    surface.setStatus(kCommandPanel, MacAllStageError(all.failedStage(), all.code()));
    return 0;
  }
  surface.setProgressPosition(BarScale(plan.blocks).max);
  const std::int64_t last = all.lastRaw() + (plan.single ? all.fed() : 0);
  surface.setEditText(Edit::CalcMac1FSize, Decimal((plan.blocks - 1) * kPiece + last));
  surface.repaint();
  if (!readToEnd) {
    surface.setStatus(kCommandPanel, t::kMacAllNotReadToEof);
    return 0;
  }
  if (all.failed()) {
    surface.setStatus(kCommandPanel, MacAllStageError(all.failedStage(), all.code()));
    return 0;
  }
  surface.setEditText(Edit::CalcMacAll, std::string_view(run.macText.data(), ::strnlen(run.macText.data(), run.macText.size())));
  const std::string calls = Decimal(plan.blocks - 1) + "*" + std::string(t::kBlockSizeText) + "+" + Decimal(last);
  surface.setEditText(Edit::CalcMac1BNum, calls);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, calls));
  return 1;
}

struct TrimmedTexts {
  std::string_view prefix;
  Edit blockSize, macCalls, byteCount, result;
  bool countsCalls;  // MACNSP shows the calls it made and advances the progress bar per call
};
constexpr TrimmedTexts kNhdTexts{t::kMacNhdPrefix, Edit::CalcMac2BSize, Edit::CalcMac2BNum, Edit::CalcMac2FSize,
                                 Edit::CalcMacNHD, false};
constexpr TrimmedTexts kNspTexts{t::kMacNspPrefix, Edit::CalcMac3BSize, Edit::CalcMac3BNum, Edit::CalcMac3FSize,
                                 Edit::CalcMacNSP, true};

int ShowTrimmed(WindowSurface& surface, const TrimmedTexts& texts, const Plan& plan, const VariantStream& stream,
                const MacRun& run) {
  surface.setEditText(texts.macCalls, Decimal(plan.blocks));
  surface.setEditText(texts.blockSize, t::kBlockSizeText);
  surface.setStatus(kTotalsPanel, Joined(t::kBlocks, Decimal(plan.blocks)));
  const BarScale bar(plan.blocks);
  surface.setProgressMin(0);
  surface.setProgressMax(bar.max);
  surface.setProgressPosition(0);
  surface.repaint();
  if (stream.failed()) {
    // the calls before the one that failed
    const std::int64_t made = stream.failedStage() == FIRST || stream.failedStage() == SINGLE ? 0 : plan.calls - 1;
    if (texts.countsCalls && made > 0) surface.setProgressPosition(bar.Position(made));
    surface.setStatus(kCommandPanel, Joined(texts.prefix, t::kGenerateMacErrorMode) + Decimal(stream.failedStage()) +
                             std::string(t::kErrorCode) + Decimal(stream.code()));
    return 0;
  }
  if (texts.countsCalls) surface.setProgressPosition(bar.Position(plan.calls));
  surface.setEditText(texts.byteCount, Decimal(stream.fed()));
  surface.setEditText(texts.macCalls, Decimal(texts.countsCalls ? plan.calls : plan.blocks));
  surface.setEditText(texts.result, std::string_view(run.macText.data(), ::strnlen(run.macText.data(), run.macText.size())));
  return 1;
}

}  // namespace

std::string MacAllStageError(int stage, int code) {
  std::string text(t::kMacAllGenerateMac);
  text += t::kStageNames[stage];
  text += t::kMacAllError;
  switch (code) {
    case 1: text += t::kWrongCheckValue; break;
    case 2: text += t::kWrongStageCall; break;
    case 3:
      text += t::kWrongChainingVector;
      if (stage == FIRST) text += ": 3";
      break;
    default: text += Decimal(code); break;
  }
  return text;
}

VariantResults ComputeMacVariants(WindowSurface& surface, std::string_view path, const KeyStore& keyStore,
                                  const KeyCryptogram& keyCryptogram, std::string_view kcvText,
                                  std::int64_t headerLength, std::int64_t trailerLength,
                                  std::array<MacRun, 3>& runs, const std::atomic<bool>* stop) {
  VariantResults results;
  RawFile file(path);
  if (!file.IsOpen()) {
    surface.setStatus(kTotalsPanel, t::kMacAllFileOpenError);
    surface.setStatus(kTotalsPanel, Joined(t::kMacNhdPrefix, t::kFileOpenError));
    surface.setStatus(kTotalsPanel, Joined(t::kMacNspPrefix, t::kFileOpenError));
    return results;
  }
  const std::int64_t length = file.Size();
  const Plan allPlan = MacAllPlan(length);
  const Plan trimmedPlan = TrimmedPlan(length, headerLength, trailerLength);
  const Keys keys{keyStore, keyCryptogram, kcvText};
  VariantStream all(allPlan, kKeepAll, runs[0], keys);
  VariantStream nhd(trimmedPlan, kKeepNhd, runs[1], keys);
  VariantStream nsp(trimmedPlan, kKeepNsp, runs[2], keys);
  ShowMacAllStart(surface, allPlan, length);

  const bool pumps = surface.hasEventLoop();
  const auto stopped = [stop] { return stop != nullptr && stop->load(std::memory_order_relaxed); };
  const auto pump = [&] {
    if (pumps) surface.processEvents();
  };

  ChunkRing ring;
  // The trimmed variants on a thread of their own when one can be had.
  std::thread worker;
  try {
    worker = std::thread([&] {
      std::size_t chunk = 0;
      for (; ring.WaitFilled(chunk); ++chunk) {
        FeedTrimmed(nhd, nsp, ring.slot(chunk));
        ring.Consumed(chunk);
      }
    });
  } catch (const std::system_error&) {
    ring.Abandon();
  }
  const bool trimmedHere = !worker.joinable();
  // However the read ends, the other thread is done with the ring before it goes.
  struct Joiner {
    ChunkRing& ring;
    std::thread& worker;
    ~Joiner() {
      ring.Close();
      if (worker.joinable()) worker.join();
    }
  } joiner{ring, worker};

  const BarScale bar(allPlan.blocks);
  std::int64_t position = 0;
  std::size_t chunk = 0;
  while (position < length && !stopped()) {
    while (!ring.WaitFree(chunk)) pump();  // the other thread is behind; the window stays live meanwhile
    ChunkRing::Slot& slot = ring.slot(chunk);
    slot.at = position;
    slot.count = file.Read(slot.bytes.get(), static_cast<std::size_t>(std::min<std::int64_t>(kChunk, length - position)));
    if (slot.count == 0) break;  // the file has shrunk
    if (trimmedHere) {
      FeedTrimmed(nhd, nsp, slot);
    } else {
      ring.Publish(chunk);
    }
    ++chunk;
    // MACALL's chain, in steps with the window's events between them
    all.Take(slot.bytes.get(), slot.at, slot.count);
    ChainFeed feed = all.Feed();
    while (all.HasMiddle() && feed.length > 0) {
      const std::size_t step = std::min(feed.length, kFeedStep);
      const ChainFeed part{feed.chain, feed.context, feed.data, step};
      if (!MacMiddle(std::span<const ChainFeed>(&part, 1))) all.MiddleRefused();
      feed.data += step;
      feed.length -= step;
      pump();
    }
    position += static_cast<std::int64_t>(slot.count);
    surface.setProgressPosition(bar.Position(position / kPiece));
    pump();
  }
  ring.Close();
  if (worker.joinable()) worker.join();
  if (stopped()) {
    results.stopped = true;
    return results;
  }
  const bool readToEnd = file.AtEnd();
  all.Finish();
  nhd.Finish();
  nsp.Finish();

  results.all = ShowMacAllEnd(surface, allPlan, all, runs[0], readToEnd);
  results.nhd = ShowTrimmed(surface, kNhdTexts, trimmedPlan, nhd, runs[1]);
  results.nsp = ShowTrimmed(surface, kNspTexts, trimmedPlan, nsp, runs[2]);
  return results;
}

}  // namespace kalvrin
