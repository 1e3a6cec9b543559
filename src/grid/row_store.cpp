// The grid's rows in blocks: packed while open, encoded once frozen.
//
// A frozen block is its rows one after the other. A row is a map of its
// non-empty cells (one bit a column, encodedCols bits), the cells in column
// order, then the offset as a zigzag LEB128 difference to the row above.
// A cell starts with a tag byte:
//   00 000000          the same text as the cell above (the row before in the block)
//   00 000001          the row's number in decimal
//   00 000010, id      entry `id` of the column's dictionary
//   kk p lllll ...     kk 01: hexadecimal digits 0-9 A-F two to a byte,
//                      kk 10: the digits and " =D-./" two to a byte,
//                      kk 11: bytes as they are;
//                      p: a byte follows with how many leading characters
//                      the text shares with the cell above;
//                      lllll: the length of the rest, 31 for 31 plus a
//                      LEB128 number that follows.
#include "grid/row_store.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "defines.h"
#include "iso/char_scan.h"

namespace kalvrin {

namespace {

constexpr std::size_t kEntryHead = 3;  // packed cell: column, length (two bytes, little-endian)

constexpr std::uint8_t kSame = 0x00;
constexpr std::uint8_t kRowNumber = 0x01;
constexpr std::uint8_t kWord = 0x02;
constexpr std::uint8_t kHexKind = 0x40;
constexpr std::uint8_t kAltKind = 0x80;
constexpr std::uint8_t kRawKind = 0xC0;
constexpr std::uint8_t kKindMask = 0xC0;
constexpr std::uint8_t kSharedFlag = 0x20;
constexpr std::uint8_t kLengthMask = 0x1F;
constexpr std::size_t kLongLength = 31;
constexpr std::size_t kMinShared = 2;    // a shorter shared beginning is not worth its byte
constexpr std::size_t kMaxShared = 255;
constexpr std::size_t kMaxWordLength = 64;
constexpr std::size_t kMaxWords = 255;
// A full dictionary is given up for its column when fewer than one in
// kWordHitShare of this many lookups found its text.
constexpr std::uint32_t kWordTrial = 4096;
constexpr std::uint32_t kWordHitShare = 8;
// The worker sleeps until this many blocks wait for it (or the owner waits
// for them): waking a thread costs more than freezing a block.
constexpr std::size_t kWakeBlocks = 8;
// Emptied open rows kept for the blocks to come: the ones with the worker
// and the next to be filled.
constexpr std::size_t kSpareRows = kWakeBlocks + 4;

constexpr char kHexDigits[17] = "0123456789ABCDEF";
constexpr char kAltDigits[17] = "0123456789 =D-./";

struct NibbleTables {
  std::array<std::uint8_t, 256> hex{};    // the character's nibble among the hex digits
  std::array<std::uint8_t, 256> alt{};    // and among the alt digits
  std::array<std::uint8_t, 256> kinds{};  // bit 0: a hex character, bit 1: an alt character
};

constexpr NibbleTables MakeNibbleTables() {
  NibbleTables t{};
  for (int i = 0; i < 16; ++i) {
    const auto hex = static_cast<std::uint8_t>(kHexDigits[i]);
    const auto alt = static_cast<std::uint8_t>(kAltDigits[i]);
    t.kinds[hex] |= 1;
    t.kinds[alt] |= 2;
    t.hex[hex] = static_cast<std::uint8_t>(i);
    t.alt[alt] = static_cast<std::uint8_t>(i);
  }
  return t;
}
constexpr NibbleTables kNibbles = MakeNibbleTables();

std::size_t EntryLength(std::string_view packed, std::size_t at) {
  return static_cast<std::uint8_t>(packed[at + 1]) | (static_cast<std::size_t>(static_cast<std::uint8_t>(packed[at + 2])) << 8);
}

std::string_view CellOf(std::string_view packed, int col) {
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    if (static_cast<std::uint8_t>(packed[at]) == col) return packed.substr(at + kEntryHead, length);
    at += kEntryHead + length;
  }
  return {};
}

// The rows keep their room from block to block, so this seldom allocates.
void AppendEntry(PackedCells& packed, int col, std::string_view text) {
  char* const entry = packed.Extend(kEntryHead + text.size());
  entry[0] = static_cast<char>(col);
  entry[1] = static_cast<char>(text.size() & 0xFF);
  entry[2] = static_cast<char>(text.size() >> 8);
  CopyBytes(entry + kEntryHead, text.data(), text.size());
}

void PutCell(PackedCells& packed, int col, std::string_view text) {
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    if (static_cast<std::uint8_t>(packed.data()[at]) == col) {
      if (length == text.size()) {
        std::memmove(packed.data() + at + kEntryHead, text.data(), length);  // the text may be a view of this row
        return;
      }
      packed.Erase(at, kEntryHead + length);
      break;
    }
    at += kEntryHead + length;
  }
  if (!text.empty()) AppendEntry(packed, col, text);
}

void DropColumnsFrom(PackedCells& packed, int cols) {
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    if (static_cast<std::uint8_t>(packed.data()[at]) >= cols) {
      packed.Erase(at, kEntryHead + length);
    } else {
      at += kEntryHead + length;
    }
  }
}

struct Reader {
  const char* at;
  std::uint8_t Byte() { return static_cast<std::uint8_t>(*at++); }
  std::uint64_t Number() {
    std::uint64_t value = 0;
    for (int shift = 0;; shift += 7) {
      const std::uint8_t b = Byte();
      value |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if ((b & 0x80) == 0) return value;
    }
  }
};

std::uint64_t ZigZag(std::int64_t value) {
  return (static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63);
}
std::int64_t UnZigZag(std::uint64_t value) {
  return static_cast<std::int64_t>(value >> 1) ^ -static_cast<std::int64_t>(value & 1);
}

