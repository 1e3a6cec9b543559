// The keyed card number replacement: HMAC-SHA-256 of the number under the
// secret draws the digits between the issuer's six and the check digit; a
// draw that the file holds or that another number took is drawn again.
#include "rewrite/card_map.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <stdexcept>

#include "mac/wipe.h"

namespace kalvrin::rewrite {

namespace {

// Where the numbers of each length start: every shorter length's count of
// numbers, plus one so that no packed number is 0. 19 digits still fit.
constexpr std::array<std::uint64_t, kLongestMappedNumber + 2> LengthBases() {
  std::array<std::uint64_t, kLongestMappedNumber + 2> bases{};
  std::uint64_t base = 1;
  std::uint64_t count = 1;  // numbers of length 0
  for (std::size_t length = 0; length < bases.size(); ++length) {
    bases[length] = base;
    if (length + 1 < bases.size()) {
      base += count;
      count = length < kLongestMappedNumber ? count * 10 : count;
    }
  }
  return bases;
}
constexpr auto kLengthBases = LengthBases();

constexpr std::uint32_t kMostAttempts = 1000;

}  // namespace

char LuhnDigit(std::string_view digits) {
  int sum = 0;
  bool doubled = true;  // the digit left of the check digit is doubled
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    int d = *it - '0';
    if (doubled) d = d * 2 > 9 ? d * 2 - 9 : d * 2;
    sum += d;
    doubled = !doubled;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

bool PassesLuhn(std::string_view number) {
  return !number.empty() && AllDigits(number) && LuhnDigit(number.substr(0, number.size() - 1)) == number.back();
}

bool AllDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsMappedLength(std::string_view digits) {
  return digits.size() >= kShortestMappedNumber && digits.size() <= kLongestMappedNumber && AllDigits(digits);
}

std::uint64_t PackNumber(std::string_view digits) {
  std::uint64_t value = 0;
  for (const char c : digits) value = value * 10 + static_cast<unsigned>(c - '0');
  return kLengthBases[digits.size()] + value;
}

std::string UnpackNumber(std::uint64_t packed) {
  std::size_t length = 0;
  while (length + 1 < kLengthBases.size() && packed >= kLengthBases[length + 1]) ++length;
  std::uint64_t value = packed - kLengthBases[length];
  std::string digits(length, '0');
  for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
    *it = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return digits;
}

std::size_t NumberTable::SlotOf(std::uint64_t key) const {
  std::uint64_t hash = key * 0x9E3779B97F4A7C15ull;
  hash ^= hash >> 29;
  return static_cast<std::size_t>(hash % keys_.size());
}

std::size_t NumberTable::Place(std::uint64_t key) const {
  std::size_t at = SlotOf(key);
  while (keys_[at] != 0 && keys_[at] != key) at = at + 1 == keys_.size() ? 0 : at + 1;
  return at;
}

std::optional<std::uint64_t> NumberTable::Find(std::uint64_t key) const {
  if (keys_.empty()) return std::nullopt;
  const std::size_t at = Place(key);
  if (keys_[at] == 0) return std::nullopt;
  return withValues_ ? values_[at] : 0;
}

void NumberTable::Insert(std::uint64_t key, std::uint64_t value) {
  if ((used_ + 1) * 10 > keys_.size() * 9) Resize(std::max<std::size_t>(64, keys_.size() + keys_.size() / 2));
  const std::size_t at = Place(key);
  if (keys_[at] == 0) {
    keys_[at] = key;
    ++used_;
  }
  if (withValues_) values_[at] = value;
}

void NumberTable::Reserve(std::size_t count) { Resize(std::max<std::size_t>(64, count + count / 9 + 1)); }

void NumberTable::Resize(std::size_t size) {
  std::vector<std::uint64_t> keys = std::move(keys_);
  std::vector<std::uint64_t> values = std::move(values_);
  keys_.assign(size, 0);
  values_.assign(withValues_ ? size : 0, 0);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    if (keys[i] == 0) continue;
    const std::size_t at = Place(keys[i]);
    keys_[at] = keys[i];
    if (withValues_) values_[at] = values[i];
  }
}

CardNumberMap::CardNumberMap(std::string secret) : secret_(std::move(secret)) {
  if (!secret_.empty()) return;
  secret_.resize(32);
  if (RAND_bytes(reinterpret_cast<unsigned char*>(secret_.data()), static_cast<int>(secret_.size())) != 1) {
    throw std::runtime_error("no random secret for the anonymisation");
  }
}

CardNumberMap::~CardNumberMap() { SecureWipe(secret_.data(), secret_.size()); }

void CardNumberMap::Remember(std::string_view number) {
  if (number.empty() || number.size() > kLongestMappedNumber || !AllDigits(number)) return;
  held_.Insert(PackNumber(number));
}

void CardNumberMap::Seal() {
  held_.Reserve(held_.Size());
  owners_.Reserve(held_.Size());
}

// The first six digits, digits drawn from the number's HMAC, the check digit.
std::string CardNumberMap::Candidate(std::string_view number, std::uint32_t attempt) const {
  std::string message(number);
  message += ':';
  message += std::to_string(attempt);
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), secret_.data(), static_cast<int>(secret_.size()),
       reinterpret_cast<const unsigned char*>(message.data()), message.size(), digest.data(), &length);
  std::string candidate(number.substr(0, kKeptDigits));
  const std::size_t drawn = number.size() - kKeptDigits - 1;
  for (std::size_t i = 0; i < drawn; ++i) candidate += static_cast<char>('0' + digest[i] % 10);
  SecureWipe(digest.data(), digest.size());
  candidate += LuhnDigit(candidate);
  return candidate;
}

std::optional<std::string> CardNumberMap::Replace(std::string_view number) {
  if (!IsMappedLength(number)) return std::nullopt;
  const std::uint64_t key = PackNumber(number);
  for (std::uint32_t attempt = 0; attempt < kMostAttempts; ++attempt) {
    std::string candidate = Candidate(number, attempt);
    const std::uint64_t packed = PackNumber(candidate);
    if (held_.Contains(packed)) continue;
    const std::optional<std::uint64_t> owner = owners_.Find(packed);
    if (owner && *owner != key) continue;
    if (!owner) owners_.Insert(packed, key);
    return candidate;
  }
  return std::nullopt;
}

}  // namespace kalvrin::rewrite
