// One read of the transaction file for the three MAC variants (declared in
// mac_core.h). The file is read in chunks into a small ring; the calling
// thread feeds MACALL's chain from each chunk and a second thread MACNHD's
// and MACNSP's, interleaved. Each variant's MAC is the CBC-MAC of its whole
// byte stream, however it is cut, so the pieces between a variant's FIRST
// and LAST go to its chain in whatever sizes the chunks give; FIRST and LAST
// themselves are 512-byte pieces as the MAC is specified over them, and go
// through GenerateMAC. The figures follow from the sizes alone.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "mac/file_mac_texts.h"
#include "mac/mac_chains.h"
#include "mac/mac_core.h"

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

std::string Decimal(std::int64_t value) { return std::to_string(value); }

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
  plan.blocks = std::max<std::int64_t>(1, MacBlockCount(length));
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
  plan.blocks = MacBlockCount(range);
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

// One variant's chain over the raw bytes as they come: its FIRST and LAST
// pieces collected and sent through GenerateMAC, the bytes between them
// kept, masked and left in middle() for the caller to feed.
class VariantStream {
 public:
  VariantStream(const Plan& plan, const KeepTable& keep, MacRun& run, const MacKeys& keys)
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
        middle_[kept] = kMaskedByte[b];
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
      piece_[pieceSize_] = kMaskedByte[b];
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
  const MacKeys& keys_;
  std::array<std::uint8_t, 2 * kPiece> piece_{};  // a LAST piece holds up to 1023 raw bytes
  std::size_t pieceSize_ = 0;
  std::vector<std::uint8_t> middle_;
  bool opened_ = false;
  int code_ = 0;
  int failedStage_ = 0;
  std::int64_t fed_ = 0;
  std::int64_t lastRaw_ = 0;
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

// What a variant's stream leaves: its figures, its MAC or why it has none.
MacVariantResult ResultOf(const Plan& plan, const VariantStream& stream, const MacRun& run) {
  MacVariantResult result;
  result.blocks = plan.blocks;
  result.calls = plan.calls;
  result.bytes = stream.fed();
  result.failedStage = stream.failed() ? stream.failedStage() : 0;
  result.failedCode = stream.failed() ? stream.code() : 0;
  result.computed = !stream.failed();
  if (result.computed) result.mac.assign(run.macText.data(), ::strnlen(run.macText.data(), run.macText.size()));
  return result;
}

// MACALL also fails when the file did not end where its size said it would.
MacVariantResult MacAllResult(const Plan& plan, const VariantStream& all, const MacRun& run, bool readToEnd) {
  MacVariantResult result = ResultOf(plan, all, run);
  const std::int64_t last = all.lastRaw() + (plan.single ? all.fed() : 0);
  result.bytes = (plan.blocks - 1) * kPiece + last;
  if (all.failed() && all.failedStage() != LAST && all.failedStage() != SINGLE) {
    result.failure = MacAllStageError(all.failedStage(), all.code());
  } else if (!readToEnd) {
    result.computed = false;
    result.mac.clear();
    result.failure = t::kMacAllNotReadToEof;
  } else if (all.failed()) {
    result.failure = MacAllStageError(all.failedStage(), all.code());
  }
  return result;
}

MacVariantResult TrimmedResult(std::string_view prefix, const Plan& plan, const VariantStream& stream,
                               const MacRun& run) {
  MacVariantResult result = ResultOf(plan, stream, run);
  if (stream.failed()) result.failure = TrimmedStageError(prefix, stream.failedStage(), stream.code());
  return result;
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

std::string TrimmedStageError(std::string_view prefix, int stage, int code) {
  std::string text(prefix);
  text += t::kGenerateMacErrorMode;
  text += Decimal(stage);
  text += t::kErrorCode;
  text += Decimal(code);
  return text;
}

void ReadMacVariants(TransactionFile& file, const MacKeys& keys, std::int64_t headerLength,
                     std::int64_t trailerLength, std::array<MacRun, 3>& runs, const MacReadHooks& hooks,
                     FileMacResult& result) {
  const std::int64_t length = file.Size();
  const Plan allPlan = MacAllPlan(length);
  const Plan trimmedPlan = TrimmedPlan(length, headerLength, trailerLength);
  VariantStream all(allPlan, kVariantKeep[0], runs[0], keys);
  VariantStream nhd(trimmedPlan, kVariantKeep[1], runs[1], keys);
  VariantStream nsp(trimmedPlan, kVariantKeep[2], runs[2], keys);
  result.fileSize = length;
  result.variants[0].blocks = allPlan.blocks;
  result.variants[1].blocks = result.variants[2].blocks = trimmedPlan.blocks;
  if (hooks.started) hooks.started(result);

  std::int64_t position = 0;
  bool stopped = false;
  // The caller's word: progress, events, and whether to go on.
  const auto report = [&] {
    if (!stopped && hooks.progress && !hooks.progress(position, length)) stopped = true;
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

  std::size_t chunk = 0;
  bool readable = file.Seek(0);
  while (readable && position < length && !stopped) {
    while (!ring.WaitFree(chunk) && !stopped) report();  // the other thread is behind; the caller stays live meanwhile
    if (stopped) break;
    ChunkRing::Slot& slot = ring.slot(chunk);
    slot.at = position;
    slot.count = file.Read(slot.bytes.get(), static_cast<std::size_t>(std::min<std::int64_t>(kChunk, length - position)));
    if (slot.count == 0) break;  // the file has shrunk, or cannot be read on
    if (trimmedHere) {
      FeedTrimmed(nhd, nsp, slot);
    } else {
      ring.Publish(chunk);
    }
    ++chunk;
    // MACALL's chain, in steps with the caller's word between them
    all.Take(slot.bytes.get(), slot.at, slot.count);
    ChainFeed feed = all.Feed();
    while (all.HasMiddle() && feed.length > 0 && !stopped) {
      const std::size_t step = std::min(feed.length, kFeedStep);
      const ChainFeed part{feed.chain, feed.context, feed.data, step};
      if (!MacMiddle(std::span<const ChainFeed>(&part, 1))) all.MiddleRefused();
      feed.data += step;
      feed.length -= step;
      report();
    }
    position += static_cast<std::int64_t>(slot.count);
    report();
  }
  ring.Close();
  if (worker.joinable()) worker.join();
  if (stopped) {
    result.stop = MacCheckStop::Stopped;
    return;
  }
  // every byte the size promised, and no more, read without an error
  const bool readToEnd = position == length && file.AtEnd() && !file.Failed();
  all.Finish();
  nhd.Finish();
  nsp.Finish();
  result.variants[0] = MacAllResult(allPlan, all, runs[0], readToEnd);
  result.variants[1] = TrimmedResult(t::kMacNhdPrefix, trimmedPlan, nhd, runs[1]);
  result.variants[2] = TrimmedResult(t::kMacNspPrefix, trimmedPlan, nsp, runs[2]);
}

}  // namespace kalvrin
