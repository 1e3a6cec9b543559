// P55 read as EMV data objects: hand-written TLV of known meaning, every
// malformed case with where it is named, the values in each display form,
// and the bits of the spelled-out tags against EMV's published meanings.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "iso/emv_tlv.h"
#include "iso/iso_codes.h"
#include "iso/pan_mask.h"

namespace kalvrin::emv {
namespace {

std::vector<std::uint8_t> Bytes(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(at, 2)), nullptr, 16)));
  }
  return bytes;
}

// A primitive object of one-byte length: tag, length, value.
std::string Tlv(std::string_view tag, std::string_view value) {
  constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t bytes = value.size() / 2;
  return std::string(tag) + kHex[bytes >> 4 & 0xF] + kHex[bytes & 0xF] + std::string(value);
}

struct Expected {
  std::uint32_t tag;
  int depth;
  std::size_t at;
  std::size_t valueAt;
  std::size_t length;
};

void ExpectObjects(const TlvData& data, const std::vector<Expected>& expected) {
  ASSERT_EQ(data.objects.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE("object " + std::to_string(i));
    const TlvObject& o = data.objects[i];
    EXPECT_EQ(TagText(o.tag), TagText(expected[i].tag));
    EXPECT_EQ(o.depth, expected[i].depth);
    EXPECT_EQ(o.at, expected[i].at);
    EXPECT_EQ(o.valueAt, expected[i].valueAt);
    EXPECT_EQ(o.length, expected[i].length);
  }
}

// ---- structure -----------------------------------------------------------------------

TEST(EmvTlv, OneTwoAndThreeByteTags) {
  // 5A (one byte), 9F02 (low five bits of 9F all set), 9F8101 (81 has its
  // top bit set, so a third byte follows); lower-case hex reads the same
  const TlvData data = DecodeTlv("5a024761" "9F0206000000001234" "9F810101AA");
  ASSERT_TRUE(data.WellFormed()) << data.error;
  ExpectObjects(data, {{0x5A, 0, 0, 2, 2}, {0x9F02, 0, 4, 7, 6}, {0x9F8101, 0, 13, 17, 1}});
  EXPECT_EQ(TagText(0x9F8101), "9F8101");
  EXPECT_EQ(HexText(data.Value(data.objects[0])), "4761");
  EXPECT_EQ(TagName(0x9F8101), "unknown tag");
  EXPECT_EQ(TagName(0x9F02), "Amount, Authorised (Numeric)");
}

TEST(EmvTlv, LongLengthForms) {
  const std::string value81(2 * 0x90, 'A');
  const TlvData one = DecodeTlv("9F1081" "90" + value81 + "9A03261208");
  ASSERT_TRUE(one.WellFormed()) << one.error;
  ExpectObjects(one, {{0x9F10, 0, 0, 4, 0x90}, {0x9A, 0, 0x94, 0x96, 3}});
  const TlvData two = DecodeTlv("5F20820003414243");
  ASSERT_TRUE(two.WellFormed()) << two.error;
  ExpectObjects(two, {{0x5F20, 0, 0, 5, 3}});
  EXPECT_EQ(ValueText(two, two.objects[0]), "ABC");
}

TEST(EmvTlv, ConstructedTagsReadAsATree) {
  // 70 { 5A, A5 { 9F27 } }, then 9F26 at the top again
  const TlvData data = DecodeTlv("700B" "5A03123456" "A504" "9F270180" "9F2602ABCD");
  ASSERT_TRUE(data.WellFormed()) << data.error;
  ExpectObjects(data, {{0x70, 0, 0, 2, 11}, {0x5A, 1, 2, 4, 3}, {0xA5, 1, 7, 9, 4}, {0x9F27, 2, 9, 12, 1},
                       {0x9F26, 0, 13, 16, 2}});
  EXPECT_TRUE(data.objects[0].constructed);
  EXPECT_TRUE(data.objects[2].constructed);
  EXPECT_FALSE(data.objects[1].constructed);
  ASSERT_NE(data.Find(0x9F27), nullptr);
  EXPECT_EQ(data.Find(0x9F27)->depth, 2);
  EXPECT_EQ(data.Find(0x95), nullptr);
}

