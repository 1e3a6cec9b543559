// The BER-TLV reader for P55 and the views of its values.
#include "iso/emv_tlv.h"

#include <algorithm>
#include <array>

#include "iso/iso_codes.h"
#include "iso/pan_mask.h"

namespace kalvrin::emv {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
// Deep enough for any real template; a bound, so that hostile text cannot
// exhaust the stack.
constexpr int kDeepest = 16;

// The value of each character as a hex digit, -1 where it is none.
constexpr std::array<std::int8_t, 256> kHexValues = [] {
  std::array<std::int8_t, 256> values{};
  values.fill(-1);
  for (int digit = 0; digit < 10; ++digit) values['0' + digit] = static_cast<std::int8_t>(digit);
  for (int digit = 0; digit < 6; ++digit) {
    values['A' + digit] = static_cast<std::int8_t>(10 + digit);
    values['a' + digit] = static_cast<std::int8_t>(10 + digit);
  }
  return values;
}();

int HexValue(char c) { return kHexValues[static_cast<unsigned char>(c)]; }

std::string ByteText(std::size_t at) { return "byte " + std::to_string(at + 1); }

class Reader {
 public:
  explicit Reader(TlvData& data) : data_(data), bytes_(data.bytes) {}

  // Reads objects from `at` to `end`; false after a fault.
  bool ReadObjects(std::size_t at, std::size_t end, int depth, std::uint32_t parent) {
    while (at < end) {
      if (bytes_[at] == 0x00 || bytes_[at] == 0xFF) {
        ++at;
        continue;
      }
      TlvObject object;
      object.at = at;
      object.depth = depth;
      object.constructed = (bytes_[at] & 0x20) != 0;
      if (!ReadTag(at, end, object)) return false;
      if (!ReadLength(at, end, object)) return false;
      if (object.length > end - at) {
        const std::size_t lengthAt = object.at + TagBytes(object.tag);
        ranOut = end == bytes_.size();
        return Fail(lengthAt, "tag " + TagText(object.tag) + " at " + ByteText(object.at) + " announces " +
                                  std::to_string(object.length) + " bytes, " + std::to_string(end - at) + " " +
                                  (parent != 0 ? "remain in constructed tag " + TagText(parent) : "remain"));
      }
      object.valueAt = at;
      data_.objects.push_back(object);
      if (object.constructed) {
        if (depth + 1 >= kDeepest) return Fail(object.at, "constructed tags nested deeper than " + std::to_string(kDeepest));
        if (!ReadObjects(at, at + object.length, depth + 1, object.tag)) return false;
      }
      at += object.length;
    }
    return true;
  }

  // The reading ended at a fault because the element's bytes ran out (not
  // a constructed tag's): where the hex text broke, that break is the cause.
  bool ranOut = false;

 private:
  static std::size_t TagBytes(std::uint32_t tag) { return tag > 0xFFFF ? 3 : tag > 0xFF ? 2 : 1; }

  bool ReadTag(std::size_t& at, std::size_t end, TlvObject& object) {
    const std::size_t first = at;
    std::uint32_t tag = bytes_[at++];
    if ((tag & 0x1F) == 0x1F) {
      do {
        if (at >= end) return Cut(first, end, "tag at " + ByteText(first) + " is cut short");
        if (at - first == 3) return Fail(first, "tag at " + ByteText(first) + " is longer than three bytes");
        tag = (tag << 8) | bytes_[at++];
      } while ((tag & 0x80) != 0);
    }
    object.tag = tag;
    return true;
  }

