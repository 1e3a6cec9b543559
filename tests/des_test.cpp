// The DES block cipher against the published validation tables, the
// operations by key bytes, and the hex-text rules; every table is also
// checked against OpenSSL's DES as an independent reference.

#include "mac/des.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "support/reference_mac.h"

namespace kalvrin {
namespace {

DesBytes Block(std::string_view hex) {
  DesBytes b{};
  EXPECT_TRUE(HexToBytes(b.data(), hex, b.size())) << hex;
  return b;
}

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  std::string text(2 * n + 1, '?');
  BytesToHex(text.data(), bytes, n);
  text.pop_back();  // the NUL
  return text;
}
std::string Hex(const DesBytes& b) { return Hex(b.data(), b.size()); }

struct KnownAnswer {
  std::string_view key;
  std::string_view plain;
  std::string_view cipher;
};

// Encrypts and decrypts one vector with a schedule and by key bytes, and
// checks that OpenSSL agrees with the published value.
void CheckKnownAnswer(const KnownAnswer& v) {
  const DesBytes key = Block(v.key);
  const DesBytes plain = Block(v.plain);
  KeySchedule schedule;
  BuildKeySchedule(schedule, key);
  DesBytes out{};
  EXPECT_EQ(DesBlock(out, kModeEncrypt, schedule, plain), 0);
  EXPECT_EQ(Hex(out), v.cipher);
  EXPECT_EQ(DesBlock(out, kModeDecrypt, schedule, Block(v.cipher)), 0);
  EXPECT_EQ(Hex(out), v.plain);
  DesEncrypt(out, key, plain);
  EXPECT_EQ(Hex(out), v.cipher);
  EXPECT_EQ(test::OpenSslEcb("DES-ECB", key.data(), plain, true), v.cipher);
}

// The single-bit block with bit `bit` (0 = the first, most significant) set.
std::string SingleBit(int bit) {
  DesBytes b{};
  b[static_cast<std::size_t>(bit / 8)] = static_cast<std::uint8_t>(0x80U >> (bit % 8));
  return Hex(b);
}

// NIST SP 800-20 (after NBS SP 500-20), Table A.1: key 0101010101010101,
// plaintext the single-bit block of bit i, ciphertext as published.
constexpr std::string_view kVariablePlaintext[64] = {
    "95F8A5E5DD31D900", "DD7F121CA5015619", "2E8653104F3834EA", "4BD388FF6CD81D4F",
    "20B9E767B2FB1456", "55579380D77138EF", "6CC5DEFAAF04512F", "0D9F279BA5D87260",
    "D9031B0271BD5A0A", "424250B37C3DD951", "B8061B7ECD9A21E5", "F15D0F286B65BD28",
    "ADD0CC8D6E5DEBA1", "E6D5F82752AD63D1", "ECBFE3BD3F591A5E", "F356834379D165CD",
    "2B9F982F20037FA9", "889DE068A16F0BE6", "E19E275D846A1298", "329A8ED523D71AEC",
    "E7FCE22557D23C97", "12A9F5817FF2D65D", "A484C3AD38DC9C19", "FBE00A8A1EF8AD72",
    "750D079407521363", "64FEED9C724C2FAF", "F02B263B328E2B60", "9D64555A9A10B852",
    "D106FF0BED5255D7", "E1652C6B138C64A5", "E428581186EC8F46", "AEB5F5EDE22D1A36",
    "E943D7568AEC0C5C", "DF98C8276F54B04B", "B160E4680F6C696F", "FA0752B07D9C4AB8",
    "CA3A2B036DBC8502", "5E0905517BB59BCF", "814EEB3B91D90726", "4D49DB1532919C9F",
    "25EB5FC3F8CF0621", "AB6A20C0620D1C6F", "79E90DBC98F92CCA", "866ECEDD8072BB0E",
    "8B54536F2F3E64A8", "EA51D3975595B86B", "CAFFC6AC4542DE31", "8DD45A2DDF90796C",
    "1029D55E880EC2D0", "5D86CB23639DBEA9", "1D1CA853AE7C0C5F", "CE332329248F3228",
    "8405D1ABE24FB942", "E643D78090CA4207", "48221B9937748A23", "DD7C0BBD61FAFD54",
    "2FBC291A570DB5C4", "E07C30D7E4E26E12", "0953E2258E8E90A1", "5B711BC4CEEBF2EE",
    "CC083F1E6D9E85F6", "D2FD8867D50D2DFE", "06E7EA22CE92708F", "166B40B44ABA4BD6"};

// Table A.2: plaintext zero, key the 0101010101010101 key with key bit i of
// the 56 (parity bits skipped) set, ciphertext as published.
constexpr std::string_view kVariableKey[56] = {
    "95A8D72813DAA94D", "0EEC1487DD8C26D5", "7AD16FFB79C45926", "D3746294CA6A6CF3",
    "809F5F873C1FD761", "C02FAFFEC989D1FC", "4615AA1D33E72F10", "2055123350C00858",
    "DF3B99D6577397C8", "31FE17369B5288C9", "DFDD3CC64DAE1642", "178C83CE2B399D94",
    "50F636324A9B7F80", "A8468EE3BC18F06D", "A2DC9E92FD3CDE92", "CAC09F797D031287",
    "90BA680B22AEB525", "CE7A24F350E280B6", "882BFF0AA01A0B87", "25610288924511C2",
    "C71516C29C75D170", "5199C29A52C9F059", "C22F0A294A71F29F", "EE371483714C02EA",
    "A81FBD448F9E522F", "4F644C92E192DFED", "1AFA9A66A6DF92AE", "B3C1CC715CB879D8",
    "19D032E64AB0BD8B", "3CFAA7A7DC8720DC", "B7265F7F447AC6F3", "9DB73B3C0D163F54",
    "8181B65BABF4A975", "93C9B64042EAA240", "5570530829705592", "8638809E878787A0",
    "41B9A79AF79AC208", "7A9BE42F2009A892", "29038D56BA6D2745", "5495C6ABF1E5DF51",
    "AE13DBD561488933", "024D1FFA8904E389", "D1399712F99BF02E", "14C1D7C1CFFEC79E",
    "1DE5279DAE3BED6F", "E941A33F85501303", "DA99DBBC9A03F379", "B7FC92F91D8E92E9",
    "AE8E5CAA3CA04E85", "9CC62DF43B6EED74", "D863DBB5C59A91A0", "A1AB2190545B91D7",
    "0875041E64C570F7", "5A594528BEBEF1CC", "FCDB3291DE21F0C0", "869EFD7F9F265A09"};

std::string VariableKey(int i) {
  DesBytes key;
  key.fill(0x01);
  key[static_cast<std::size_t>(i / 7)] = static_cast<std::uint8_t>(0x80U >> (i % 7));
  return Hex(key);
}

// Table A.3, permutation operation: plaintext zero.
constexpr KnownAnswer kPermutationOperation[] = {
    {"1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"1007103489988020", "0000000000000000", "0C0CC00C83EA48FD"},
    {"10071034C8980120", "0000000000000000", "83BC8EF3A6570183"},
    {"1046103489988020", "0000000000000000", "DF725DCAD94EA2E9"},
    {"1086911519190101", "0000000000000000", "E652B53B550BE8B0"},
    {"1086911519580101", "0000000000000000", "AF527120C485CBB0"},
    {"5107B01519580101", "0000000000000000", "0F04CE393DB926D5"},
    {"1007B01519190101", "0000000000000000", "C9F00FFC74079067"},
    {"3107915498080101", "0000000000000000", "7CFD82A593252B4E"},
    {"3107919498080101", "0000000000000000", "CB49A2F9E91363E3"},
    {"10079115B9080140", "0000000000000000", "00B588BE70D23F56"},
    {"3107911598080140", "0000000000000000", "406A9A6AB43399AE"},
    {"1007D01589980101", "0000000000000000", "6CB773611DCA9ADA"},
    {"9107911589980101", "0000000000000000", "67FD21C17DBB5D70"},
    {"9107D01589190101", "0000000000000000", "9592CB4110430787"},
    {"1007D01598980120", "0000000000000000", "A6B7FF68A318DDD3"},
    {"1007940498190101", "0000000000000000", "4D102196C914CA16"},
    {"0107910491190401", "0000000000000000", "2DFA9F4573594965"},
    {"0107910491190101", "0000000000000000", "B46604816C0E0774"},
    {"0107940491190401", "0000000000000000", "6E7E6221A4F34E87"},
    {"19079210981A0101", "0000000000000000", "AA85E74643233199"},
    {"1007911998190801", "0000000000000000", "2E5A19DB4D1962D6"},
    {"10079119981A0801", "0000000000000000", "23A866A809D30894"},
    {"1007921098190101", "0000000000000000", "D812D961F017D320"},
    {"100791159819010B", "0000000000000000", "055605816E58608F"},
    {"1004801598190101", "0000000000000000", "ABD88E8B1B7716F1"},
    {"1004801598190102", "0000000000000000", "537AC95BE69DA1E1"},
    {"1004801598190108", "0000000000000000", "AED0F6AE3C25CDD8"},
    {"1002911598100104", "0000000000000000", "B3E35A5EE53E7B8D"},
    {"1002911598190104", "0000000000000000", "61C79C71921A2EF8"},
    {"1002911598100201", "0000000000000000", "E2F5728F0995013C"},
    {"1002911698100101", "0000000000000000", "1AEAC39A61F0A464"}};

// Table A.4, substitution tables.
constexpr KnownAnswer kSubstitutionTables[] = {
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"07A1133E4A0B2686", "0248D43806F67172", "868EBB51CAB4599A"},
    {"3849674C2602319E", "51454B582DDF440A", "7178876E01F19B2A"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "AF37FB421F8C4095"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "86A560F10EC6D85B"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "0CD3DA020021DC09"},
    {"43297FAD38E373FE", "762514B829BF486A", "EA676B2CB7DB2B7A"},
    {"07A7137045DA2A16", "3BDD119049372802", "DFD64A815CAF1A0F"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "5C513C9C4886C088"},
    {"37D06BB516CB7546", "164D5E404F275232", "0A2AEEAE3FF4AB77"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "EF1BF03E5DFA575A"},
    {"584023641ABA6176", "004BD6EF09176062", "88BF0DB6D70DEE56"},
    {"025816164629B007", "480D39006EE762F2", "A1F9915541020B56"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "6FBF1CAFCFFD0556"},
    {"4FB05E1515AB73A7", "072D43A077075292", "2F22E49BAB7CA1AC"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "5A6B612CC26CCE4A"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "5F4C038ED12B2E41"},
    {"1C587F1C13924FEF", "305532286D6F295A", "63FAC0D034D9F793"}};

TEST(DesKnownAnswers, VariablePlaintextAndInversePermutation) {
  for (int i = 0; i < 64; ++i) {
    SCOPED_TRACE("SP 800-20 Table A.1 #" + std::to_string(i));
    const std::string plain = SingleBit(i);
    CheckKnownAnswer({"0101010101010101", plain, kVariablePlaintext[i]});
    // Inverse permutation test: 0101010101010101 is a weak key, so
    // encrypting the ciphertext gives the plaintext back.
    DesBytes out{};
    DesEncrypt(out, Block("0101010101010101"), Block(kVariablePlaintext[i]));
    EXPECT_EQ(Hex(out), plain);
  }
}

TEST(DesKnownAnswers, VariableKey) {
  for (int i = 0; i < 56; ++i) {
    SCOPED_TRACE("SP 800-20 Table A.2 #" + std::to_string(i));
    const std::string key = VariableKey(i);
    CheckKnownAnswer({key, "0000000000000000", kVariableKey[i]});
  }
}

TEST(DesKnownAnswers, PermutationOperation) {
  int i = 0;
  for (const KnownAnswer& v : kPermutationOperation) {
    SCOPED_TRACE("SP 800-20 Table A.3 #" + std::to_string(i++));
    CheckKnownAnswer(v);
  }
}

TEST(DesKnownAnswers, SubstitutionTables) {
  int i = 0;
  for (const KnownAnswer& v : kSubstitutionTables) {
    SCOPED_TRACE("SP 800-20 Table A.4 #" + std::to_string(i++));
    CheckKnownAnswer(v);
  }
}

TEST(DesKnownAnswers, ClassicWorkedExample) {
  SCOPED_TRACE("the textbook example key 133457799BBCDFF1");
  CheckKnownAnswer({"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"});
}

TEST(DesBlockModes, DecryptUndoesEncryptInPlace) {
  std::mt19937 random(20240601);
  for (int i = 0; i < 200; ++i) {
    SCOPED_TRACE("random case " + std::to_string(i));
    DesBytes key;
    DesBytes block;
    for (auto& b : key) b = static_cast<std::uint8_t>(random());
    for (auto& b : block) b = static_cast<std::uint8_t>(random());
    KeySchedule schedule;
    BuildKeySchedule(schedule, key);
    DesBytes work = block;
    ASSERT_EQ(DesBlock(work, kModeEncrypt, schedule, work), 0);
    EXPECT_EQ(Hex(work), test::OpenSslEcb("DES-ECB", key.data(), block, true));
    ASSERT_EQ(DesBlock(work, kModeDecrypt, schedule, work), 0);
    EXPECT_EQ(Hex(work), Hex(block));
    DesBytes byKey = block;
    DesEncrypt(byKey, key, byKey);
    EXPECT_EQ(Hex(byKey), test::OpenSslEcb("DES-ECB", key.data(), block, true));
  }
}

TEST(DesBlockModes, UnknownModeReturns3AndChangesNothing) {
  KeySchedule schedule;
  BuildKeySchedule(schedule, Block("133457799BBCDFF1"));
  for (char mode : {'A', 'e', 'd', '\0', 'X'}) {
    SCOPED_TRACE(std::string("mode ") + mode);
    DesBytes out = Block("A5A5A5A5A5A5A5A5");
    EXPECT_EQ(DesBlock(out, mode, schedule, Block("0123456789ABCDEF")), 3);
    EXPECT_EQ(Hex(out), "A5A5A5A5A5A5A5A5");
  }
}

TEST(DesKeys, ParityBitsAreIgnored) {
  std::mt19937 random(7);
  for (int i = 0; i < 50; ++i) {
    SCOPED_TRACE("random case " + std::to_string(i));
    DesBytes key;
    DesBytes block;
    for (auto& b : key) b = static_cast<std::uint8_t>(random());
    for (auto& b : block) b = static_cast<std::uint8_t>(random());
    DesBytes flipped = key;
    for (auto& b : flipped) b = static_cast<std::uint8_t>(b ^ (random() & 1U));
    DesBytes a{};
    DesBytes b{};
    DesEncrypt(a, key, block);
    DesEncrypt(b, flipped, block);
    EXPECT_EQ(Hex(a), Hex(b));
  }
}

TEST(TripleDes, TwoKeyEde) {
  struct Case {
    std::string_view key, plain, cipher;
  };
  // Two-key EDE vectors (K1 K2 K1) of the Go crypto/des tests, also checked
  // against OpenSSL's DES-EDE.
  constexpr Case kCases[] = {
      {"0000000000000000FFFFFFFFFFFFFFFF", "0000000000000000", "9295B59BB384736E"},
      {"0000000000000000FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "C197F558748A20E7"},
      {"FFFFFFFFFFFFFFFF0000000000000000", "0000000000000000", "3E680AA78B75DF18"},
      {"FFFFFFFFFFFFFFFF0000000000000000", "FFFFFFFFFFFFFFFF", "6D6A4A644C7B8C91"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.key) + " / " + std::string(c.plain));
    DoubleKey key{};
    ASSERT_TRUE(HexToBytes(key.data(), c.key, key.size()));
    DesBytes out{};
    TripleDesEncrypt(out, key, Block(c.plain));
    EXPECT_EQ(Hex(out), c.cipher);
    EXPECT_EQ(test::OpenSslEcb("DES-EDE-ECB", key.data(), Block(c.plain), true), c.cipher);
  }
}

TEST(TripleDes, EqualHalvesGiveSingleDesAndRandomKeysMatchOpenSsl) {
  std::mt19937 random(99);
  for (int i = 0; i < 100; ++i) {
    SCOPED_TRACE("random case " + std::to_string(i));
    DoubleKey key;
    DesBytes block;
    for (auto& b : key) b = static_cast<std::uint8_t>(random());
    for (auto& b : block) b = static_cast<std::uint8_t>(random());
    DesBytes out = block;
    TripleDesEncrypt(out, key, out);  // in place
    EXPECT_EQ(Hex(out), test::OpenSslEcb("DES-EDE-ECB", key.data(), block, true));

    std::memcpy(key.data() + 8, key.data(), 8);
    DesBytes k1;
    std::memcpy(k1.data(), key.data(), 8);
    DesBytes single{};
    TripleDesEncrypt(out, key, block);
    DesEncrypt(single, k1, block);
    EXPECT_EQ(Hex(out), Hex(single));
  }
}

TEST(HexText, BytesToHexIsUpperCaseAndTerminated) {
  const std::uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
  char text[10];
  std::memset(text, '#', sizeof text);
  BytesToHex(text, bytes, 4);
  EXPECT_EQ(std::string_view(text, 9), std::string_view("009FA0FF\0", 9));
  EXPECT_EQ(text[9], '#');  // nothing written past the NUL
}

TEST(HexText, HexToBytesByTheNibbleRule) {
  struct Case {
    std::string text;
    std::string bytes;  // as upper-case hex
  };
  const Case cases[] = {
      {"0aF9", "0AF9"},
      {"0AF9", "0AF9"},
      {"abcdef", "ABCDEF"},
      {"G0", "00"},          // 'G' - 0x37 = 0x10: low nibble 0
      {"Zz", "33"},          // 'Z' - 0x37 = 0x23, 'z' - 0x37 = 0x43
      {"  ", "00"},          // ' ' - 0x30 = -0x10: low nibble 0
      {"\x80\xFF", "0F"},    // signed: below 0x40, so c - 0x30
      {":;", "AB"},          // the characters after '9' run on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("text \"" + c.text + "\"");
    std::uint8_t out[4] = {};
    EXPECT_TRUE(HexToBytes(out, c.text, c.bytes.size() / 2));
    EXPECT_EQ(Hex(out, c.bytes.size() / 2), c.bytes);
  }
}

TEST(HexText, ShortTextIsNotReadPastItsEnd) {
  // The text lives in a buffer of exactly its size; AddressSanitizer
  // catches a read beyond it.
  for (std::size_t size = 0; size < 16; ++size) {
    SCOPED_TRACE("text of " + std::to_string(size) + " characters");
    auto text = std::make_unique<char[]>(size + 1);
    std::memset(text.get(), 'F', size);
    DesBytes out;
    out.fill(0x55);
    EXPECT_FALSE(HexToBytes(out.data(), std::string_view(text.get(), size), 8));
    std::string expected(size, 'F');
    expected.resize(16, '0');  // missing characters read as nibble 0
    EXPECT_EQ(Hex(out), expected);
  }
}

TEST(XorBytes, WritesExactlyCountBytes) {
  const std::uint8_t a[] = {0xF0, 0x0F, 0xAA, 0x55};
  const std::uint8_t b[] = {0xFF, 0xFF, 0x0F, 0x55};
  for (int count : {-1, 0, 2, 4}) {
    SCOPED_TRACE("count " + std::to_string(count));
    std::uint8_t out[4] = {0x11, 0x11, 0x11, 0x11};
    XorBytes(out, a, b, count);
    const std::string all = "0FF0A500";
    const std::size_t written = count > 0 ? static_cast<std::size_t>(count) : 0;
    EXPECT_EQ(Hex(out, 4), all.substr(0, 2 * written) + std::string("11111111").substr(2 * written));
  }
}

}  // namespace
}  // namespace kalvrin
