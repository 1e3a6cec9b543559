// Anonymisation of one message's card data, value by value, every value
// keeping its length: card numbers (P2, inside P35, P45 and P55's 5A, 57 and
// 9F6B, and in stray text) replaced through a CardNumberMap, the rest of the
// card data (names, addresses, discretionary data, PIN block, account
// identifiers) made neutral in its structure.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "rewrite/card_map.h"

namespace kalvrin::rewrite {

// The elements anonymisation touches: 2, 34, 35, 43, 45, 52, 55, 102, 103.
bool IsAnonymizedElement(int element);

// Hands every card number a value holds to the map's Remember.
void RememberCardNumbers(int element, std::string_view value, CardNumberMap& map);

// The value with its card data replaced, of the same length. Empty `error`
// unless a card number could not be replaced (its issuer range is full).
std::string AnonymizeValue(int element, std::string_view value, CardNumberMap& map, std::string& error);

// Digits become '0', letters 'X', every other character stays.
std::string NeutralText(std::string_view text);

// Stray text between messages, fed in pieces of any size: every run of
// kShortestDigitRunMasked digits or more is taken for a card number and
// replaced (a run of 8 to 19 digits by its mapped number, a longer one kept
// to its first six digits and zeros after them). A run that a piece ends in
// is held back until the next piece or Finish.
class StrayTextAnonymizer {
 public:
  explicit StrayTextAnonymizer(CardNumberMap& map, bool remember) : map_(map), remember_(remember) {}
  // Returns the text to write (the piece, less a run held back, plus what
  // was held before).
  std::string Feed(std::string_view piece);
  // Ends the text: what is held, replaced.
  std::string Finish();
  const std::string& Error() const { return error_; }
  // The card numbers replaced since the last call, each with its
  // replacement, in the order met.
  std::vector<std::pair<std::string, std::string>> TakeReplaced() { return std::exchange(replaced_, {}); }

 private:
  std::string Replaced(std::string_view run);
  CardNumberMap& map_;
  bool remember_;  // the first read: numbers are remembered, not replaced
  static constexpr std::size_t kLongestHeldRun = 64;
  std::string held_;       // the digits of the run the last piece ended in
  bool longRun_ = false;   // the run went past kLongestHeldRun; its start is written
  std::string error_;
  std::vector<std::pair<std::string, std::string>> replaced_;
};

}  // namespace kalvrin::rewrite