TEST(EmvTlv, PaddingBetweenObjectsIsSkipped) {
  const TlvData data = DecodeTlv("00FF9A03261208FF00" "7005" "00" "9C0100" "FF");
  ASSERT_TRUE(data.WellFormed()) << data.error;
  ExpectObjects(data, {{0x9A, 0, 2, 4, 3}, {0x70, 0, 9, 11, 5}, {0x9C, 1, 12, 14, 1}});
  EXPECT_TRUE(DecodeTlv("").WellFormed());
  EXPECT_TRUE(DecodeTlv("").objects.empty());
}

// ---- malformed ----------------------------------------------------------------------

TEST(EmvTlv, EveryMalformedCaseIsNamedWithItsPositionAndKeepsWhatCameBefore) {
  struct Case {
    std::string_view what;
    std::string_view hex;
    std::string_view error;
    std::size_t index;   // the hex character at fault
    std::size_t objects; // read before the fault
  };
  const Case cases[] = {
      {"odd length", "9A032612085", "an odd number of hex digits: the last one has no pair", 10, 1},
      {"odd length inside an object", "9A0326120", "an odd number of hex digits: the last one has no pair", 8, 0},
      {"not hex", "9A03261208G5", "character 11 is not a hex digit", 10, 1},
      {"not hex inside an object", "9A0326 208", "character 7 is not a hex digit", 6, 0},
      {"length past the end", "9A03261208" "9F0206000000", "tag 9F02 at byte 6 announces 6 bytes, 3 remain", 14, 1},
      {"tag cut", "9A03261208" "9F", "tag at byte 6 is cut short", 10, 1},
      {"three-byte tag cut", "9F81", "tag at byte 1 is cut short", 0, 0},
      {"no length", "9A03261208" "5F2A", "tag 5F2A at byte 6 has no length", 10, 1},
      {"long length cut", "5F2082" "00", "the length of tag 5F20 at byte 1 is cut short", 4, 0},
      {"length form not used", "5F208300000141", "tag 5F20 at byte 1 has a length form 83 that EMV does not use", 4, 0},
      {"indefinite length", "708000", "tag 70 at byte 1 has a length form 80 that EMV does not use", 2, 0},
      {"tag over three bytes", "9F8181015A", "tag at byte 1 is longer than three bytes", 0, 0},
      {"constructed content overruns its parent", "7007" "5A021234" "5A0399",
       "tag 5A at byte 7 announces 3 bytes, 1 remain in constructed tag 70", 14, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.what));
    const TlvData data = DecodeTlv(c.hex);
    EXPECT_FALSE(data.WellFormed());
    EXPECT_EQ(data.error, c.error);
    EXPECT_EQ(data.errorIndex, c.index);
    EXPECT_LT(data.errorIndex, c.hex.size());
    EXPECT_EQ(data.objects.size(), c.objects);
  }
}

TEST(EmvTlv, HostileNestingEndsWithAFaultNotACrash) {
  std::string nested = "00";
  for (int i = 0; i < 30; ++i) nested = Tlv("70", nested);
  const TlvData data = DecodeTlv(nested);
  EXPECT_EQ(data.error, "constructed tags nested deeper than 16");
  EXPECT_EQ(data.objects.size(), 16u);
}

// ---- values ------------------------------------------------------------------------------