// A text cell's head after its tag: the bytes it shares with the cell
// above, and the length of the rest.
struct TextHead {
  std::size_t shared;
  std::size_t length;
};
TextHead ReadTextHead(Reader& in, std::uint8_t tag) {
  const std::size_t shared = (tag & kSharedFlag) != 0 ? in.Byte() : 0;
  std::size_t length = tag & kLengthMask;
  if (length == kLongLength) length += in.Number();
  return {shared, length};
}

// The rest of a text cell, `length` characters into `text`; without `text`
// it is stepped over.
void ReadText(Reader& in, std::uint8_t tag, char* text, std::size_t length) {
  const std::uint8_t kind = tag & kKindMask;
  if (text == nullptr) {
    in.at += kind == kRawKind ? length : (length + 1) / 2;
    return;
  }
  if (kind == kRawKind) {
    CopyBytes(text, in.at, length);
    in.at += length;
    return;
  }
  const char* digits = kind == kHexKind ? kHexDigits : kAltDigits;
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    const std::uint8_t pair = in.Byte();
    text[i] = digits[pair >> 4];
    text[i + 1] = digits[pair & 0x0F];
  }
  if (length % 2 != 0) text[length - 1] = digits[in.Byte() >> 4];
}

std::string_view RowNumberText(int row, std::array<char, 16>& buffer) {
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), row);
  return {buffer.data(), static_cast<std::size_t>(result.ptr - buffer.data())};
}


template <typename Word>
Word Load(const char* at) {
  Word word;
  std::memcpy(&word, at, sizeof word);
  return word;
}

// Up to eight bytes of a text as one number, read without a call and
// without reading past the text: two reads that may overlap.
inline std::uint64_t Short(const char* text, std::size_t size) {
  if (size >= 4) return Load<std::uint32_t>(text) | std::uint64_t{Load<std::uint32_t>(text + size - 4)} << 32;
  if (size == 0) return 0;
  return static_cast<std::uint8_t>(text[0]) | static_cast<std::uint64_t>(static_cast<std::uint8_t>(text[size / 2])) << 8 |
         static_cast<std::uint64_t>(static_cast<std::uint8_t>(text[size - 1])) << 16;
}

// Equal texts; most grid texts are short, and a call to memcmp for each
// cheaply told pair costs more than the comparison.
inline bool Same(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const std::size_t size = a.size();
  if (size <= 8) return Short(a.data(), size) == Short(b.data(), size);
  if (size <= 16) {
    return Load<std::uint64_t>(a.data()) == Load<std::uint64_t>(b.data()) &&
           Load<std::uint64_t>(a.data() + size - 8) == Load<std::uint64_t>(b.data() + size - 8);
  }
  return std::memcmp(a.data(), b.data(), size) == 0;
}

// A text of decimal digits packed two to a byte, as the hexadecimal kind
// packs them; false, with `out` written in part, when the text holds
// anything else. Eight digits at a time on a little-endian machine: each
// byte's digit value, checked by a nibble test, and every pair joined.
bool PackDecimal(std::string_view text, char* out) {
  constexpr std::uint64_t kZeros = 0x3030303030303030u;
  constexpr std::uint64_t kLowNibbles = 0x0F0F0F0F0F0F0F0Fu;
  constexpr std::uint64_t kSixes = 0x0606060606060606u;
  std::size_t at = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; at + 8 <= text.size(); at += 8) {
      const std::uint64_t digits = Load<std::uint64_t>(text.data() + at) ^ kZeros;
      // Every byte 0..9: no high nibble, and none after adding six.
      if (((digits | (digits + kSixes)) & ~kLowNibbles) != 0) return false;
      std::uint64_t pairs = ((digits << 4) | (digits >> 8)) & 0x00FF00FF00FF00FFu;
      pairs = (pairs | (pairs >> 8)) & 0x0000FFFF0000FFFFu;
      const auto packed = static_cast<std::uint32_t>(pairs | (pairs >> 16));
      std::memcpy(out + at / 2, &packed, sizeof packed);
    }
  }
  for (; at < text.size(); ++at) {
    const unsigned digit = static_cast<unsigned>(static_cast<std::uint8_t>(text[at])) - '0';
    if (digit > 9) return false;
    if (at % 2 == 0) {
      out[at / 2] = static_cast<char>(digit << 4);
    } else {
      out[at / 2] = static_cast<char>(out[at / 2] | static_cast<char>(digit));
    }
  }
  return true;
}

// A dictionary word's hash, eight bytes at a time, each mixed in with a
// multiply; the last eight may overlap the ones before. Its top bits depend
// on every byte: the index takes those.
std::uint64_t WordHash(std::string_view text) {
  constexpr std::uint64_t kMix = 0x9E3779B97F4A7C15u;
  std::uint64_t hash = text.size();
  auto mix = [&hash](std::uint64_t chunk) { hash = (std::rotl(hash, 23) ^ chunk) * kMix; };
  const std::size_t size = text.size();
  if (size <= 8) {
    mix(Short(text.data(), size));
  } else {
    for (std::size_t at = 0; at + 8 < size; at += 8) mix(Load<std::uint64_t>(text.data() + at));
    mix(Load<std::uint64_t>(text.data() + size - 8));
  }
  return hash;
}

}  // namespace

void PackedCells::Append(std::string_view text) { CopyBytes(Extend(text.size()), text.data(), text.size()); }

void PackedCells::Erase(std::size_t at, std::size_t count) {
  std::memmove(bytes_.get() + at, bytes_.get() + at + count, size_ - at - count);
  size_ -= count;
}

// Twice the room, or what is asked, and no less than a typical row.
void PackedCells::Reserve(std::size_t size) {
  const std::size_t room = std::max({size, 2 * capacity_, std::size_t{256}});
  auto larger = std::make_unique_for_overwrite<char[]>(room);
  if (size_ != 0) std::memcpy(larger.get(), bytes_.get(), size_);
  bytes_ = std::move(larger);
  capacity_ = room;
}

