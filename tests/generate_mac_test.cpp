// Key check values, key installation and the staged MAC call: the values a
// user sees (KCV texts, MAC texts, the chain record between stages, the
// codes), and OpenSSL's DES-CBC as an independent reference for the MAC.

#include "mac/generate_mac.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mac/key_install.h"
#include "mac/wipe.h"
#include "support/reference_mac.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kKcv = "B690D735";  // its check value, as the samples declare it
constexpr std::array<std::uint8_t, 8> kSeed = {1, 2, 3, 4, 5, 6, 7, 8};

std::string Hex(const std::uint8_t* bytes, std::size_t n) {
  std::string text(2 * n + 1, '?');
  BytesToHex(text.data(), bytes, n);
  text.pop_back();
  return text;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// OpenSSL's CBC-MAC of the message under a 16-digit key.
std::string ReferenceMac(std::string_view keyText, const std::vector<std::uint8_t>& message) {
  return test::OpenSslMac(keyText, std::string(message.begin(), message.end()));
}

std::string RandomKeyText(std::mt19937& random) {
  DesBytes key;
  for (auto& b : key) b = static_cast<std::uint8_t>(random());
  return Hex(key.data(), key.size());
}

std::string Kcv(std::string_view keyText, int digits = 8) {
  char text[17];
  std::memset(text, '#', sizeof text);
  EXPECT_EQ(CreateKCV(text, keyText, digits), 1);
  return text;
}

// A key as the MAC check driver installs it.
struct Installed {
  KeyStore store{};
  KeyCryptogram cryptogram{};
  std::string kcv;
  int installed = kKeyInstalled;
};

Installed Install(std::string_view keyText) {
  Installed key;
  key.kcv = Kcv(keyText);
  EXPECT_EQ(InstallKey(key.store, key.cryptogram, keyText, key.kcv, kSeed), 0);
  return key;
}

// The records one message runs on, with the MAC text kept separately so
// tests can see whether a stage wrote it.
struct Message {
  ChainRecord chain{};
  MacContext context{};
  char mac[9] = "--------";

  int Stage(int stage, const std::uint8_t* data, std::size_t length, const Installed& key) {
    return GenerateMAC(mac, chain, context, stage, data, length, key.store, key.cryptogram,
                       key.kcv);
  }
  int Stage(int stage, const std::vector<std::uint8_t>& data, const Installed& key) {
    return Stage(stage, data.data(), data.size(), key);
  }
  std::string Count() const { return std::string(chain.begin(), chain.begin() + 2); }
  std::string Pending(std::size_t n) const { return Hex(chain.data() + 2, n); }
  std::string ChainingValue() const { return Hex(chain.data() + 10, 8); }
};

std::string SingleMac(const std::vector<std::uint8_t>& message, const Installed& key) {
  Message m;
  EXPECT_EQ(m.Stage(SINGLE, message, key), 0);
  return m.mac;
}

// The message cut into pieces of the given sizes: FIRST, MIDDLE..., LAST.
std::string StagedMac(const std::vector<std::uint8_t>& message, const std::vector<std::size_t>& cuts,
                      const Installed& key) {
  Message m;
  std::size_t offset = 0;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    const int stage = i == 0 ? FIRST : i + 1 == cuts.size() ? LAST : MIDDLE;
    EXPECT_EQ(m.Stage(stage, message.data() + offset, cuts[i], key), 0) << "piece " << i;
    offset += cuts[i];
  }
  return m.mac;
}

// --- Key check values -------------------------------------------------------

TEST(KeyCheckValue, DigitsOfTheEncryptedZeroBlock) {
  EXPECT_EQ(Kcv(kKey), kKcv);
  EXPECT_EQ(Kcv(kKey, 16), "B690D73596571F96");
  EXPECT_EQ(Kcv(kKey, 1), "B");
  std::mt19937 random(11);
  for (int i = 0; i < 20; ++i) {
    const std::string single = RandomKeyText(random);
    const std::string twice = single + RandomKeyText(random);
    SCOPED_TRACE(twice);
    EXPECT_EQ(Kcv(single, 16), test::OpenSslKcv(single));
    EXPECT_EQ(Kcv(twice, 16), test::OpenSslKcv(twice));  // two-key triple DES
    EXPECT_EQ(Kcv(twice, 8), test::OpenSslKcv(twice).substr(0, 8));
  }
}