TEST(EmvTlv, ValuesShowInTheirTagsForm) {
  struct Case {
    std::string_view hex;
    std::string_view shown;
  };
  const Case cases[] = {
      {"9F0206000000012345", "12345"},
      {"9F0206000000000000", "0"},
      {"9F0306000000000150", "150"},
      {"9F02060000000A0000", "0000000A0000"},  // not BCD: hex
      {"9F020400001234", "00001234"},          // not six bytes: hex
      {"9A03261208", "261208"},
      {"5F2403281231", "281231"},
      {"5F2503240101", "240101"},
      {"5F2A020978", "978 (Euro)"},
      {"5F2A020840", "840 (US Dollar)"},
      {"5F2A020000", "000"},  // no currency: the code alone
      {"9F1A020040", "040 (Austria)"},
      {"5F28020276", "276 (Germany)"},
      {"9F1A020384", "384 (C\xF4te d'Ivoire)"},  // iso-codes' UTF-8 shown in Latin-1
      {"50045649534100", "VISA"},  // the trailing 00 is padding
      {"9F120C4352454449544F2056495341", "CREDITO VISA"},
      {"5F200B534D4954482F4A4F484E20", "SMITH/JOHN "},
      {"50024101", "A."},  // a control character as a dot
      {"9F26081122334455667788", "1122334455667788"},
      {"DF0102ABCD", "ABCD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hex));
    const TlvData data = DecodeTlv(c.hex);
    ASSERT_FALSE(data.objects.empty()) << data.error;
    EXPECT_EQ(ValueText(data, data.objects[0]), c.shown);
  }
}

TEST(EmvTlv, IssuerApplicationDataInTheCommonCoreLayout) {
  const std::string ccd = "0FA501" "03A4A00000" "0000000000000001" "0F" "112233445566778899AABBCCDDEEFF";
  const TlvData data = DecodeTlv("9F1020" + ccd);
  ASSERT_TRUE(data.WellFormed()) << data.error;
  EXPECT_EQ(ValueText(data, data.objects[0]),
            "format A, cryptogram version 5 (Triple DES), derivation key index 01, card verification results "
            "03A4A00000, counters 0000000000000001, issuer discretionary data 112233445566778899AABBCCDDEEFF");
  std::string aes = ccd;
  aes[3] = '6';
  EXPECT_NE(ValueText(DecodeTlv("9F1020" + aes), DecodeTlv("9F1020" + aes).objects[0]).find("version 6 (AES)"),
            std::string::npos);
  // another format, another length or a wrong length byte: hex
  for (const std::string& other : {"0FB501" + ccd.substr(6), ccd.substr(0, 62), "0E" + ccd.substr(2),
                                   ccd.substr(0, 32) + "0E" + ccd.substr(34), std::string("06010A03A00000")}) {
    SCOPED_TRACE(other);
    const TlvData read = DecodeTlv(Tlv("9F10", other));
    ASSERT_TRUE(read.WellFormed()) << read.error;
    EXPECT_EQ(ValueText(read, read.objects[0]), other);
  }
}

// ---- bits --------------------------------------------------------------------------------

// The meanings of the bits EMV publishes for these objects: byte from 1, bit
// from 8 (most significant) to 1. Bits not listed are reserved.
struct PublishedBit {
  std::uint32_t tag;
  std::size_t bytes;
  int byte;
  int bit;
  std::string_view meaning;
};
constexpr PublishedBit kPublishedBits[] = {
    // Terminal Verification Results
    {0x95, 5, 1, 8, "offline data authentication was not performed"},
    {0x95, 5, 1, 7, "SDA failed"},
    {0x95, 5, 1, 6, "ICC data missing"},
    {0x95, 5, 1, 5, "card appears on terminal exception file"},
    {0x95, 5, 1, 4, "DDA failed"},
    {0x95, 5, 1, 3, "CDA failed"},
    {0x95, 5, 1, 2, "SDA selected"},
    {0x95, 5, 2, 8, "ICC and terminal have different application versions"},
    {0x95, 5, 2, 7, "expired application"},
    {0x95, 5, 2, 6, "application not yet effective"},
    {0x95, 5, 2, 5, "requested service not allowed for card product"},
    {0x95, 5, 2, 4, "new card"},
    {0x95, 5, 3, 8, "cardholder verification was not successful"},
    {0x95, 5, 3, 7, "unrecognised CVM"},
    {0x95, 5, 3, 6, "PIN try limit exceeded"},
    {0x95, 5, 3, 5, "PIN entry required and PIN pad not present or not working"},
    {0x95, 5, 3, 4, "PIN entry required, PIN pad present, but PIN was not entered"},
    {0x95, 5, 3, 3, "online PIN entered"},
    {0x95, 5, 4, 8, "transaction exceeds floor limit"},
    {0x95, 5, 4, 7, "lower consecutive offline limit exceeded"},
    {0x95, 5, 4, 6, "upper consecutive offline limit exceeded"},
    {0x95, 5, 4, 5, "transaction selected randomly for online processing"},
    {0x95, 5, 4, 4, "merchant forced transaction online"},
    {0x95, 5, 5, 8, "default TDOL used"},
    {0x95, 5, 5, 7, "issuer authentication failed"},
    {0x95, 5, 5, 6, "script processing failed before final GENERATE AC"},
    {0x95, 5, 5, 5, "script processing failed after final GENERATE AC"},
    // Transaction Status Information
    {0x9B, 2, 1, 8, "offline data authentication was performed"},
    {0x9B, 2, 1, 7, "cardholder verification was performed"},
    {0x9B, 2, 1, 6, "card risk management was performed"},
    {0x9B, 2, 1, 5, "issuer authentication was performed"},
    {0x9B, 2, 1, 4, "terminal risk management was performed"},
    {0x9B, 2, 1, 3, "script processing was performed"},
    // Application Interchange Profile
    {0x82, 2, 1, 7, "SDA supported"},
    {0x82, 2, 1, 6, "DDA supported"},
    {0x82, 2, 1, 5, "cardholder verification is supported"},
    {0x82, 2, 1, 4, "terminal risk management is to be performed"},
    {0x82, 2, 1, 3, "issuer authentication is supported"},
    {0x82, 2, 1, 1, "CDA supported"},
    // Terminal Capabilities
    {0x9F33, 3, 1, 8, "manual key entry"},
    {0x9F33, 3, 1, 7, "magnetic stripe"},
    {0x9F33, 3, 1, 6, "IC with contacts"},
    {0x9F33, 3, 2, 8, "plaintext PIN for ICC verification"},
    {0x9F33, 3, 2, 7, "enciphered PIN for online verification"},
    {0x9F33, 3, 2, 6, "signature (paper)"},
    {0x9F33, 3, 2, 5, "enciphered PIN for offline verification"},
    {0x9F33, 3, 2, 4, "no CVM required"},
    {0x9F33, 3, 3, 8, "SDA"},
    {0x9F33, 3, 3, 7, "DDA"},
    {0x9F33, 3, 3, 6, "card capture"},
    {0x9F33, 3, 3, 4, "CDA"},
};

TEST(EmvBits, EachPublishedBitAloneNamesItsMeaning) {
  for (const PublishedBit& published : kPublishedBits) {
    SCOPED_TRACE(TagText(published.tag) + " byte " + std::to_string(published.byte) + " bit " +
                 std::to_string(published.bit));
    std::vector<std::uint8_t> value(published.bytes, 0);
    value[static_cast<std::size_t>(published.byte - 1)] = static_cast<std::uint8_t>(1 << (published.bit - 1));
    const std::vector<std::string_view> names = BitNames(published.tag, value);
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], published.meaning);
  }
}