RowStore::OpenRows::OpenRows() { offsets.fill(kNoRowOffset); }

// --- the worker -------------------------------------------------------------------

// A block handed to the worker, and what comes back: its rows as they were
// and their encoding, unless the worker failed. The encoding is copied into
// the block on the owner's thread, so that the frozen blocks, most of the
// store, come from the same heap as the rest of the window's memory; the
// room the worker wrote them in goes on to later blocks.
struct RowStore::Frozen {
  std::size_t block = 0;
  int firstRow = 0;
  std::uint16_t cols = 0;
  std::unique_ptr<OpenRows> rows;
  std::string encoded;
  std::uint32_t size = 0;
  bool failed = false;
};

// One thread that freezes the blocks handed to it in the order they came.
// Blocks move between the owner's hands and the worker's by splicing list
// nodes, which allocates nothing, so that no block is lost to a failed
// allocation once it is handed over.
class RowStore::Worker {
 public:
  explicit Worker(std::vector<Dictionary>& dictionaries) : dictionaries_(dictionaries) {}
  ~Worker() {
    {
      const std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // False when the system has no thread to give.
  bool Start() {
    try {
      thread_ = std::thread([this] { Run(); });
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  // Queues `job` and takes the blocks frozen since the last call, with the
  // first failure among them: one lock, and a wake-up only when the worker
  // sleeps and enough blocks wait.
  void HandOver(std::list<Frozen>& job, std::list<Frozen>& arrived, std::exception_ptr& error) {
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      queue_.splice(queue_.end(), job);
      arrived.splice(arrived.end(), done_);
      error = std::exchange(error_, nullptr);
      wake = sleeping_ && queue_.size() >= kWakeBlocks;
    }
    if (wake) wake_.notify_one();
  }

  // Waits until nothing is queued or being frozen, and takes every block
  // frozen, with the first failure among them.
  void Wait(std::list<Frozen>& arrived, std::exception_ptr& error) {
    std::unique_lock lock(mutex_);
    if (sleeping_ && !queue_.empty()) wake_.notify_one();
    ownerWaits_ = true;
    idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
    ownerWaits_ = false;
    arrived.splice(arrived.end(), done_);
    error = std::exchange(error_, nullptr);
  }

 private:
  void Run() {
    std::list<Frozen> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
      sleeping_ = true;
      wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
      sleeping_ = false;
      if (stop_) return;
      batch.splice(batch.end(), queue_);  // every block queued meanwhile, in one go
      busy_ = true;
      lock.unlock();
      std::exception_ptr failed;
      for (Frozen& job : batch) {
        try {
          job.size = static_cast<std::uint32_t>(Encode(dictionaries_, job.cols, *job.rows, job.firstRow, job.encoded));
          job.failed = false;
        } catch (...) {
          job.failed = true;
          if (!failed) failed = std::current_exception();
        }
      }
      lock.lock();
      done_.splice(done_.end(), batch);
      if (failed && !error_) error_ = failed;
      busy_ = false;
      if (ownerWaits_) idle_.notify_one();
    }
  }

  std::vector<Dictionary>& dictionaries_;  // the owner's, left to the worker while blocks are with it
  std::mutex mutex_;
  std::condition_variable wake_;  // the worker waits for blocks
  std::condition_variable idle_;  // the owner waits for the worker to finish them
  std::list<Frozen> queue_;
  std::list<Frozen> done_;
  std::exception_ptr error_;
  bool sleeping_ = false;
  bool ownerWaits_ = false;
  bool busy_ = false;
  bool stop_ = false;
  std::thread thread_;
};

RowStore::RowStore(Freezing freezing) : freezing_(freezing) { spares_.reserve(kSpareRows); }

// The worker goes first: it uses the dictionaries.
RowStore::~RowStore() { worker_.reset(); }

bool RowStore::StartWorker() {
  if (worker_) return true;
  auto worker = std::make_unique<Worker>(dictionaries_);
  if (!worker->Start()) {
    freezing_ = Freezing::OnCaller;
    return false;
  }
  worker_ = std::move(worker);
  return true;
}

void RowStore::SettleAll() const {
  std::list<Frozen> arrived;
  std::exception_ptr error;
  worker_->Wait(arrived, error);
  InstallAll(arrived, error);
}

void RowStore::InstallAll(std::list<Frozen>& arrived, std::exception_ptr error) const {
  for (Frozen& frozen : arrived) {
    try {
      Install(frozen);
    } catch (...) {
      if (!error) error = std::current_exception();
    }
  }
  while (!arrived.empty() && spareJobs_.size() < kSpareRows) spareJobs_.splice(spareJobs_.end(), arrived, arrived.begin());
  if (error) std::rethrow_exception(error);
}

void RowStore::Install(Frozen& frozen) const {
  Block& b = BlockAt(frozen.block);
  b.pending = false;
  --inFlight_;
  std::exception_ptr error;
  if (!frozen.failed) {
    try {
      SetFrozen(b, std::string_view(frozen.encoded.data(), frozen.size), frozen.cols, frozen.rows);
      return;
    } catch (const std::bad_alloc&) {
      error = std::current_exception();
    }
  }
  // Back as it was handed over, to be frozen again by freezeSettled.
  b.open = std::move(frozen.rows);
  reopened_.push_back(frozen.block);
  if (error) std::rethrow_exception(error);
}

// The block holds `encoded` from now on; its open rows, emptied, go to a
// block opened later, their strings' room included. When the room for the
// encoding cannot be had, nothing changes.
void RowStore::SetFrozen(Block& b, std::string_view encoded, std::uint16_t cols, std::unique_ptr<OpenRows>& rows) const {
  b.frozen = std::make_unique_for_overwrite<char[]>(encoded.size());
  std::memcpy(b.frozen.get(), encoded.data(), encoded.size());
  b.frozenSize = static_cast<std::uint32_t>(encoded.size());
  b.encodedCols = cols;
  ++frozenBlocks_;
  for (PackedCells& packed : rows->rows) packed.clear();
  rows->offsets.fill(kNoRowOffset);
  KeepSpare(std::move(rows));
}

std::unique_ptr<RowStore::OpenRows> RowStore::TakeSpare() {
  if (spares_.empty()) return std::make_unique<OpenRows>();
  std::unique_ptr<OpenRows> rows = std::move(spares_.back());
  spares_.pop_back();
  return rows;
}

void RowStore::KeepSpare(std::unique_ptr<OpenRows> rows) const {
  if (spares_.size() < kSpareRows) spares_.push_back(std::move(rows));  // room reserved: never allocates
}

// --- shape ------------------------------------------------------------------

void RowStore::setRowCount(int rows) {
  rows = std::max(rows, 0);
  const auto blocksNeeded = static_cast<std::size_t>((rows + kBlockRows - 1) / kBlockRows);
  if (rows >= rowCount_) {
    blocks_.resize(blocksNeeded - blockBase_);  // new blocks hold empty rows
    rowCount_ = rows;
    FreezeBehind();
    return;
  }
  Settle();
  for (std::size_t block = std::max(blocksNeeded, blockBase_); block < EndBlock(); ++block) {
    if (BlockAt(block).frozen) --frozenBlocks_;
    ForgetCached(block);
  }
  firstRow_ = std::min(firstRow_, rows);
  if (blocksNeeded < blockBase_) {  // every block kept goes
    blocks_.clear();
    blockBase_ = static_cast<std::size_t>(firstRow_ / kBlockRows);
  }
  blocks_.resize(blocksNeeded - blockBase_);
  rowCount_ = rows;
  // The rows of the last block beyond the new end must come back empty.
  const int kept = rows % kBlockRows;
  if (kept != 0) {
    const std::size_t last = blocksNeeded - 1;
    if (BlockAt(last).open || BlockAt(last).frozen) {
      OpenRows& open = Open(last);
      for (int i = kept; i < kBlockRows; ++i) {
        open.rows[static_cast<std::size_t>(i)].clear();
        open.offsets[static_cast<std::size_t>(i)] = kNoRowOffset;
      }
    }
  }
  nextFreeze_ = std::min(nextFreeze_, EndBlock());
  reopened_.erase(std::remove_if(reopened_.begin(), reopened_.end(),
                                 [this](std::size_t block) { return block >= EndBlock(); }),
                  reopened_.end());
  if (blocks_.capacity() > 2 * blocks_.size() + 64) blocks_.shrink_to_fit();  // a big run's rows go back
  ResetDictionariesIfUnused();
}

void RowStore::setColCount(int cols) {
  cols = std::clamp(cols, 0, kMaxColumns);
  Settle();
  if (cols < colCount_) {
    ForgetAllCached();
    for (std::size_t block = blockBase_; block < EndBlock(); ++block) {
      Block& b = BlockAt(block);
      if (!b.open && !b.frozen) continue;
      const bool wasFrozen = b.frozen != nullptr;
      OpenRows& open = Open(block);
      for (PackedCells& packed : open.rows) DropColumnsFrom(packed, cols);
      if (wasFrozen) {
        reopened_.erase(std::remove(reopened_.begin(), reopened_.end(), block), reopened_.end());
        colCount_ = cols;  // the encoding's row maps cover only what is kept
        Freeze(block);
      }
    }
  }
  colCount_ = cols;
  if (dictionaries_.size() < static_cast<std::size_t>(cols)) dictionaries_.resize(static_cast<std::size_t>(cols));
}

void RowStore::releaseRowsBelow(int row) {
  row = std::min(row, rowCount_);
  if (row <= firstRow_) return;
  Settle();  // a block with the worker comes back before it is freed
  const auto firstKept = static_cast<std::size_t>(row / kBlockRows);
  for (std::size_t block = static_cast<std::size_t>(firstRow_ / kBlockRows); block < firstKept; ++block) Empty(block);
  // The released rows of the block that holds the rest: an open one gives
  // their room back now, a frozen one when it goes as a whole.
  if (firstKept < EndBlock() && BlockAt(firstKept).open) {
    OpenRows& open = *BlockAt(firstKept).open;
    for (int i = std::max(firstRow_, static_cast<int>(firstKept) * kBlockRows) % kBlockRows; i < row % kBlockRows; ++i) {
      open.rows[static_cast<std::size_t>(i)].clear();
      open.offsets[static_cast<std::size_t>(i)] = kNoRowOffset;
    }
  }
  if (hotRow_ >= 0 && hotRow_ < row) hotRow_ = -1;
  if (!reopened_.empty()) {
    reopened_.erase(std::remove_if(reopened_.begin(), reopened_.end(),
                                   [firstKept](std::size_t block) { return block < firstKept; }),
                    reopened_.end());
  }
  nextFreeze_ = std::max(nextFreeze_, firstKept);
  firstRow_ = row;
  // The released blocks' records go once they are half of the vector.
  const std::size_t gone = firstKept - blockBase_;
  if (gone >= 1024 && 2 * gone >= blocks_.size()) {
    blocks_.erase(blocks_.begin(), blocks_.begin() + static_cast<std::ptrdiff_t>(gone));
    blockBase_ = firstKept;
  }
}

void RowStore::Empty(std::size_t block) {
  Block& b = BlockAt(block);
  if (b.open) {
    for (PackedCells& packed : b.open->rows) packed.clear();
    b.open->offsets.fill(kNoRowOffset);
    KeepSpare(std::move(b.open));
  }
  if (b.frozen) {
    b.frozen.reset();
    b.frozenSize = 0;
    --frozenBlocks_;
  }
  ForgetCached(block);
}

// --- cells and offsets -----------------------------------------------------------

void RowStore::setCell(int col, int row, std::string_view text) {
  if (Released(row) || row >= rowCount_ || col < 0 || col >= colCount_) return;
  text = text.substr(0, kMaxCellLength);
  const auto block = static_cast<std::size_t>(row / kBlockRows);
  const Block& b = BlockAt(block);
  if (!b.open && !b.frozen && !b.pending && text.empty()) return;  // already empty
  PackedCells& packed = (b.open ? *b.open : Open(block)).rows[static_cast<std::size_t>(row % kBlockRows)];
  if (row != hotRow_) {
    hotColumns_.reset();
    for (std::size_t at = 0; at + kEntryHead <= packed.size(); at += kEntryHead + EntryLength(packed, at)) {
      hotColumns_.set(static_cast<std::uint8_t>(packed.data()[at]));
    }
    hotRow_ = row;
  }
  const auto column = static_cast<std::size_t>(col);
  if (!hotColumns_.test(column)) {
    // Most cells are written once, into a row that does not hold them yet.
    if (!text.empty()) AppendEntry(packed, col, text);
  } else {
    PutCell(packed, col, text);
  }
  hotColumns_.set(column, !text.empty());
}

std::string_view RowStore::cell(int col, int row) const {
  if (Released(row) || row >= rowCount_ || col < 0 || col >= colCount_) return {};
  return CellOf(PackedRow(row), col);
}

void RowStore::columnCells(int col, int first, int end, const CellVisitor& each) const {
  end = std::min(end, rowCount_);
  int row = std::max(first, 0);
  for (; row < end && Released(row); ++row) each(row, {});
  if (col < 0 || col >= colCount_) {
    for (; row < end; ++row) each(row, {});
    return;
  }
  Settle();
  while (row < end) {
    const auto block = static_cast<std::size_t>(row / kBlockRows);
    const int blockEnd = std::min(end, static_cast<int>(block + 1) * kBlockRows);
    const Block& b = BlockAt(block);
    if (!b.open && b.frozen) {
      DecodeColumn(b, static_cast<int>(block) * kBlockRows, col, row, blockEnd, each);
    } else {
      for (int r = row; r < blockEnd; ++r) each(r, cell(col, r));
    }
    row = blockEnd;
  }
}

void RowStore::DecodeColumn(const Block& block, int firstRow, int col, int from, int to, const CellVisitor& each) const {
  const std::size_t cols = block.encodedCols;
  const std::size_t mapBytes = (cols + 7) / 8;
  const auto wanted = static_cast<std::size_t>(col);
  std::string above;
  std::string here;
  std::array<char, 16> numberBuffer{};
  Reader in{block.frozen.get()};
  for (int row = firstRow; row < to; ++row) {
    const char* map = in.at;
    in.at += mapBytes;
    here.clear();
    for (std::size_t c = 0; c < cols; ++c) {
      if ((static_cast<std::uint8_t>(map[c / 8]) & (1 << (c % 8))) == 0) continue;
      const std::uint8_t tag = in.Byte();
      const bool mine = c == wanted;
      if (tag == kSame) {
        if (mine) here = above;
      } else if (tag == kRowNumber) {
        if (mine) here = RowNumberText(row, numberBuffer);
      } else if (tag == kWord) {
        const std::uint8_t word = in.Byte();
        if (mine) here = dictionaries_[c].words[word];
      } else {
        const auto [shared, length] = ReadTextHead(in, tag);
        if (mine) {
          here.assign(above, 0, std::min(shared, above.size()));
          here.resize(here.size() + length);
          ReadText(in, tag, here.data() + here.size() - length, length);
        } else {
          ReadText(in, tag, nullptr, length);
        }
      }
    }
    in.Number();  // the row's offset
    if (row >= from) each(row, here);
    std::swap(above, here);
  }
}

std::vector<std::string> RowStore::row(int row) const {
  std::vector<std::string> cells(static_cast<std::size_t>(colCount_));
  if (Released(row) || row >= rowCount_) return cells;
  const std::string_view packed = PackedRow(row);
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    const auto col = static_cast<std::uint8_t>(packed[at]);
    if (col < cells.size()) cells[col].assign(packed.data() + at + kEntryHead, length);
    at += kEntryHead + length;
  }
  return cells;
}

void RowStore::rowCells(int row, std::span<std::string_view> cells) const {
  std::fill(cells.begin(), cells.end(), std::string_view());
  if (Released(row) || row >= rowCount_) return;
  const std::string_view packed = PackedRow(row);
  // Views made without substr's test: every entry's text lies in the row.
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    const auto col = static_cast<std::uint8_t>(packed[at]);
    if (col < cells.size()) cells[col] = std::string_view(packed.data() + at + kEntryHead, length);
    at += kEntryHead + length;
  }
}

