// Card numbers masked for output that must not show them whole: the first
// six and the last four digits stay, every character between becomes '*',
// and every text keeps its length, so masked output lines up like the clear.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "iso/message_decoder.h"

namespace kalvrin {

inline constexpr char kMaskCharacter = '*';

// A card number (element 2). One of ten characters or fewer would show whole
// with six and four kept: of those only the last four stay, from eight on,
// and below eight nothing does.
std::string MaskPan(std::string_view pan);

// Text that no element holds (stray text between messages): a card number
// may stand there whole when a fault kept the decoder from reading it as
// one, so every run of kShortestDigitRunMasked digits or more is masked as a
// card number, without a Luhn test. Element values are not read this way:
// amounts and totals are long runs of digits too.
inline constexpr std::size_t kShortestDigitRunMasked = 12;
void MaskDigitRuns(std::string& text);
// The same for text cut out of a longer one: `before` and `after` are the
// digits that stand right before and after it there, so that a run split
// at either end is judged and masked as the whole run, and text keeps
// only its own part of it.
void MaskDigitRuns(std::string& text, std::string_view before, std::string_view after);

// Track 2 data (element 35): the card number before the field separator
// ('=' or 'D'), after an optional start sentinel ';'; the rest stays. A text
// without a separator is masked as a card number throughout.
std::string MaskTrack2(std::string_view track);

// The card number in track 2 data: after an optional start sentinel ';', up
// to the field separator ('=' or 'D'), or to the end of a text without one.
std::string_view Track2CardNumber(std::string_view track);

// Track 1 data (element 45): the card number between the format code ('B',
// after an optional start sentinel '%') and the first '^'. Without that
// shape it is masked as a card number throughout.
std::string MaskTrack1(std::string_view track);

// An element's value as masked output shows it: the three above for
// elements 2, 35 and 45, P55 with the card data of its EMV tags masked
// (emv::MaskChipData), every other element as it is.
bool ElementHoldsCardNumber(int element);
std::string MaskElement(int element, std::string_view value);

// The result grid's columns of card numbers (elements 2 and 35); the title
// row is no card number.
bool GridColumnHoldsCardNumber(int column);

// Every element of a decoded message that holds a card number, masked.
void MaskCardNumbers(DecodedMessage& message);

// The file's bytes of a decoded message (bytes[0] is the file's byte at
// firstOffset), with the card numbers' masked characters turned to '*'
// where they stand in the file, line ends inside an element included.
void MaskCardNumberBytes(const DecodedMessage& message, std::int64_t firstOffset, std::string& bytes);

// The card numbers a decoded message holds, each once: P2, and the numbers
// inside P35, P45 and P55's EMV tags.
std::vector<std::string> CardNumbersIn(const DecodedMessage& message);

// A text that quotes values as 'value' (a finding's message), with every
// quoted one of these numbers masked; a text that is one of them whole (a
// finding's declared or computed value) masked too. Other digits stay.
void MaskQuotedCardNumbers(std::string& text, const std::vector<std::string>& numbers);

}  // namespace kalvrin