  bool ReadLength(std::size_t& at, std::size_t end, TlvObject& object) {
    if (at >= end) return Cut(object.at, end, "tag " + TagText(object.tag) + " at " + ByteText(object.at) + " has no length");
    const std::uint8_t first = bytes_[at];
    const std::size_t lengthAt = at++;
    if (first < 0x80) {
      object.length = first;
      return true;
    }
    const std::size_t count = first & 0x7F;
    if (count == 0 || count > 2) {
      return Fail(lengthAt, "tag " + TagText(object.tag) + " at " + ByteText(object.at) + " has a length form " +
                                std::string{kHex[first >> 4], kHex[first & 0x0F]} + " that EMV does not use");
    }
    if (end - at < count) {
      return Cut(lengthAt, end, "the length of tag " + TagText(object.tag) + " at " + ByteText(object.at) + " is cut short");
    }
    object.length = 0;
    for (std::size_t i = 0; i < count; ++i) object.length = object.length << 8 | bytes_[at++];
    return true;
  }

  bool Cut(std::size_t at, std::size_t end, std::string text) {
    ranOut = end == bytes_.size();
    return Fail(at, std::move(text));
  }

  bool Fail(std::size_t at, std::string text) {
    data_.error = std::move(text);
    data_.errorIndex = 2 * at;
    return false;
  }

  TlvData& data_;
  const std::vector<std::uint8_t>& bytes_;
};

}  // namespace

const TlvObject* TlvData::Find(std::uint32_t tag) const {
  const auto found = std::find_if(objects.begin(), objects.end(), [tag](const TlvObject& o) { return o.tag == tag; });
  return found == objects.end() ? nullptr : &*found;
}

TlvData DecodeTlv(std::string_view hex) {
  TlvData data;
  DecodeTlv(hex, data);
  return data;
}

void DecodeTlv(std::string_view hex, TlvData& data) {
  data.bytes.clear();
  data.objects.clear();
  data.error.clear();
  data.errorIndex = 0;
  // the hex text's own fault: a character that is no hex digit, or a last
  // digit without its pair
  std::size_t good = 0;
  while (good < hex.size() && HexValue(hex[good]) >= 0) ++good;
  std::string hexFault;
  if (good < hex.size()) {
    hexFault = "character " + std::to_string(good + 1) + " is not a hex digit";
  } else if (hex.size() % 2 != 0) {
    hexFault = "an odd number of hex digits: the last one has no pair";
    good = hex.size() - 1;
  }
  data.bytes.resize(good / 2);
  for (std::size_t byte = 0; byte < data.bytes.size(); ++byte) {
    data.bytes[byte] = static_cast<std::uint8_t>(HexValue(hex[2 * byte]) << 4 | HexValue(hex[2 * byte + 1]));
  }
  data.objects.reserve(data.bytes.size() / 2 + 1);  // every object takes two bytes at least
  Reader reader(data);
  const bool read = reader.ReadObjects(0, data.bytes.size(), 0, 0);
  if (!hexFault.empty() && (read || reader.ranOut)) {
    data.error = std::move(hexFault);
    data.errorIndex = good;
  }
}