std::string_view RowStore::rowBytes(int row) const {
  if (Released(row) || row >= rowCount_) return {};
  return PackedRow(row);
}

void RowStore::setOffset(int row, std::int64_t offset) {
  if (Released(row) || row >= rowCount_) return;
  const auto block = static_cast<std::size_t>(row / kBlockRows);
  const Block& b = BlockAt(block);
  if (!b.open && !b.frozen && !b.pending && offset == kNoRowOffset) return;
  Open(block).offsets[static_cast<std::size_t>(row % kBlockRows)] = offset;
}

std::int64_t RowStore::offset(int row) const {
  if (Released(row) || row >= rowCount_) return kNoRowOffset;
  const auto block = static_cast<std::size_t>(row / kBlockRows);
  const Block& b = BlockAt(block);
  const auto i = static_cast<std::size_t>(row % kBlockRows);
  if (b.open) return b.open->offsets[i];
  if (b.pending) Settle();
  if (!b.frozen) return kNoRowOffset;
  return Cached(block).rows.offsets[i];
}

std::string_view RowStore::PackedRow(int row) const {
  const auto block = static_cast<std::size_t>(row / kBlockRows);
  const Block& b = BlockAt(block);
  const auto i = static_cast<std::size_t>(row % kBlockRows);
  if (b.open) return b.open->rows[i];
  if (b.pending) Settle();
  if (!b.frozen) return {};
  return Cached(block).rows.rows[i];
}