TEST(KeyCheckValue, CaseAndParityBitsDoNotMatter) {
  const struct {
    std::string_view label, key;
  } cases[] = {
      {"lower case", "a4f1c07b3e9d2658"},
      {"mixed case", "a4F1c07B3e9D2658"},
      {"parity bits flipped", "A5F0C17A3F9C2759"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Kcv(c.key), kKcv);
  }
}

TEST(KeyCheckValue, KeyTextsOfOtherLengthsAreRefused) {
  for (std::size_t length : {0, 1, 8, 15, 17, 31, 33, 64}) {
    SCOPED_TRACE("key text of " + std::to_string(length) + " digits");
    // The key sits in a buffer of exactly its length, so a read past it shows.
    auto key = std::make_unique<char[]>(length + 1);
    std::memset(key.get(), '7', length);
    char text[17];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(CreateKCV(text, std::string_view(key.get(), length), 8), 0);
    EXPECT_STREQ(text, "");
  }
}

// The one key rule every command applies: 16 digits, or 32 that install
// only when their halves are equal, either case.
TEST(MacKeyText, SixteenOrThirtyTwoHexDigits) {
  const struct {
    std::string_view key;
    MacKeyText form;
    std::string_view refusal;
  } cases[] = {
      {"A4F1C07B3E9D2658", MacKeyText::Single, ""},
      {"a4f1c07b3e9d2658", MacKeyText::Single, ""},
      {"A4F1C07B3E9D2658A4F1C07B3E9D2658", MacKeyText::EqualHalves, ""},
      {"A4F1C07B3E9D2658a4f1c07b3e9d2658", MacKeyText::EqualHalves, ""},  // halves compared as numbers
      {"A4F1C07B3E9D26581C587F1C13924FEF", MacKeyText::DifferentHalves,
       "InstallKey error: 1 (the key cannot be installed as a single DES key)"},
      {"A4F1C07B3E9D2658A4F1C07B3E9D2659", MacKeyText::DifferentHalves,
       "InstallKey error: 1 (the key cannot be installed as a single DES key)"},
      {"", MacKeyText::NotAKey, "the key must be 16 or 32 hex digits"},
      {"A4F1C07B3E9D265", MacKeyText::NotAKey, "the key must be 16 or 32 hex digits"},
      {"A4F1C07B3E9D2658A", MacKeyText::NotAKey, "the key must be 16 or 32 hex digits"},
      {"A4F1C07B3E9D265O", MacKeyText::NotAKey, "the key must be 16 or 32 hex digits"},
      {"A4F1C07B3E9D2658A4F1C07B3E9D265", MacKeyText::NotAKey, "the key must be 16 or 32 hex digits"},
      {"A4F1C07B3E9D2658 4F1C07B3E9D2658", MacKeyText::NotAKey, "the key must be 16 or 32 hex digits"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.key);
    EXPECT_EQ(MacKeyTextOf(c.key), c.form);
    EXPECT_EQ(IsMacKeyText(c.key), c.form != MacKeyText::NotAKey);
    EXPECT_EQ(MacKeyRefusal(c.key), c.refusal);
    char kcv[17] = {};
    EXPECT_EQ(CreateKCV(kcv, c.key, 8), c.form == MacKeyText::NotAKey ? 0 : 1);
  }
  // equal halves: the left half's check value, so that InstallKey takes the key
  EXPECT_EQ(Kcv("A4F1C07B3E9D2658a4f1c07b3e9d2658"), Kcv("A4F1C07B3E9D2658"));
  EXPECT_NE(Kcv("A4F1C07B3E9D26581C587F1C13924FEF"), Kcv("A4F1C07B3E9D2658"));
}

