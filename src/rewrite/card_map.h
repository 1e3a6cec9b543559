// The keyed replacement of card numbers for anonymised test copies: each
// number of 8 to 19 digits gets another of the same length with the same
// first six digits (the issuer's range) and a valid Luhn check digit. The
// mapping is one to one and never yields a number the file holds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin::rewrite {

inline constexpr std::size_t kShortestMappedNumber = 8;  // six kept, one check digit, at least one drawn
inline constexpr std::size_t kLongestMappedNumber = 19;
inline constexpr std::size_t kKeptDigits = 6;

// The Luhn check digit for `digits` (the number without it).
char LuhnDigit(std::string_view digits);
bool PassesLuhn(std::string_view number);

// Numbers of 1 to 19 digits as one 64-bit word each, a different word for
// "0123" and "123": the numbers of each length stand in their own range.
std::uint64_t PackNumber(std::string_view digits);
std::string UnpackNumber(std::uint64_t packed);

// A set of packed numbers, with a value beside each when asked for; open
// addressing, 8 bytes a slot (16 with values), up to nine tenths full.
class NumberTable {
 public:
  explicit NumberTable(bool withValues) : withValues_(withValues) {}
  // The value stored for `key` (0 in a table without values), or nullopt
  // when the key is not in the table.
  std::optional<std::uint64_t> Find(std::uint64_t key) const;
  bool Contains(std::uint64_t key) const { return Find(key).has_value(); }
  // Adds the key when absent; sets its value in a table with values.
  void Insert(std::uint64_t key, std::uint64_t value = 0);
  // Room for `count` keys in all, and no more: the table takes the size it
  // needs for them.
  void Reserve(std::size_t count);
  std::size_t Size() const { return used_; }
  std::size_t Bytes() const { return (keys_.size() + values_.size()) * sizeof(std::uint64_t); }

 private:
  std::size_t SlotOf(std::uint64_t key) const;
  std::size_t Place(std::uint64_t key) const;  // its slot, or the empty one it would take
  void Resize(std::size_t size);
  bool withValues_;
  std::vector<std::uint64_t> keys_;  // 0: an empty slot (packed numbers are never 0)
  std::vector<std::uint64_t> values_;
  std::size_t used_ = 0;
};

// Card numbers of the input file first (Remember, in a first read), then
// their replacements (Replace, in the second). Each number's replacement is
// drawn again where it stands; a table of the replacements drawn, each with
// the number it belongs to, keeps the mapping one to one, so the map holds
// 8 bytes for each number of the input and 16 for each replacement, at
// least nine tenths of its slots used once Seal has sized it.
class CardNumberMap {
 public:
  // `secret`: the key of the mapping; the same secret gives the same
  // replacements. Empty: a random one, kept only as long as the map.
  explicit CardNumberMap(std::string secret);
  ~CardNumberMap();
  CardNumberMap(const CardNumberMap&) = delete;
  CardNumberMap& operator=(const CardNumberMap&) = delete;

  // A card number the input holds: never a replacement.
  void Remember(std::string_view number);
  // Every number is remembered: the tables take their final size.
  void Seal();
  // The replacement of a number of kShortestMappedNumber to
  // kLongestMappedNumber digits; nullopt when its issuer range has no number
  // left that the file does not hold (only for the shortest numbers).
  std::optional<std::string> Replace(std::string_view number);

  std::size_t DistinctNumbers() const { return held_.Size(); }
  std::size_t Bytes() const { return held_.Bytes() + owners_.Bytes(); }

 private:
  std::string Candidate(std::string_view number, std::uint32_t attempt) const;
  std::string secret_;
  NumberTable held_{false};   // the input's numbers
  NumberTable owners_{true};  // each replacement drawn, with the number it replaces
};

// Whether a text of digits is one CardNumberMap maps.
bool IsMappedLength(std::string_view digits);
bool AllDigits(std::string_view text);

}  // namespace kalvrin::rewrite