// --- opening and freezing -------------------------------------------------------

RowStore::OpenRows& RowStore::Open(std::size_t block) {
  Block& b = BlockAt(block);
  if (b.open) return *b.open;
  if (b.pending || b.frozen) {
    Settle();  // decoding reads the dictionaries
    if (b.open) return *b.open;
  }
  std::unique_ptr<OpenRows> rows = TakeSpare();
  if (b.frozen) {
    Decode(b, static_cast<int>(block) * kBlockRows, *rows);
    b.frozen.reset();
    b.frozenSize = 0;
    --frozenBlocks_;
    ForgetCached(block);
  }
  b.open = std::move(rows);
  if (block < nextFreeze_) reopened_.push_back(block);
  return *b.open;
}

void RowStore::Freeze(std::size_t block, bool handOver) {
  Block& b = BlockAt(block);
  if (!b.open) return;
  if (hotRow_ >= 0 && static_cast<std::size_t>(hotRow_ / kBlockRows) == block) hotRow_ = -1;
  const bool empty = std::all_of(b.open->rows.begin(), b.open->rows.end(), [](const PackedCells& r) { return r.empty(); }) &&
                     std::all_of(b.open->offsets.begin(), b.open->offsets.end(),
                                 [](std::int64_t o) { return o == kNoRowOffset; });
  if (empty) {
    KeepSpare(std::move(b.open));
    return;
  }
  const int firstRow = static_cast<int>(block) * kBlockRows;
  const auto cols = static_cast<std::uint16_t>(colCount_);
  if (handOver && freezing_ == Freezing::OnWorker && StartWorker()) {
    // The record is had before the rows leave the block: a failed
    // allocation loses nothing.
    std::list<Frozen> job;
    if (spareJobs_.empty()) {
      job.emplace_back();
    } else {
      job.splice(job.end(), spareJobs_, spareJobs_.begin());
    }
    job.front().block = block;
    job.front().firstRow = firstRow;
    job.front().cols = cols;
    job.front().rows = std::move(b.open);
    b.pending = true;
    ++inFlight_;
    std::list<Frozen> arrived;
    std::exception_ptr error;
    worker_->HandOver(job, arrived, error);
    InstallAll(arrived, error);  // a block that failed is open again, nothing lost
    return;
  }
  Settle();  // blocks handed over earlier go into the dictionaries first
  const std::size_t size = Encode(dictionaries_, cols, *b.open, firstRow, scratch_);
  SetFrozen(b, std::string_view(scratch_.data(), size), cols, b.open);
}