TEST(ForceOddParity, SetsTheLowBitForOddParity) {
  const struct {
    std::string_view in, out;
  } cases[] = {
      {"000103FE807FFF13", "010102FE807FFE13"},
      {"0101010101010101", "0101010101010101"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    DesBytes in;
    DesBytes out;
    HexToBytes(in.data(), c.in, 8);
    ForceOddParity(out, in);
    EXPECT_EQ(Hex(out.data(), 8), c.out);
  }
  for (int value = 0; value < 256; ++value) {
    DesBytes in;
    in.fill(static_cast<std::uint8_t>(value));
    DesBytes out;
    ForceOddParity(out, in);
    EXPECT_EQ(std::popcount(out[0]) % 2, 1) << value;
    EXPECT_EQ(out[0] & 0xFE, value & 0xFE) << value;
  }
}

// --- Key installation ---------------------------------------------------------

// The bytes of the records InstallKey may change, to compare before and after.
std::string Snapshot(const KeyStore& store, const KeyCryptogram& cryptogram) {
  return Hex(reinterpret_cast<const std::uint8_t*>(&store), sizeof store) +
         Hex(cryptogram.data(), cryptogram.size());
}

TEST(InstallKey, RefusalChangesNothing) {
  constexpr std::string_view kDoubleKey = "A4F1C07B3E9D26581C587F1C13924FEF";
  const std::string tripleKcv = Kcv(kDoubleKey);
  ASSERT_NE(tripleKcv, kKcv);
  const struct {
    std::string_view label, key, kcv;
  } cases[] = {
      {"wrong check value", kKey, "B690D736"},
      {"check value of another key", "1C587F1C13924FEF", kKcv},
      {"key text of 15 characters", "A4F1C07B3E9D265", kKcv},
      {"KCV text of 7 characters", kKey, "B690D73"},
      {"empty texts", "", ""},
      {"32-digit key: its first half checked against the triple-DES KCV", kDoubleKey, tripleKcv},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    KeyStore store;
    std::memset(&store, 0x5A, sizeof store);
    KeyCryptogram cryptogram;
    cryptogram.fill(0xA5);
    const std::string before = Snapshot(store, cryptogram);
    // Texts in buffers of exactly their size, so a read past them shows.
    auto key = std::make_unique<char[]>(c.key.size() + 1);
    std::memcpy(key.get(), c.key.data(), c.key.size());
    auto kcv = std::make_unique<char[]>(c.kcv.size() + 1);
    std::memcpy(kcv.get(), c.kcv.data(), c.kcv.size());
    EXPECT_EQ(InstallKey(store, cryptogram, std::string_view(key.get(), c.key.size()),
                         std::string_view(kcv.get(), c.kcv.size()), kSeed),
              1);
    EXPECT_EQ(Snapshot(store, cryptogram), before);
  }
}

TEST(InstallKey, AcceptsTheCheckValueInEitherCase) {
  for (std::string_view kcv : {"B690D735", "b690d735", "B690d735"}) {
    SCOPED_TRACE(kcv);
    KeyStore store{};
    KeyCryptogram cryptogram{};
    EXPECT_EQ(InstallKey(store, cryptogram, kKey, kcv, kSeed), 0);
  }
  // A 32-digit key with equal halves has the single-DES check value.
  KeyStore store{};
  KeyCryptogram cryptogram{};
  const std::string doubled = std::string(kKey) + std::string(kKey);
  EXPECT_EQ(Kcv(doubled), kKcv);
  EXPECT_EQ(InstallKey(store, cryptogram, doubled, Kcv(doubled), kSeed), 0);
}

TEST(InstallKey, EachInstallationHidesTheKeyAnewYetGivesTheSameMac) {
  const std::vector<std::uint8_t> message = Bytes("1644 file header and a batch of messages");
  const std::string expected = ReferenceMac(kKey, message);
  const Installed first = Install(kKey);
  const Installed second = Install(kKey);  // same key, same seed
  EXPECT_NE(Hex(first.cryptogram.data(), 8), Hex(second.cryptogram.data(), 8));
  // The clear key is in neither record.
  DesBytes clear;
  HexToBytes(clear.data(), kKey, 8);
  EXPECT_NE(Hex(first.cryptogram.data(), 8), Hex(clear.data(), 8));
  EXPECT_EQ(SingleMac(message, first), expected);
  EXPECT_EQ(SingleMac(message, second), expected);
}

// verify's jobs and the MAC command install keys on several threads at once.
// Every installation must hide its key under a storage key of its own (the
// generator's state moves on once per installation, never twice alike) and
// give the key's MAC.
TEST(InstallKey, InstallationsOnSeveralThreadsEachGetTheirOwnStorageKey) {
  constexpr int kThreads = 4;
  constexpr int kEach = 1000;
  std::mt19937 random(3);
  std::vector<std::string> keys;
  for (int i = 0; i < kThreads; ++i) keys.push_back(RandomKeyText(random));
  const std::vector<std::uint8_t> message = Bytes("1644 file header and a batch of messages");
  std::vector<std::vector<Installed>> installed(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::string kcv = Kcv(keys[t]);
      for (int i = 0; i < kEach; ++i) {
        Installed key;
        key.kcv = kcv;
        key.installed = InstallKey(key.store, key.cryptogram, keys[t], kcv, kSeed);
        installed[t].push_back(key);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> storageKeys;
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE("thread " + std::to_string(t));
    const std::string expected = ReferenceMac(keys[t], message);
    for (const Installed& key : installed[t]) {
      ASSERT_EQ(key.installed, kKeyInstalled);
      ASSERT_EQ(SingleMac(message, key), expected);
      storageKeys.insert(Hex(reinterpret_cast<const std::uint8_t*>(&key.store), sizeof key.store));
    }
  }
  EXPECT_EQ(storageKeys.size(), std::size_t{kThreads * kEach});
}

// The storage key comes from a generator whose state every installation
// moves on. A refused installation must leave it where it was: copies of
// this process that start alike hide the key alike, whether or not one of
// them was refused first; one that installed first hides it otherwise.
TEST(InstallKeyDeathTest, RefusalLeavesTheGeneratorWhereItWas) {
  const test::TempFile folder("");
  const auto cryptogramFile = [&](const char* name) { return folder.path().parent_path() / name; };
  const auto installAfter = [&](int before, const char* name) {
    KeyStore store{};
    KeyCryptogram cryptogram{};
    if (before != 0 && InstallKey(store, cryptogram, kKey, before < 0 ? "B690D736" : kKcv, kSeed) != (before < 0)) {
      std::exit(2);
    }
    if (InstallKey(store, cryptogram, kKey, kKcv, kSeed) != 0) std::exit(3);
    std::ofstream(cryptogramFile(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(cryptogram.data()), static_cast<std::streamsize>(cryptogram.size()));
    std::exit(0);
  };
  EXPECT_EXIT(installAfter(0, "alone"), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(installAfter(-1, "after-refusal"), testing::ExitedWithCode(0), "");
  EXPECT_EXIT(installAfter(1, "after-installation"), testing::ExitedWithCode(0), "");
  const std::string alone = test::ReadFileBytes(cryptogramFile("alone"));
  ASSERT_EQ(alone.size(), 8u);
  EXPECT_EQ(test::ReadFileBytes(cryptogramFile("after-refusal")), alone);
  EXPECT_NE(test::ReadFileBytes(cryptogramFile("after-installation")), alone);
}

// What the storage keys rest on: a step is reproducible from the same key,
// state and seed; every step moves the state on, so a fixed seed never gives
// the same block twice; another seed or another state gives another block.
TEST(NextRandomBlock, EachStepGivesANewBlockAndMovesTheState) {
  DesBytes key;
  HexToBytes(key.data(), "0123456789ABCDEF", 8);
  DesBytes seed;
  HexToBytes(seed.data(), "1122334455667788", 8);
  DesBytes start;
  HexToBytes(start.data(), "A0B0C0D0E0F00010", 8);

  std::set<std::string> blocks;
  std::set<std::string> states{Hex(start.data(), 8)};
  DesBytes state = start;
  constexpr int kSteps = 2000;
  for (int i = 0; i < kSteps; ++i) {
    DesBytes out;
    NextRandomBlock(out, key, state, seed);
    blocks.insert(Hex(out.data(), 8));
    states.insert(Hex(state.data(), 8));
  }
  EXPECT_EQ(blocks.size(), std::size_t{kSteps});
  EXPECT_EQ(states.size(), std::size_t{kSteps} + 1);

  const auto step = [&](DesBytes stepState, const DesBytes& stepSeed) {
    DesBytes out;
    NextRandomBlock(out, key, stepState, stepSeed);
    return Hex(out.data(), 8) + "/" + Hex(stepState.data(), 8);
  };
  EXPECT_EQ(step(start, seed), step(start, seed));
  DesBytes otherSeed = seed;
  otherSeed[7] ^= 1;
  DesBytes otherState = start;
  otherState[0] ^= 0x80;
  EXPECT_NE(step(start, otherSeed).substr(0, 16), step(start, seed).substr(0, 16));
  EXPECT_NE(step(otherState, seed).substr(0, 16), step(start, seed).substr(0, 16));
}

// --- The staged MAC -------------------------------------------------------------

TEST(GenerateMac, AnyCuttingGivesTheSingleMacAndTheCbcChain) {
  const Installed key = Install(kKey);
  std::vector<std::uint8_t> message(27);
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<std::uint8_t>(0x30 + i);

  // The plain chain of DesEncrypt over four blocks, the last padded with five zeros.
  DesBytes keyBytes;
  HexToBytes(keyBytes.data(), kKey, 8);
  DesBytes chain{};
  for (std::size_t offset = 0; offset < 32; offset += 8) {
    DesBytes block{};
    std::memcpy(block.data(), message.data() + offset, std::min<std::size_t>(8, 27 - offset));
    XorBytes(chain.data(), chain.data(), block.data(), 8);
    DesEncrypt(chain, keyBytes, chain);
  }
  const std::string cbc = Hex(chain.data(), 4);
  EXPECT_EQ(cbc, ReferenceMac(kKey, message));
  EXPECT_EQ(SingleMac(message, key), cbc);

  const std::vector<std::vector<std::size_t>> cuttings = {
      {5, 8, 1, 13}, {27, 0}, {0, 27}, {0, 0, 27}, {7, 1, 19}, {8, 8, 8, 3},
      {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 14}, {3, 4, 5, 6, 9}, {16, 11}, {9, 0, 0, 18}};
  for (const auto& cuts : cuttings) {
    std::string label;
    for (std::size_t c : cuts) label += std::to_string(c) + " ";
    SCOPED_TRACE("pieces " + label);
    EXPECT_EQ(StagedMac(message, cuts, key), cbc);
  }
}

TEST(GenerateMac, WholeBlocksGetNoExtraBlockAndTheEmptyMessageIsZero) {
  const Installed key = Install(kKey);
  const std::vector<std::uint8_t> sixteen = Bytes("0123456789ABCDEF");
  EXPECT_EQ(StagedMac(sixteen, {16, 0}, key), SingleMac(sixteen, key));
  EXPECT_EQ(SingleMac(sixteen, key), ReferenceMac(kKey, sixteen));

  EXPECT_EQ(StagedMac({}, {0, 0}, key), "00000000");
  EXPECT_EQ(StagedMac({}, {0, 0, 0}, key), "00000000");
  EXPECT_EQ(SingleMac({}, key), "00000000");
  Message m;
  EXPECT_EQ(m.Stage(SINGLE, nullptr, 0, key), 0);
  EXPECT_STREQ(m.mac, "00000000");
}

TEST(GenerateMac, ChainRecordBetweenStages) {
  const Installed key = Install(kKey);
  const std::vector<std::uint8_t> first = Bytes("ABCDE");
  const std::vector<std::uint8_t> middle = Bytes("FGHIJKLM");
  Message m;
  m.chain.fill(0xEE);  // the caller need not prepare it
  ASSERT_EQ(m.Stage(FIRST, first, key), 0);
  EXPECT_EQ(m.Count(), "05");
  EXPECT_EQ(m.Pending(5), Hex(first.data(), 5));
  EXPECT_EQ(m.ChainingValue(), "0000000000000000");

  ASSERT_EQ(m.Stage(MIDDLE, middle, key), 0);
  EXPECT_EQ(m.Count(), "05");
  EXPECT_EQ(m.Pending(5), Hex(middle.data() + 3, 5));  // "IJKLM"
  DesBytes keyBytes;
  HexToBytes(keyBytes.data(), kKey, 8);
  DesBytes block;
  std::memcpy(block.data(), "ABCDEFGH", 8);
  DesEncrypt(block, keyBytes, block);
  EXPECT_EQ(m.ChainingValue(), Hex(block.data(), 8));

  ASSERT_EQ(m.Stage(MIDDLE, Bytes("NO"), key), 0);  // still short of a block
  EXPECT_EQ(m.Count(), "07");
  EXPECT_EQ(m.Pending(7), Hex(reinterpret_cast<const std::uint8_t*>("IJKLMNO"), 7));
  EXPECT_EQ(m.ChainingValue(), Hex(block.data(), 8));

  ASSERT_EQ(m.Stage(MIDDLE, Bytes("P0123456789abcdef"), key), 0);  // 1 + 16 bytes
  EXPECT_EQ(m.Count(), "00");

  const ChainRecord beforeLast = m.chain;
  ASSERT_EQ(m.Stage(LAST, Bytes("xyz"), key), 0);
  EXPECT_EQ(m.chain, beforeLast);  // LAST does not write it
  EXPECT_EQ(std::string(m.mac), ReferenceMac(kKey, Bytes("ABCDEFGHIJKLMNOP0123456789abcdefxyz")));
}

TEST(GenerateMac, PendingCountOutOfRangeReturns3AndChangesNothing) {
  const Installed key = Install(kKey);
  const std::vector<std::uint8_t> data = Bytes("some data bytes");
  for (std::string_view count : {"08", "09", "-1", "99", "+8"}) {
    for (int stage : {MIDDLE, LAST}) {
      SCOPED_TRACE("count \"" + std::string(count) + "\" at stage " + std::to_string(stage));
      Message m;
      ASSERT_EQ(m.Stage(FIRST, Bytes("abc"), key), 0);
      m.chain[0] = static_cast<std::uint8_t>(count[0]);
      m.chain[1] = static_cast<std::uint8_t>(count[1]);
      const ChainRecord chain = m.chain;
      const std::string context = Hex(reinterpret_cast<const std::uint8_t*>(&m.context), sizeof m.context);
      EXPECT_EQ(m.Stage(stage, data, key), 3);
      EXPECT_EQ(m.chain, chain);
      EXPECT_EQ(Hex(reinterpret_cast<const std::uint8_t*>(&m.context), sizeof m.context), context);
      EXPECT_STREQ(m.mac, "--------");
    }
  }
}

TEST(GenerateMac, PendingCountReadTheAtolWay) {
  // Two letters read as 0: no pending bytes; " 3" reads as 3.
  const Installed key = Install(kKey);
  const struct {
    std::string_view count;
    std::string message;  // what the MAC then covers
  } cases[] = {
      {"AB", "XYZ"},
      {" 3", "abcXYZ"},
      {"3x", "abcXYZ"},
      {"00", "XYZ"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("count \"" + std::string(c.count) + "\"");
    Message m;
    ASSERT_EQ(m.Stage(FIRST, Bytes("abc"), key), 0);  // count 03, chain zero
    m.chain[0] = static_cast<std::uint8_t>(c.count[0]);
    m.chain[1] = static_cast<std::uint8_t>(c.count[1]);
    EXPECT_EQ(m.Stage(LAST, Bytes("XYZ"), key), 0);
    EXPECT_EQ(std::string(m.mac), ReferenceMac(kKey, Bytes(c.message)));
  }
}

TEST(GenerateMac, UnknownStageReturns2AndChangesNothing) {
  const Installed key = Install(kKey);
  for (int stage : {0, 5, -1, 100}) {
    SCOPED_TRACE("stage " + std::to_string(stage));
    Message m;
    ASSERT_EQ(m.Stage(FIRST, Bytes("abcdefghijk"), key), 0);
    const ChainRecord chain = m.chain;
    EXPECT_EQ(m.Stage(stage, Bytes("0123456789"), key), 2);
    EXPECT_EQ(m.chain, chain);
    EXPECT_STREQ(m.mac, "--------");
  }
}

TEST(GenerateMac, WrongCheckValue) {
  Installed key = Install(kKey);
  const std::vector<std::uint8_t> data = Bytes("ABCDE");
  for (std::string_view wrong : {"B690D736", "00000000", "B690D7", ""}) {
    SCOPED_TRACE("KCV text \"" + std::string(wrong) + "\"");
    // The text in a buffer of exactly its size: a short one must not be read past.
    auto kcv = std::make_unique<char[]>(wrong.size() + 1);
    std::memcpy(kcv.get(), wrong.data(), wrong.size());
    key.kcv.clear();
    const std::string_view kcvText(kcv.get(), wrong.size());

    Message single;
    single.chain.fill(0x33);
    EXPECT_EQ(GenerateMAC(single.mac, single.chain, single.context, SINGLE, data.data(), data.size(),
                          key.store, key.cryptogram, kcvText),
              1);
    EXPECT_STREQ(single.mac, "--------");
    ChainRecord untouched;
    untouched.fill(0x33);
    EXPECT_EQ(single.chain, untouched);

    Message first;
    EXPECT_EQ(GenerateMAC(first.mac, first.chain, first.context, FIRST, data.data(), data.size(),
                          key.store, key.cryptogram, kcvText),
              1);
    EXPECT_EQ(first.Count(), "05");  // the stage went on all the same
    EXPECT_EQ(first.Pending(5), Hex(data.data(), 5));
  }
}

TEST(GenerateMac, MiddleAndLastIgnoreTheKeyRecords) {
  const Installed key = Install(kKey);
  const std::vector<std::uint8_t> message = Bytes("a message of some forty-one bytes or so!!");
  Message m;
  ASSERT_EQ(m.Stage(FIRST, message.data(), 10, key), 0);
  const Installed bogus{};  // zero KeyStore, zero cryptogram, no KCV text
  ASSERT_EQ(m.Stage(MIDDLE, message.data() + 10, 20, bogus), 0);
  ASSERT_EQ(m.Stage(LAST, message.data() + 30, message.size() - 30, bogus), 0);
  EXPECT_EQ(std::string(m.mac), ReferenceMac(kKey, message));
}

TEST(GenerateMac, RandomKeysMessagesAndCuttingsAgreeWithOpenSsl) {
  std::mt19937 random(20240607);
  for (int i = 0; i < 300; ++i) {
    const std::string keyText = RandomKeyText(random);
    const Installed key = Install(keyText);
    std::vector<std::uint8_t> message(random() % 300);
    for (auto& b : message) b = static_cast<std::uint8_t>(random());
    std::vector<std::size_t> cuts;
    std::size_t left = message.size();
    const std::size_t pieces = 2 + random() % 6;
    for (std::size_t p = 0; p + 1 < pieces; ++p) {
      const std::size_t take = left == 0 ? 0 : random() % (left + 1);
      cuts.push_back(take);
      left -= take;
    }
    cuts.push_back(left);
    SCOPED_TRACE("key " + keyText + ", " + std::to_string(message.size()) + " bytes in " +
                 std::to_string(cuts.size()) + " pieces");
    const std::string expected = ReferenceMac(keyText, message);
    const std::string staged = StagedMac(message, cuts, key);
    EXPECT_EQ(staged, expected);
    EXPECT_EQ(SingleMac(message, key), expected);
    ASSERT_EQ(staged.size(), 8U);
    EXPECT_EQ(staged.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  }
}

TEST(GenerateMac, CountTextAndWipeGuard) {
  const struct {
    int count;
    std::string_view text;
  } cases[] = {{0, "00"}, {5, "05"}, {7, "07"}, {12, "12"}};
  for (const auto& c : cases) {
    char text[3] = {'?', '?', '?'};
    CountText(text, c.count);
    EXPECT_STREQ(text, std::string(c.text).c_str()) << c.count;
  }
  MacContext context;
  std::memset(&context, 0x77, sizeof context);
  {
    WipeGuard<MacContext> guard(context);
  }
  const MacContext zero{};
  EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
}

}  // namespace
}  // namespace kalvrin
