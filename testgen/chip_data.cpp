// Chip data for generated transactions.
#include "testgen/chip_data.h"

#include <algorithm>

namespace kalvrin::filegen {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string HexByte(std::size_t value) { return {kHex[value >> 4 & 0xF], kHex[value & 0xF]}; }

std::string HexDigits(std::mt19937& engine, std::size_t count) {
  std::string text(count, '0');
  for (char& c : text) c = kHex[engine() % 16];
  return text;
}

template <std::size_t N>
std::string_view OneOf(std::mt19937& engine, const std::string_view (&choices)[N]) {
  return choices[engine() % N];
}

}  // namespace

std::vector<ChipObject> MakeChipData(const std::map<int, std::string>& elements, std::mt19937& engine) {
  std::string pan = elements.at(2);
  if (pan.size() % 2 != 0) pan += 'F';
  // terminal verification results as a terminal might send them: none, the
  // floor limit exceeded, no offline authentication and a random online pick
  static constexpr std::string_view kTvrs[] = {"0000000000", "0000008000", "8000001000", "0000000000"};
  static constexpr std::string_view kCryptograms[] = {"80", "40"};  // ARQC, TC
  static constexpr std::string_view kCvms[] = {"1E0302", "420300", "1F0002"};
  return {
      {"5A", pan},
      {"82", "5C00"},
      {"95", std::string(OneOf(engine, kTvrs))},
      {"9A", elements.at(12).substr(0, 6)},
      {"9C", elements.at(3).substr(0, 2)},
      {"5F2A", "0" + elements.at(49)},
      {"9F02", elements.at(4)},
      {"9F03", "000000000000"},
      {"9F1A", "0040"},
      {"9F26", HexDigits(engine, 16)},
      {"9F27", std::string(OneOf(engine, kCryptograms))},
      {"9F10", "06010A03A00000"},
      {"9F36", HexDigits(engine, 4)},
      {"9F37", HexDigits(engine, 8)},
      {"9F33", "E0F0C8"},
      {"9F34", std::string(OneOf(engine, kCvms))},
      {"9B", "E800"},
  };
}

std::string WriteChipData(const std::vector<ChipObject>& objects) {
  std::string hex;
  for (const ChipObject& object : objects) hex += object.tag + HexByte(object.value.size() / 2) + object.value;
  return hex;
}

std::vector<ChipObject> ReadChipData(std::string_view hex) {
  std::vector<ChipObject> objects;
  std::size_t at = 0;
  while (at + 4 <= hex.size()) {
    // a first byte ending in five ones takes a second
    const std::size_t tagDigits = (std::stoul(std::string(hex.substr(at, 2)), nullptr, 16) & 0x1F) == 0x1F ? 4 : 2;
    const std::string tag(hex.substr(at, tagDigits));
    const std::size_t length = 2 * std::stoul(std::string(hex.substr(at + tagDigits, 2)), nullptr, 16);
    objects.push_back({tag, std::string(hex.substr(at + tagDigits + 2, length))});
    at += tagDigits + 2 + length;
  }
  return objects;
}

std::size_t ChipTagIndex(const std::vector<ChipObject>& objects, std::string_view tag) {
  std::size_t at = 0;
  for (const ChipObject& object : objects) {
    if (object.tag == tag) return at;
    at += object.tag.size() + 2 + object.value.size();
  }
  return std::string::npos;
}

std::size_t ChipValueIndex(const std::vector<ChipObject>& objects, std::string_view tag) {
  const std::size_t at = ChipTagIndex(objects, tag);
  return at == std::string::npos ? at : at + tag.size() + 2;
}

bool IsChipData(std::string_view p55) { return p55.starts_with("5A"); }

}  // namespace kalvrin::filegen
