// The batch rules' bookkeeping.
#include "verify/batch_rules.h"

#include <algorithm>

namespace kalvrin::verify {

std::string SumText(Sum value) {
  std::string text;
  do {
    text.insert(text.begin(), static_cast<char>('0' + static_cast<int>(value % 10)));
    value /= 10;
  } while (value != 0);
  return text;
}

std::optional<Sum> ParseSum(std::string_view digits) {
  if (digits.empty() || digits.size() > 38) return std::nullopt;
  Sum value = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value;
}

void Totals::Add(std::string_view mti, std::string_view processingCode, std::optional<Sum> amount) {
  if (mti == "1140") {
    ++values[kAuthorisations];
    return;
  }
  if (mti != "1240" && mti != "1440") return;
  if (processingCode.size() < 2 || processingCode[0] < '0' || processingCode[0] > '9' || processingCode[1] < '0' ||
      processingCode[1] > '9') {
    return;
  }
  const int kind = (processingCode[0] - '0') * 10 + (processingCode[1] - '0');
  if (kind > 29) return;
  const bool debit = kind <= 19;
  const bool reversal = mti == "1440";
  const std::size_t count = debit ? (reversal ? kDebitReversals : kDebits) : (reversal ? kCreditReversals : kCredits);
  ++values[count];
  if (amount) {
    values[count + 5] += *amount;  // each count's amount stands five places on
  } else {
    amountsKnown = false;
  }
}

bool FitsCumulative(const DeclaredTotals& declared, const Totals& batch, const Totals& file) {
  int batchFits = 0;
  int fileFits = 0;
  for (std::size_t i = 0; i < declared.size(); ++i) {
    if (!declared[i]) continue;
    batchFits += *declared[i] == batch.values[i];
    fileFits += *declared[i] == file.values[i];
  }
  return fileFits > batchFits;
}

std::optional<std::uint64_t> MessageNumbers::Next(std::uint64_t value) {
  if (expected_.empty() || std::find(expected_.begin(), expected_.end(), value) != expected_.end()) {
    Accept({value + 1});
    return std::nullopt;
  }
  const std::uint64_t wanted = expected_.front();
  // one wrong number: the next goes on from the expected one; a gap: from this one
  std::vector<std::uint64_t> next;
  for (const std::uint64_t e : expected_) next.push_back(e + 1);
  next.push_back(value + 1);
  Accept(std::move(next));
  return wanted;
}

void MessageNumbers::Unknown() {
  if (expected_.empty()) return;
  std::vector<std::uint64_t> next = expected_;
  for (const std::uint64_t e : expected_) next.push_back(e + 1);
  Accept(std::move(next));
}

void MessageNumbers::Accept(std::vector<std::uint64_t> next) {
  // a handful of readings is plenty; the oldest go first
  std::vector<std::uint64_t> kept;
  for (const std::uint64_t value : next) {
    if (std::find(kept.begin(), kept.end(), value) == kept.end()) kept.push_back(value);
  }
  if (kept.size() > 4) kept.erase(kept.begin(), kept.end() - 4);
  expected_ = std::move(kept);
}

std::uint64_t KeyHash(std::initializer_list<std::string_view> fields) {
  std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a, each field ended by a byte no field holds
  for (const std::string_view field : fields) {
    for (const char c : field) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
    hash = (hash ^ 0x100u) * 0x100000001b3ull;
  }
  // final mix, so that the slot and the kept bits are both well spread
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ull;
  hash ^= hash >> 33;
  return hash;
}

namespace {

// The slot of a hash in a table of `size` slots, from the bits below the
// ones that chose the table.
std::size_t SlotOf(std::uint64_t hash, int tableBits, std::size_t size) {
  __extension__ using Wide = unsigned __int128;
  return static_cast<std::size_t>((static_cast<Wide>(hash << tableBits) * size) >> 64);
}

}  // namespace

std::int64_t DuplicateIndex::Insert(std::uint64_t keyHash, std::int64_t record) {
  Table& table = tables_[keyHash >> (64 - kTableBits)];
  if ((table.used + 1) * 100 > table.hashes.size() * 92) Grow(table);
  // records past 32 bits are not named; a file of four billion messages is not a batch
  const auto stored = static_cast<std::uint32_t>(std::min<std::int64_t>(record, 0xFFFFFFFF));
  const std::size_t size = table.hashes.size();
  for (std::size_t at = SlotOf(keyHash, kTableBits, size);; at = at + 1 == size ? 0 : at + 1) {
    if (table.records[at] == 0) {
      table.hashes[at] = keyHash;
      table.records[at] = stored;
      ++table.used;
      return 0;
    }
    if (table.hashes[at] == keyHash) return table.records[at];
  }
}

void DuplicateIndex::Grow(Table& table) {
  const std::size_t old = table.hashes.size();
  const std::size_t size = std::max<std::size_t>(16, old + old / 4);
  std::vector<std::uint64_t> hashes(size, 0);
  std::vector<std::uint32_t> records(size, 0);
  peakBytes_ = std::max(peakBytes_, bytes_ + size * kSlotBytes);
  for (std::size_t i = 0; i < old; ++i) {
    if (table.records[i] == 0) continue;
    std::size_t at = SlotOf(table.hashes[i], kTableBits, size);
    while (records[at] != 0) at = at + 1 == size ? 0 : at + 1;
    hashes[at] = table.hashes[i];
    records[at] = table.records[i];
  }
  table.hashes = std::move(hashes);
  table.records = std::move(records);
  bytes_ += (size - old) * kSlotBytes;
}

}  // namespace kalvrin::verify
