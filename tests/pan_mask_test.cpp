// Masked card numbers: what stays, what becomes '*', and that lengths hold.
#include <gtest/gtest.h>

#include <string>

#include "iso/pan_mask.h"

namespace kalvrin {
namespace {

struct Case {
  std::string_view clear;
  std::string_view masked;
};

void ExpectAll(std::string (*mask)(std::string_view), std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clear);
    const std::string masked = mask(c.clear);
    EXPECT_EQ(masked, c.masked);
    EXPECT_EQ(masked.size(), c.clear.size());
  }
}

TEST(MaskPan, FirstSixAndLastFourStay) {
  ExpectAll(MaskPan, {
                         {"4111111111111111", "411111******1111"},
                         {"4000123456789010999", "400012*********0999"},  // 19 digits
                         {"40001234567", "400012*4567"},                  // 11: one left to hide
                         // shorter ones would show whole: only the last four, from eight on
                         {"4000123456", "******3456"},
                         {"40001234", "****1234"},
                         {"4000123", "*******"},
                         {"", ""},
                         // not digits: masked all the same, by position
                         {"4111 1111 1111 1111", "4111 1*********1111"},
                     });
}

TEST(MaskPan, Track2KeepsEverythingAfterTheSeparator) {
  ExpectAll(MaskTrack2, {
                            {"4111111111111111=28122011234567890", "411111******1111=28122011234567890"},
                            {";4111111111111111=2812201?", ";411111******1111=2812201?"},
                            {"4111111111111111D2812201", "411111******1111D2812201"},
                            {"=2812201", "=2812201"},
                            // no separator: the whole text is taken for a card number
                            {"41111111111111112812201", "411111*************2201"},
                        });
}

TEST(MaskPan, Track1MasksTheNumberBetweenFormatCodeAndName) {
  ExpectAll(MaskTrack1, {
                            {"B4111111111111111^DOE/JOHN^2812201", "B411111******1111^DOE/JOHN^2812201"},
                            {"%B4111111111111111^DOE/JOHN^2812201?", "%B411111******1111^DOE/JOHN^2812201?"},
                            {"4111111111111111^DOE", "411111**********^DOE"},  // no format code
                        });
}

TEST(MaskPan, OnlyCardNumberElementsChange) {
  EXPECT_EQ(MaskElement(2, "4111111111111111"), "411111******1111");
  EXPECT_EQ(MaskElement(35, "4111111111111111=2812"), "411111******1111=2812");
  EXPECT_EQ(MaskElement(45, "B4111111111111111^A^1"), "B411111******1111^A^1");
  for (int element : {3, 4, 34, 36, 37, 128}) {
    SCOPED_TRACE(element);
    EXPECT_FALSE(ElementHoldsCardNumber(element));
    EXPECT_EQ(MaskElement(element, "4111111111111111"), "4111111111111111");
  }
}


// Runs of twelve digits or more are masked wherever they stand in the text;
// shorter runs and other characters stay.
TEST(MaskPan, DigitRunsOfTwelveOrMore) {
  const struct {
    std::string text;
    std::string masked;
  } cases[] = {
      {"164929123456781234 AB", "164929********1234 AB"},
      {"x123456789012y", "x123456**9012y"},
      {"12345678901 NOTE 9", "12345678901 NOTE 9"},
      {"4111111111111111=4111111111111111", "411111******1111=411111******1111"},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    MaskDigitRuns(text);
    EXPECT_EQ(text, c.masked) << c.text;
  }
}

// A piece cut out of a longer text: the runs are judged with the digits
// that stand beside it, and the piece keeps only its own part of the mask.
TEST(MaskPan, DigitRunsThatGoOnBeyondThePiece) {
  const struct {
    std::string before, text, after, masked;
  } cases[] = {
      {"49291234", "56781234 and", "", "****1234 and"},          // 16 digits split 8 and 8
      {"", "ABCDEFGH49291234", "56781234", "ABCDEFGH492912**"},  // cut after 8 of 16
      {"1234", "56 x", "", "56 x"},                              // 6 digits: no card number
      {"4929", "12345678", "1234", "12******"},                  // the piece wholly inside the run
      {"", "x123456789012y", "", "x123456**9012y"},             // as without context
  };
  for (const auto& c : cases) {
    std::string text = c.text;
    MaskDigitRuns(text, c.before, c.after);
    EXPECT_EQ(text, c.masked) << c.before << "|" << c.text << "|" << c.after;
  }
}

}  // namespace
}  // namespace kalvrin
