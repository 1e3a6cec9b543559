// The ISO code tables and their look-ups.
#include "iso/iso_codes.h"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "iso/format_rules.h"

namespace kalvrin {

namespace {

struct CurrencyCode {
  std::string_view alphabetic;
  std::string_view numeric;
  std::string_view name;
};
constexpr CurrencyCode kCurrencies[] = {
#include "iso/currency_codes.inc"
};

struct CountryCode {
  std::string_view numeric;
  std::string_view name;
};
constexpr CountryCode kCountries[] = {
#include "iso/country_codes.inc"
};

// Every three-character code as an index: 000-999 for the numeric ones, 1000
// on for three upper-case letters; -1 for any other text.
constexpr int CodeIndex(std::string_view text) {
  if (text.size() != 3) return -1;
  if (std::all_of(text.begin(), text.end(), IsDigit)) return (text[0] - '0') * 100 + (text[1] - '0') * 10 + (text[2] - '0');
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) return -1;
  return 1000 + ((text[0] - 'A') * 26 + (text[1] - 'A')) * 26 + (text[2] - 'A');
}

// iso-codes writes UTF-8; the tool's texts are Latin-1. Characters beyond
// Latin-1 become '?'.
std::string Latin1(std::string_view utf8) {
  std::string text;
  for (std::size_t at = 0; at < utf8.size(); ++at) {
    const auto byte = static_cast<unsigned char>(utf8[at]);
    if (byte < 0x80) {
      text += static_cast<char>(byte);
      continue;
    }
    std::size_t follow = byte >= 0xF0 ? 3 : byte >= 0xE0 ? 2 : 1;
    if ((byte == 0xC2 || byte == 0xC3) && at + 1 < utf8.size()) {
      text += static_cast<char>(((byte & 0x03) << 6) | (static_cast<unsigned char>(utf8[at + 1]) & 0x3F));
    } else {
      text += '?';
    }
    at += std::min(follow, utf8.size() - at - 1);
  }
  return text;
}

// The names of the numeric codes, indexed by code, converted once.
template <typename Entry, std::size_t N>
std::vector<std::string> NamesByNumeric(const Entry (&table)[N]) {
  std::vector<std::string> names(1000);
  for (const Entry& entry : table) {
    const int index = CodeIndex(entry.numeric);
    if (index >= 0 && index < 1000) names[static_cast<std::size_t>(index)] = Latin1(entry.name);
  }
  return names;
}

std::string_view NameOf(const std::vector<std::string>& names, std::string_view numeric) {
  const int index = CodeIndex(numeric);
  return index >= 0 && index < 1000 ? std::string_view(names[static_cast<std::size_t>(index)]) : std::string_view();
}

}  // namespace

bool IsCurrencyCode(std::string_view code) {
  static constexpr auto kAssigned = [] {
    std::array<bool, 1000 + 26 * 26 * 26> assigned{};
    for (const CurrencyCode& currency : kCurrencies) {
      assigned[static_cast<std::size_t>(CodeIndex(currency.numeric))] = true;
      assigned[static_cast<std::size_t>(CodeIndex(currency.alphabetic))] = true;
    }
    return assigned;
  }();
  const int index = CodeIndex(code);
  return index >= 0 && kAssigned[static_cast<std::size_t>(index)];
}

std::string_view CurrencyNumeric(std::string_view alphabetic) {
  const auto found = std::find_if(std::begin(kCurrencies), std::end(kCurrencies),
                                  [alphabetic](const CurrencyCode& c) { return c.alphabetic == alphabetic; });
  return found == std::end(kCurrencies) ? std::string_view() : found->numeric;
}

std::string_view CurrencyName(std::string_view numeric) {
  static const std::vector<std::string> names = NamesByNumeric(kCurrencies);
  return NameOf(names, numeric);
}

std::string_view CountryName(std::string_view numeric) {
  static const std::vector<std::string> names = NamesByNumeric(kCountries);
  return NameOf(names, numeric);
}

}  // namespace kalvrin