TEST(EmvBits, ReservedBitsNameNothingAndSeveralBitsNameEach) {
  for (const std::uint32_t tag : {0x95u, 0x9Bu, 0x82u, 0x9F33u}) {
    SCOPED_TRACE(TagText(tag));
    // every bit the table does not list is reserved
    for (std::size_t byte = 0; byte < 5; ++byte) {
      for (int bit = 1; bit <= 8; ++bit) {
        const bool published = std::any_of(std::begin(kPublishedBits), std::end(kPublishedBits), [&](const PublishedBit& p) {
          return p.tag == tag && p.byte == static_cast<int>(byte + 1) && p.bit == bit;
        });
        if (published) continue;
        std::vector<std::uint8_t> value(5, 0);
        value[byte] = static_cast<std::uint8_t>(1 << (bit - 1));
        EXPECT_TRUE(BitNames(tag, value).empty()) << "byte " << byte + 1 << " bit " << bit;
      }
    }
  }
  // a TVR from a declined card: no offline authentication, PIN try limit
  // exceeded, floor limit exceeded
  const std::vector<std::string_view> tvr = BitNames(0x95, Bytes("8000208000"));
  EXPECT_EQ(tvr, (std::vector<std::string_view>{"offline data authentication was not performed",
                                                "PIN try limit exceeded", "transaction exceeds floor limit"}));
  // a short value names what it has
  EXPECT_EQ(BitNames(0x95, Bytes("80")).size(), 1u);
  EXPECT_TRUE(BitNames(0x9F26, Bytes("FFFFFFFF")).empty());
  EXPECT_FALSE(HasBitNames(0x9F26));
}