void RowStore::FreezeBehind() {
  while (nextFreeze_ < EndBlock() && Settled(nextFreeze_)) Freeze(nextFreeze_++, true);
}

void RowStore::freezeSettled() {
  if (!reopened_.empty()) {
    Settle();
    std::vector<std::size_t> still;
    for (std::size_t block : reopened_) {
      if (block < blockBase_ || block >= EndBlock() || !BlockAt(block).open) continue;
      if (Settled(block)) {
        Freeze(block);
      } else {
        still.push_back(block);
      }
    }
    still.erase(std::unique(still.begin(), still.end()), still.end());
    reopened_.swap(still);
  }
  FreezeBehind();
}

// --- the encoding -----------------------------------------------------------------

namespace {

char* PutNumber(char* put, std::uint64_t value) {
  while (value >= 0x80) {
    *put++ = static_cast<char>((value & 0x7F) | 0x80);
    value >>= 7;
  }
  *put++ = static_cast<char>(value);
  return put;
}

// How many leading characters `text` shares with the cell above, when
// enough to be worth the byte that says so.
std::size_t SharedBeginning(std::string_view text, std::string_view prev) {
  std::size_t shared = 0;
  const std::size_t most = std::min({text.size(), prev.size(), kMaxShared});
  while (shared < most && text[shared] == prev[shared]) ++shared;
  return shared < kMinShared ? 0 : shared;
}

// `text` two characters to a byte with the nibbles of `nibble`; which kinds
// of digits (bits as in NibbleTables::kinds) every character is.
unsigned PackNibbles(std::string_view text, const std::array<std::uint8_t, 256>& nibble, char* out) {
  const auto* chars = reinterpret_cast<const std::uint8_t*>(text.data());
  const std::size_t pairs = text.size() / 2;
  unsigned kinds = 3;
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::uint8_t high = chars[2 * i];
    const std::uint8_t low = chars[2 * i + 1];
    kinds &= kNibbles.kinds[high] & kNibbles.kinds[low];
    out[i] = static_cast<char>((nibble[high] << 4) | nibble[low]);
  }
  if (text.size() % 2 != 0) {
    const std::uint8_t last = chars[text.size() - 1];
    kinds &= kNibbles.kinds[last];
    out[pairs] = static_cast<char>(nibble[last] << 4);
  }
  return kinds;
}

// The rest of a text after its shared beginning: decimal digits, most
// texts, eight at a time; else packed as hexadecimal digits while finding
// out whether they all are, and packed again with the other digits, or
// copied, when they are not. Sets the kind the tag names.
char* PutPacked(char* put, std::string_view rest, std::uint8_t& kind) {
  const std::size_t packedSize = (rest.size() + 1) / 2;
  kind = kHexKind;
  if (PackDecimal(rest, put)) return put + packedSize;
  const unsigned kinds = PackNibbles(rest, kNibbles.hex, put);
  if ((kinds & 1) != 0) return put + packedSize;
  if ((kinds & 2) != 0) {
    kind = kAltKind;
    PackNibbles(rest, kNibbles.alt, put);
    return put + packedSize;
  }
  kind = kRawKind;
  std::memcpy(put, rest.data(), rest.size());
  return put + rest.size();
}

