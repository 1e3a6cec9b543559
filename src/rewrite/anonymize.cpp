// Where card data stands in each element and what replaces it.
#include "rewrite/anonymize.h"

#include <algorithm>
#include <vector>

#include "iso/emv_tlv.h"
#include "iso/pan_mask.h"

namespace kalvrin::rewrite {

namespace {

constexpr std::string_view kNeutralName = "TEST CARDHOLDER";
constexpr std::string_view kNeutralMerchant = "TEST MERCHANT";
// Track data keep the expiry date and service code after the separator;
// only what follows them is discretionary.
constexpr std::size_t kExpiryAndService = 7;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A fixed text cut or padded with spaces to `length`.
std::string FixedText(std::string_view text, std::size_t length) {
  std::string fixed(text.substr(0, std::min(text.size(), length)));
  fixed.resize(length, ' ');
  return fixed;
}

// A card number: mapped when it has a mappable length, else its first six
// digits kept and zeros after them.
std::string ReplacedNumber(std::string_view number, CardNumberMap& map, std::string& error) {
  if (IsMappedLength(number)) {
    if (std::optional<std::string> replaced = map.Replace(number)) return *replaced;
    error = "no free card number is left in the issuer range " + std::string(number.substr(0, kKeptDigits));
    return std::string(number.size(), '0');
  }
  std::string neutral(number);
  for (std::size_t i = std::min(number.size(), kKeptDigits); i < neutral.size(); ++i) {
    if (IsDigit(neutral[i]) || std::isalpha(static_cast<unsigned char>(neutral[i])) != 0) neutral[i] = '0';
  }
  return neutral;
}

// Track data after its card number's separator: expiry and service code
// kept, the discretionary data neutral.
std::string NeutralDiscretionary(std::string_view rest) {
  const std::size_t kept = std::min(rest.size(), 1 + kExpiryAndService);
  return std::string(rest.substr(0, kept)) + NeutralText(rest.substr(kept));
}

struct Track1 {
  std::size_t number = 0;  // the card number's first character
  std::size_t numberEnd = 0;
  std::size_t nameEnd = 0;  // the second '^', or the value's end
  bool shaped = false;
};

Track1 ShapeOfTrack1(std::string_view value) {
  Track1 track;
  const std::size_t code = !value.empty() && value.front() == '%' ? 1 : 0;
  const std::size_t first = value.find('^');
  if (value.size() <= code || value[code] != 'B' || first == std::string_view::npos || first <= code) return track;
  track.number = code + 1;
  track.numberEnd = first;
  const std::size_t second = value.find('^', first + 1);
  track.nameEnd = second == std::string_view::npos ? value.size() : second;
  track.shaped = true;
  return track;
}

std::string AnonymizedTrack2(std::string_view value, CardNumberMap& map, std::string& error) {
  const std::string_view card = Track2CardNumber(value);
  const auto begin = static_cast<std::size_t>(card.data() - value.data());
  std::string result(value.substr(0, begin));
  result += ReplacedNumber(card, map, error);
  result += NeutralDiscretionary(value.substr(begin + card.size()));
  return result;
}

std::string AnonymizedTrack1(std::string_view value, CardNumberMap& map, std::string& error) {
  const Track1 track = ShapeOfTrack1(value);
  if (!track.shaped) return NeutralText(value);
  std::string result(value.substr(0, track.number));
  result += ReplacedNumber(value.substr(track.number, track.numberEnd - track.number), map, error);
  result += '^';
  result += FixedText(kNeutralName, track.nameEnd - track.numberEnd - 1);
  if (track.nameEnd < value.size()) result += NeutralDiscretionary(value.substr(track.nameEnd));
  return result;
}

// The hex text of a text's characters.
std::string HexOfText(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string hex;
  for (const char c : text) {
    hex += kHex[static_cast<unsigned char>(c) >> 4];
    hex += kHex[static_cast<unsigned char>(c) & 15];
  }
  return hex;
}

// One card data object's hex value: a card number's BCD digits mapped, the
// rest of track 2 data neutral after its expiry and service code, names and
// track 1 data neutral text.
std::string AnonymizedChipValue(std::uint32_t tag, std::string_view hex, CardNumberMap& map, std::string& error) {
  if (tag == 0x5F20 || tag == 0x9F0B) return HexOfText(FixedText(kNeutralName, hex.size() / 2)) + std::string(hex.size() % 2, '0');
  if (tag == 0x56) return HexOfText(std::string(hex.size() / 2, '0')) + std::string(hex.size() % 2, '0');
  const std::size_t digits =
      static_cast<std::size_t>(std::find_if_not(hex.begin(), hex.end(), IsDigit) - hex.begin());
  std::string result = ReplacedNumber(hex.substr(0, digits), map, error);
  if (tag == 0x5A) return result + std::string(hex.substr(digits));
  return result + NeutralDiscretionary(hex.substr(digits));
}

bool IsChipCardData(std::uint32_t tag) {
  return tag == 0x5A || tag == 0x57 || tag == 0x9F6B || tag == 0x56 || tag == 0x5F20 || tag == 0x9F0B;
}

std::string AnonymizedChipData(std::string_view hex, CardNumberMap& map, std::string& error) {
  std::string result(hex);
  const emv::TlvData data = emv::DecodeTlv(hex);
  for (const emv::TlvObject& object : data.objects) {
    if (!IsChipCardData(object.tag)) continue;
    const std::size_t first = 2 * object.valueAt;
    if (first >= hex.size()) continue;
    const std::size_t length = std::min(2 * object.length, hex.size() - first);
    result.replace(first, length, AnonymizedChipValue(object.tag, hex.substr(first, length), map, error));
  }
  return result;
}

}  // namespace

bool IsAnonymizedElement(int element) {
  switch (element) {
    case 2: case 34: case 35: case 43: case 45: case 52: case 55: case 102: case 103: return true;
    default: return false;
  }
}

std::string NeutralText(std::string_view text) {
  std::string neutral(text);
  for (char& c : neutral) {
    if (IsDigit(c)) {
      c = '0';
    } else if (std::isalpha(static_cast<unsigned char>(c)) != 0) {
      c = 'X';
    }
  }
  return neutral;
}

void RememberCardNumbers(int element, std::string_view value, CardNumberMap& map) {
  if (element == 2) {
    map.Remember(value);
  } else if (element == 35) {
    map.Remember(Track2CardNumber(value));
  } else if (element == 45) {
    const Track1 track = ShapeOfTrack1(value);
    if (track.shaped) map.Remember(value.substr(track.number, track.numberEnd - track.number));
  } else if (element == emv::kChipDataElement) {
    for (const std::string& number : emv::ChipCardNumbers(emv::DecodeTlv(value))) map.Remember(number);
  }
}

std::string AnonymizeValue(int element, std::string_view value, CardNumberMap& map, std::string& error) {
  switch (element) {
    case 2: return ReplacedNumber(value, map, error);
    case 35: return AnonymizedTrack2(value, map, error);
    case 45: return AnonymizedTrack1(value, map, error);
    case 43: return FixedText(kNeutralMerchant, value.size());
    case 55: return AnonymizedChipData(value, map, error);
    case 34: case 52: case 102: case 103: return NeutralText(value);
    default: return std::string(value);
  }
}

std::string StrayTextAnonymizer::Replaced(std::string_view run) {
  if (longRun_) return remember_ ? std::string(run) : std::string(run.size(), '0');
  if (run.size() < kShortestDigitRunMasked) return std::string(run);
  if (remember_) {
    map_.Remember(run);
    return std::string(run);
  }
  std::string replaced = ReplacedNumber(run, map_, error_);
  replaced_.emplace_back(run, replaced);
  return replaced;
}

std::string StrayTextAnonymizer::Feed(std::string_view piece) {
  std::string out;
  out.reserve(piece.size());
  for (const char c : piece) {
    if (IsDigit(c)) {
      held_ += c;
      if (held_.size() <= kLongestHeldRun) continue;
      // no card number is this long: its first six digits stay, zeros follow
      out += Replaced(held_);
      longRun_ = true;
      held_.clear();
      continue;
    }
    out += Finish();
    out += c;
  }
  return out;
}

std::string StrayTextAnonymizer::Finish() {
  std::string out = held_.empty() ? std::string() : Replaced(held_);
  held_.clear();
  longRun_ = false;
  return out;
}

}  // namespace kalvrin::rewrite