std::string TagText(std::uint32_t tag) {
  std::string text;
  for (int shift = tag > 0xFFFF ? 16 : tag > 0xFF ? 8 : 0; shift >= 0; shift -= 8) {
    const auto byte = static_cast<std::uint8_t>(tag >> shift);
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

std::string_view TagName(std::uint32_t tag) {
  const TagInfo* info = FindTag(tag);
  return info != nullptr ? info->name : "unknown tag";
}

std::string HexText(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(2 * bytes.size());
  for (const std::uint8_t byte : bytes) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

std::string LeadingDigits(std::span<const std::uint8_t> bytes) {
  std::string digits;
  for (const std::uint8_t byte : bytes) {
    for (const int nibble : {byte >> 4, byte & 0x0F}) {
      if (nibble > 9) return digits;
      digits += static_cast<char>('0' + nibble);
    }
  }
  return digits;
}

namespace {

// All digits, or empty.
std::string BcdDigits(std::span<const std::uint8_t> bytes) {
  std::string digits = LeadingDigits(bytes);
  return digits.size() == 2 * bytes.size() ? digits : std::string();
}

std::string AmountText(std::span<const std::uint8_t> value) {
  const std::string digits = BcdDigits(value);
  if (value.size() != 6 || digits.empty()) return HexText(value);
  const std::size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

std::string DateText(std::span<const std::uint8_t> value) {
  const std::string digits = BcdDigits(value);
  return value.size() == 3 && !digits.empty() ? digits : HexText(value);
}

std::string CodeText(std::span<const std::uint8_t> value, std::string_view (*name)(std::string_view)) {
  const std::string digits = BcdDigits(value);
  if (value.size() != 2 || digits.empty() || digits[0] != '0') return HexText(value);
  std::string text = digits.substr(1);
  const std::string_view named = name(text);
  if (!named.empty()) text += " (" + std::string(named) + ")";
  return text;
}

std::string CharacterText(std::span<const std::uint8_t> value) {
  std::string text;
  for (const std::uint8_t byte : value) text += byte >= 0x20 && byte != 0x7F ? static_cast<char>(byte) : '.';
  return text;
}

}  // namespace

std::string ValueText(const TlvData& data, const TlvObject& object) {
  const std::span<const std::uint8_t> value = data.Value(object);
  if (object.tag == 0x9F10) {
    std::string layout = CommonCoreLayout(value);
    return layout.empty() ? HexText(value) : layout;
  }
  const TagInfo* info = FindTag(object.tag);
  switch (info != nullptr ? info->form : ValueForm::Hex) {
    case ValueForm::Amount: return AmountText(value);
    case ValueForm::Date: return DateText(value);
    case ValueForm::Currency: return CodeText(value, CurrencyName);
    case ValueForm::Country: return CodeText(value, CountryName);
    case ValueForm::Text: return CharacterText(value);
    case ValueForm::Hex: break;
  }
  return HexText(value);
}

bool HoldsCardData(std::uint32_t tag) {
  return tag == 0x5A || tag == 0x57 || tag == 0x9F6B || tag == 0x56 || tag == 0x5F20;
}

namespace {

// A card data object's value, as hex text, masked.
std::string MaskedCardData(std::uint32_t tag, std::string_view hex) {
  if (tag == 0x56 || tag == 0x5F20) return std::string(hex.size(), kMaskCharacter);
  std::size_t digits = 0;
  while (digits < hex.size() && hex[digits] >= '0' && hex[digits] <= '9') ++digits;
  std::string masked(hex);
  masked.replace(0, digits, MaskPan(hex.substr(0, digits)));
  return masked;
}

}  // namespace

std::string ShownValue(const TlvData& data, const TlvObject& object, bool maskCardData) {
  if (!maskCardData || !HoldsCardData(object.tag)) return ValueText(data, object);
  if (object.tag == 0x5F20) return std::string(object.length, kMaskCharacter);
  return MaskedCardData(object.tag, HexText(data.Value(object)));
}

std::string MaskChipData(std::string_view hex) {
  std::string masked(hex);
  const TlvData data = DecodeTlv(hex);
  for (const TlvObject& object : data.objects) {
    if (!HoldsCardData(object.tag)) continue;
    const std::size_t first = 2 * object.valueAt;
    const std::size_t length = 2 * object.length;
    masked.replace(first, length, MaskedCardData(object.tag, hex.substr(first, length)));
  }
  return masked;
}

std::vector<std::string> ChipCardNumbers(const TlvData& data) {
  std::vector<std::string> numbers;
  for (const std::uint32_t tag : {0x5Au, 0x57u, 0x9F6Bu}) {
    const TlvObject* object = data.Find(tag);
    if (object == nullptr) continue;
    std::string number = LeadingDigits(data.Value(*object));
    if (!number.empty() && std::find(numbers.begin(), numbers.end(), number) == numbers.end()) {
      numbers.push_back(std::move(number));
    }
  }
  return numbers;
}

}  // namespace kalvrin::emv
