// Texts like a check's grid cells, for the tests of the window's row store:
// row numbers, numbers and codes, words that come back, the cell above or a
// shared beginning with it, bytes of any value, and now and then one too
// long for a cell.
#pragma once

#include <random>
#include <string>
#include <string_view>

namespace kalvrin::test {

inline std::string RandomGridText(std::mt19937& random, int row, const std::string& above) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  auto chars = [&](std::string_view alphabet, int length) {
    std::string text;
    for (int i = 0; i < length; ++i) text += alphabet[static_cast<std::size_t>(pick(static_cast<int>(alphabet.size())))];
    return text;
  };
  static const std::string words[] = {"1440", "F234054028E08000", "SAMPLE SHOP   VIENNA    AT", "200", "978", "00"};
  switch (pick(12)) {
    case 0: return "";
    case 1: return std::to_string(row);
    case 2: return words[pick(6)];
    case 3: return chars("0123456789", 1 + pick(40));
    case 4: return chars("0123456789ABCDEF", 1 + pick(40));
    case 5: return chars("0123456789 =D-./", 1 + pick(80));
    case 6: {
      std::string bytes(static_cast<std::size_t>(pick(300)), '\0');
      for (char& c : bytes) c = static_cast<char>(pick(256));
      return bytes;
    }
    case 7: return above;
    case 8: return above.substr(0, above.size() / 2) + chars("0123456789AB", pick(20));
    case 9: return above.substr(0, above.size() / 2);
    case 10: return pick(200) == 0 ? chars("0123456789XYZ", 30 + pick(70000)) : chars("9", 31 + pick(3));
    default: return chars("AZaz09 ", 1 + pick(20));
  }
}

}  // namespace kalvrin::test