TEST(EmvBits, CryptogramInformationNamesTheCryptogramType) {
  struct Case {
    std::string_view hex;
    std::vector<std::string_view> names;
  };
  const Case cases[] = {
      {"00", {"AAC"}},
      {"40", {"TC"}},
      {"80", {"ARQC"}},
      {"C0", {"RFU"}},
      {"88", {"ARQC", "advice required"}},
      {"01", {"AAC", "service not allowed"}},
      {"0A", {"AAC", "advice required", "PIN try limit exceeded"}},
      {"43", {"TC", "issuer authentication failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hex));
    EXPECT_EQ(BitNames(0x9F27, Bytes(c.hex)), c.names);
  }
}

TEST(EmvBits, CvmResultsNameMethodConditionAndResult) {
  struct Case {
    std::string_view hex;
    std::vector<std::string_view> names;
  };
  const Case cases[] = {
      {"1E0302", {"signature (paper)", "condition: if terminal supports the CVM", "result: successful"}},
      {"420300", {"enciphered PIN verified online", "apply succeeding CV rule if this CVM is unsuccessful",
                  "condition: if terminal supports the CVM", "result: unknown"}},
      {"3F0000", {"no CVM performed", "condition: always", "result: unknown"}},
      {"1F0002", {"no CVM required", "condition: always", "result: successful"}},
      {"010101", {"plaintext PIN verification performed by ICC", "condition: if unattended cash", "result: failed"}},
      {"00", {"fail CVM processing"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.hex));
    EXPECT_EQ(BitNames(0x9F34, Bytes(c.hex)), c.names);
  }
}

// ---- card data ----------------------------------------------------------------------------

TEST(EmvCardData, MaskingKeepsSixAndFourOfCardNumbersAndHidesNamesAndTrack1) {
  const std::string clear = "5A08" "4761739001010119"  // 5A, 16 digits
                            "5708" "4761739001D22122"  // 57: the card number before D (10 digits)
                            "9F0206000000010057"       // the amount stays
                            "5F2003534D49"             // the name
                            "9F6B0A" "5413330000000000";  // 9F6B runs past the end: not read
  const std::string masked = MaskChipData(clear);
  ASSERT_EQ(masked.size(), clear.size());
  EXPECT_EQ(masked.substr(4, 16), "476173******0119");
  EXPECT_EQ(masked.substr(24, 16), "******9001D22122");  // ten digits keep only their last four
  EXPECT_EQ(masked.substr(40, 24), clear.substr(40, 24));
  EXPECT_EQ(masked.substr(64, 6), "******");
  EXPECT_EQ(masked.substr(70), clear.substr(70));
  EXPECT_EQ(MaskChipData("ZZ5A0812"), "ZZ5A0812");

  const TlvData data = DecodeTlv("5A08476173900101011957084761739001010119" "9F6B04" "54133300");
  EXPECT_EQ(ChipCardNumbers(data), (std::vector<std::string>{"4761739001010119", "54133300"}));
}

TEST(EmvCardData, PanMaskReachesIntoP55) {
  EXPECT_TRUE(ElementHoldsCardNumber(55));
  EXPECT_EQ(MaskElement(55, "5A0847617390010101199A03261208"), "5A08476173******01199A03261208");
  DecodedMessage message;
  message.elements.push_back({2, ElementFormat::LL, "16", 16, "4761739001010119", {}, true});
  message.elements.push_back({55, ElementFormat::LLL, "020", 20, "5A085413330000000000", {}, true});
  EXPECT_EQ(CardNumbersIn(message), (std::vector<std::string>{"4761739001010119", "5413330000000000"}));
}

TEST(IsoCodes, CurrencyAndCountryLookUps) {
  EXPECT_EQ(CurrencyNumeric("EUR"), "978");
  EXPECT_EQ(CurrencyNumeric("XYZ"), "");
  EXPECT_EQ(CurrencyName("756"), "Swiss Franc");
  EXPECT_EQ(CurrencyName("000"), "");
  EXPECT_EQ(CountryName("826"), "United Kingdom");
  EXPECT_EQ(CountryName("12"), "");
  EXPECT_TRUE(IsCurrencyCode("EUR"));
  EXPECT_FALSE(IsCurrencyCode("eur"));
}

}  // namespace
}  // namespace kalvrin::emv
