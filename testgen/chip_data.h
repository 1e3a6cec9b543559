// Chip data for generated transactions: P55 as EMV data objects consistent
// with the message around it (card number, amount, currency, date), written
// and read back by the generator's own small TLV code, so that the checker's
// reader is tested against something it did not make.
#pragma once

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin::filegen {

// One data object: tag and value as upper-case hex; every length fits one byte.
struct ChipObject {
  std::string tag;
  std::string value;
};

// The chip data of a transaction with these elements (P2, P3, P4, P12 and a
// numeric P49); the cryptogram, counters and the terminal's verdicts drawn
// from `engine`.
std::vector<ChipObject> MakeChipData(const std::map<int, std::string>& elements, std::mt19937& engine);

// The objects as P55's hex text, and back (for text that WriteChipData made).
std::string WriteChipData(const std::vector<ChipObject>& objects);
std::vector<ChipObject> ReadChipData(std::string_view hex);

// Where the object with `tag` starts in the hex text (its tag's first
// character), and where its value starts; npos when it is not there.
std::size_t ChipTagIndex(const std::vector<ChipObject>& objects, std::string_view tag);
std::size_t ChipValueIndex(const std::vector<ChipObject>& objects, std::string_view tag);

// A chip transaction's P55 is this generator's: it starts with the card number (5A).
bool IsChipData(std::string_view p55);

}  // namespace kalvrin::filegen