// A cell that none of the one-byte forms fits: its tag, the length of the
// beginning it shares with the cell above, the length of the rest, the rest.
char* PutText(char* put, std::string_view text, std::string_view prev) {
  const std::size_t shared = SharedBeginning(text, prev);
  const std::string_view rest = text.substr(shared);
  const std::size_t shortLength = std::min(rest.size(), kLongLength);
  char* const tag = put++;
  if (shared != 0) *put++ = static_cast<char>(shared);
  if (shortLength == kLongLength) put = PutNumber(put, rest.size() - kLongLength);
  std::uint8_t kind = 0;
  put = PutPacked(put, rest, kind);
  *tag = static_cast<char>(kind | (shared != 0 ? kSharedFlag : 0) | shortLength);
  return put;
}

}  // namespace

int RowStore::Dictionary::Lookup(std::string_view text) {
  if (!enabled || text.size() > kMaxWordLength) return -1;
  ++tries;
  std::size_t slot = static_cast<std::size_t>(WordHash(text) >> (64 - kSlotBits));
  while (index[slot] != 0 && !Same(words[index[slot] - 1u], text)) slot = (slot + 1) & (kSlots - 1);
  if (index[slot] != 0) {
    ++hits;
    return index[slot] - 1;
  }
  if (words.size() < kMaxWords) {
    words.emplace_back(text);
    index[slot] = static_cast<std::uint8_t>(words.size());
  } else if (tries >= kWordTrial) {
    if (hits * kWordHitShare < tries) enabled = false;
    tries = hits = 0;
  }
  return -1;
}

// The steps of a block's encoding. Each writes at `put` and returns where it
// stopped: the pointer stays in the caller's local, which the byte stores
// cannot alias, so that the compiler need not reload it after each.
struct RowStore::BlockEncoder {
  using ColumnBits = std::array<std::uint64_t, kMaxColumns / 64>;
  // A row's texts by column, valid where their bit is set in `present`.
  struct RowTexts {
    std::array<std::string_view, kMaxColumns> texts;
    ColumnBits present;
  };

  // The most a block's encoding can take, so that it is written without a
  // test for room: a cell at most a tag, a shared length, three length bytes
  // and its text, which is no more than twice its packed entry; a row its
  // map and an offset of at most ten bytes.
  static std::size_t Room(const OpenRows& rows, std::size_t mapBytes) {
    std::size_t room = 0;
    for (const PackedCells& packed : rows.rows) room += mapBytes + 10 + 2 * packed.size();
    return room;
  }

  // The row's texts that are not empty, of the first `cols` columns.
  static void Spread(std::string_view packed, std::size_t cols, RowTexts& row) {
    row.present = {};
    for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
      const std::size_t length = EntryLength(packed, at);
      const auto col = static_cast<std::uint8_t>(packed[at]);
      if (col < cols && length != 0) {
        row.texts[col] = packed.substr(at + kEntryHead, length);
        row.present[col / 64] |= std::uint64_t{1} << (col % 64);
      }
      at += kEntryHead + length;
    }
  }

  // The row's map: the bytes of `present`, as many as the columns need.
  static char* PutMap(char* put, const ColumnBits& present, std::size_t mapBytes) {
    for (std::size_t i = 0; i < mapBytes; ++i) put[i] = static_cast<char>(present[i / 8] >> (8 * (i % 8)));
    return put + mapBytes;
  }

  // The row's cells in column order, each in the shortest of its forms.
  static char* PutCells(char* put, std::vector<Dictionary>& dictionaries, const RowTexts& row, const RowTexts& above,
                        std::string_view number) {
    for (std::size_t word = 0; word < row.present.size(); ++word) {
      for (std::uint64_t bits = row.present[word]; bits != 0; bits &= bits - 1) {
        const std::size_t col = 64 * word + static_cast<std::size_t>(std::countr_zero(bits));
        const std::string_view text = row.texts[col];
        const bool hasAbove = (above.present[word] & (std::uint64_t{1} << (col % 64))) != 0;
        const std::string_view prev = hasAbove ? above.texts[col] : std::string_view();
        if (Same(text, prev)) {
          *put++ = static_cast<char>(kSame);
        } else if (Same(text, number)) {
          *put++ = static_cast<char>(kRowNumber);
        } else if (const int id = dictionaries[col].Lookup(text); id >= 0) {
          *put++ = static_cast<char>(kWord);
          *put++ = static_cast<char>(id);
        } else {
          put = PutText(put, text, prev);
        }
      }
    }
    return put;
  }
};

std::size_t RowStore::Encode(std::vector<Dictionary>& dictionaries, std::size_t cols, const OpenRows& rows, int firstRow,
                             std::string& out) {
  const std::size_t mapBytes = (cols + 7) / 8;
  const std::size_t room = BlockEncoder::Room(rows, mapBytes);
  if (out.size() < room) out.resize(room);
  char* put = out.data();
  std::array<BlockEncoder::RowTexts, 2> texts{};  // by turns the row's and the row above's
  std::array<char, 16> numberBuffer{};
  std::int64_t lastOffset = 0;
  for (std::size_t r = 0; r < static_cast<std::size_t>(kBlockRows); ++r) {
    BlockEncoder::RowTexts& row = texts[r % 2];
    BlockEncoder::Spread(rows.rows[r], cols, row);
    put = BlockEncoder::PutMap(put, row.present, mapBytes);
    const std::string_view number = RowNumberText(firstRow + static_cast<int>(r), numberBuffer);
    put = BlockEncoder::PutCells(put, dictionaries, row, texts[(r + 1) % 2], number);
    // Differences taken modulo 2^64, so that no pair of offsets overflows.
    put = PutNumber(put, ZigZag(static_cast<std::int64_t>(static_cast<std::uint64_t>(rows.offsets[r]) -
                                                         static_cast<std::uint64_t>(lastOffset))));
    lastOffset = rows.offsets[r];
  }
  return static_cast<std::size_t>(put - out.data());
}

