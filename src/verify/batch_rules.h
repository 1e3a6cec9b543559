// The batch rules' bookkeeping: the S71 sequence, the index of transaction
// keys for duplicates, and the reconciliation totals with exact sums.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin::verify {

// Counts and sums with room to spare: 16-digit amounts over any number of
// messages never overflow it.
__extension__ using Sum = unsigned __int128;
std::string SumText(Sum value);
// Up to 39 digits; nullopt for anything else.
std::optional<Sum> ParseSum(std::string_view digits);

// The totals a reconciliation message declares, in this order.
inline constexpr std::array<int, 9> kTotalElements = {74, 75, 76, 77, 81, 86, 87, 88, 89};
inline constexpr std::size_t kCredits = 0, kCreditReversals = 1, kDebits = 2, kDebitReversals = 3,
                             kAuthorisations = 4, kCreditAmount = 5, kCreditReversalAmount = 6, kDebitAmount = 7,
                             kDebitReversalAmount = 8;
constexpr bool IsTotalElement(int element) {
  for (const int total : kTotalElements) {
    if (total == element) return true;
  }
  return false;
}

struct Totals {
  std::array<Sum, kTotalElements.size()> values{};
  bool amountsKnown = true;  // false once a counted message's P4 was not a number

  // A transaction message: a 1240 with P3 characters 1-2 from 00 to 19 is a
  // debit, 20 to 29 a credit; a 1440 reverses one of them; a 1140 counts as
  // an authorisation. `amount` is P4, nullopt when it is not a number.
  void Add(std::string_view mti, std::string_view processingCode, std::optional<Sum> amount);
};

// The values a reconciliation message declares, each nullopt when absent or
// not a number.
using DeclaredTotals = std::array<std::optional<Sum>, kTotalElements.size()>;
// Which reading of them fits: since the file header (true) when more of them
// equal that count than the batch's, else since the batch's start.
bool FitsCumulative(const DeclaredTotals& declared, const Totals& batch, const Totals& file);

// The S71 sequence: each message's number is the previous one's plus 1, the
// first is free. After a wrong number or a gap either reading may go on, and
// after a message whose number could not be read, the next may count it or not.
class MessageNumbers {
 public:
  // nullopt when `value` continues the sequence, else the value expected.
  std::optional<std::uint64_t> Next(std::uint64_t value);
  // A message whose S71 is unknown (broken, missing or not a number).
  void Unknown();

 private:
  void Accept(std::vector<std::uint64_t> next);
  std::vector<std::uint64_t> expected_;  // empty: nothing seen yet
};

// Transaction keys seen so far: 12 bytes a slot (the key's 64-bit hash and
// the record), in 256 tables chosen by the hash's top byte, each grown by a
// quarter when 92% full. Only one small table is copied at a time, so the
// index holds 13 to 17 bytes per transaction message even while it grows.
class DuplicateIndex {
 public:
  // The record of an earlier message with the same key, or 0; the key is
  // added either way.
  std::int64_t Insert(std::uint64_t keyHash, std::int64_t record);
  // The most bytes the index held at once.
  std::size_t Bytes() const { return peakBytes_; }

 private:
  static constexpr int kTableBits = 8;
  struct Table {
    std::vector<std::uint64_t> hashes;
    std::vector<std::uint32_t> records;  // 0: an empty slot
    std::size_t used = 0;
  };
  static constexpr std::size_t kSlotBytes = sizeof(std::uint64_t) + sizeof(std::uint32_t);
  void Grow(Table& table);
  std::vector<Table> tables_ = std::vector<Table>(std::size_t{1} << kTableBits);
  std::size_t bytes_ = 0;
  std::size_t peakBytes_ = 0;
};

std::uint64_t KeyHash(std::initializer_list<std::string_view> fields);

}  // namespace kalvrin::verify