void RowStore::Decode(const Block& block, int firstRow, OpenRows& out) const {
  const std::size_t cols = block.encodedCols;
  const std::size_t mapBytes = (cols + 7) / 8;
  // Where each column's text stands in the row above: position and length.
  std::array<std::uint32_t, kMaxColumns> abovePos{};
  std::array<std::uint32_t, kMaxColumns> aboveLength{};
  std::array<std::uint32_t, kMaxColumns> herePos{};
  std::array<std::uint32_t, kMaxColumns> hereLength{};
  std::array<char, 16> numberBuffer{};
  Reader in{block.frozen.get()};
  std::int64_t lastOffset = 0;
  for (std::size_t r = 0; r < static_cast<std::size_t>(kBlockRows); ++r) {
    PackedCells& packed = out.rows[r];
    packed.clear();
    const PackedCells* above = r > 0 ? &out.rows[r - 1] : nullptr;
    const char* map = in.at;
    in.at += mapBytes;
    for (std::size_t col = 0; col < cols; ++col) {
      hereLength[col] = 0;
      if ((static_cast<std::uint8_t>(map[col / 8]) & (1 << (col % 8))) == 0) continue;
      const std::uint8_t tag = in.Byte();
      const std::size_t start = packed.size() + kEntryHead;
      auto aboveText = [&]() -> std::string_view {
        if (above == nullptr || aboveLength[col] == 0) return {};
        return std::string_view(*above).substr(abovePos[col], aboveLength[col]);
      };
      if (tag == kSame) {
        AppendEntry(packed, static_cast<int>(col), aboveText());
      } else if (tag == kRowNumber) {
        AppendEntry(packed, static_cast<int>(col), RowNumberText(firstRow + static_cast<int>(r), numberBuffer));
      } else if (tag == kWord) {
        AppendEntry(packed, static_cast<int>(col), dictionaries_[col].words[in.Byte()]);
      } else {
        const auto [shared, length] = ReadTextHead(in, tag);
        const std::size_t total = shared + length;
        const char head[kEntryHead] = {static_cast<char>(col), static_cast<char>(total & 0xFF),
                                       static_cast<char>(total >> 8)};
        packed.Append({head, kEntryHead});
        packed.Append(aboveText().substr(0, shared));
        // Written in place: reading a grid of millions of rows spends most of its time here.
        ReadText(in, tag, packed.Extend(length), length);
      }
      herePos[col] = static_cast<std::uint32_t>(start);
      hereLength[col] = static_cast<std::uint32_t>(packed.size() - start);
    }
    std::copy_n(herePos.begin(), cols, abovePos.begin());
    std::copy_n(hereLength.begin(), cols, aboveLength.begin());
    lastOffset = static_cast<std::int64_t>(static_cast<std::uint64_t>(lastOffset) +
                                           static_cast<std::uint64_t>(UnZigZag(in.Number())));
    out.offsets[r] = lastOffset;
  }
}

// --- the read cache and the dictionaries ------------------------------------------

const RowStore::Decoded& RowStore::Cached(std::size_t block) const {
  Decoded* slot = &cache_.front();
  for (Decoded& entry : cache_) {
    if (entry.block == static_cast<int>(block)) {
      entry.lastUse = ++uses_;
      return entry;
    }
    if (entry.lastUse < slot->lastUse) slot = &entry;
  }
  Settle();  // decoding reads the dictionaries
  Decode(BlockAt(block), static_cast<int>(block) * kBlockRows, slot->rows);
  slot->block = static_cast<int>(block);
  slot->lastUse = ++uses_;
  return *slot;
}

void RowStore::ForgetCached(std::size_t block) {
  for (Decoded& entry : cache_) {
    if (entry.block == static_cast<int>(block)) entry.block = -1;
  }
}

void RowStore::ForgetAllCached() {
  for (Decoded& entry : cache_) entry.block = -1;
}

void RowStore::ResetDictionariesIfUnused() {
  Settle();
  if (frozenBlocks_ != 0) return;
  for (Dictionary& words : dictionaries_) words = Dictionary();
}

std::string_view RowStore::frozenBytes(int block) const {
  if (block < 0 || static_cast<std::size_t>(block) < blockBase_ || static_cast<std::size_t>(block) >= EndBlock()) return {};
  Settle();
  const Block& b = BlockAt(static_cast<std::size_t>(block));
  return b.frozen ? std::string_view(b.frozen.get(), b.frozenSize) : std::string_view();
}

std::size_t RowStore::bytes() const {
  Settle();
  std::size_t total = blocks_.capacity() * sizeof(Block);
  for (const Block& b : blocks_) {
    total += b.frozenSize;
    if (b.open) {
      total += sizeof(OpenRows);
      for (const PackedCells& packed : b.open->rows) total += packed.capacity();
    }
  }
  total += dictionaries_.capacity() * sizeof(Dictionary);
  for (const Dictionary& words : dictionaries_) {
    total += words.words.capacity() * sizeof(std::string);
    for (const std::string& word : words.words) total += word.capacity() > 15 ? word.capacity() + 1 : 0;
  }
  total += spares_.size() * sizeof(OpenRows);
  total += sizeof(cache_);
  for (const Decoded& entry : cache_) {
    for (const PackedCells& packed : entry.rows.rows) total += packed.capacity();
  }
  return total;
}

}  // namespace kalvrin
