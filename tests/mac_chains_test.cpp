// Interleaved MAC chains: fed in any cutting, one to three chains at a time,
// each chain's record must be what GenerateMAC's MIDDLE calls leave, and its
// MAC what one SINGLE call and OpenSSL's DES-CBC give over its whole message.
#include "mac/mac_chains.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "mac/key_install.h"
#include "support/reference_mac.h"

namespace kalvrin {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kKcv = "B690D735";

struct Installed {
  KeyStore store{};
  KeyCryptogram cryptogram{};
  Installed() { EXPECT_EQ(InstallKey(store, cryptogram, kKey, kKcv, {3, 1, 4, 1, 5, 9, 2, 6}), 0); }
};

// One message fed twice over: through MacMiddle (`fast`) and through
// GenerateMAC MIDDLE calls of the same pieces (`slow`).
struct Message {
  std::string bytes;
  std::size_t fed = 0;
  ChainRecord fast{}, slow{};
  MacContext fastContext{}, slowContext{};
  std::array<char, 9> text{};
};

std::string Single(const Installed& key, const std::string& bytes) {
  ChainRecord chain{};
  MacContext context{};
  std::array<char, 9> text{};
  EXPECT_EQ(GenerateMAC(text.data(), chain, context, SINGLE, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                        bytes.size(), key.store, key.cryptogram, kKcv),
            0);
  return std::string(text.data(), 8);
}

TEST(MacMiddle, AnyCuttingOfUpToFiveChainsGivesEachChainsOwnMac) {
  const Installed key;
  std::mt19937 random(8583);
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    std::vector<Message> messages(1 + random() % 5);
    for (Message& m : messages) {
      // from empty to a few thousand bytes; short ones test the pending bytes
      const std::size_t size = random() % 3 == 0 ? random() % 20 : random() % 5000;
      for (std::size_t i = 0; i < size; ++i) m.bytes += static_cast<char>(random());
      const std::size_t first = std::min<std::size_t>(m.bytes.size(), random() % 30);
      const auto* data = reinterpret_cast<const std::uint8_t*>(m.bytes.data());
      m.fast.fill(0xEE);
      ASSERT_EQ(GenerateMAC(nullptr, m.fast, m.fastContext, FIRST, data, first, key.store, key.cryptogram, kKcv), 0);
      m.slow = m.fast;
      m.slowContext = m.fastContext;
      m.fed = first;
    }
    bool left = true;
    while (left) {
      std::vector<ChainFeed> feeds;
      for (Message& m : messages) {
        if (random() % 4 == 0) continue;  // this chain sits this feed out
        const std::size_t rest = m.bytes.size() - m.fed;
        const std::size_t piece = std::min<std::size_t>(rest, random() % 2 == 0 ? random() % 12 : random() % 900);
        const auto* data = reinterpret_cast<const std::uint8_t*>(m.bytes.data()) + m.fed;
        feeds.push_back({&m.fast, &m.fastContext, data, piece});
        ASSERT_EQ(GenerateMAC(nullptr, m.slow, m.slowContext, MIDDLE, data, piece, key.store, key.cryptogram, kKcv),
                  0);
        m.fed += piece;
      }
      ASSERT_TRUE(MacMiddle(feeds));
      left = false;
      for (const Message& m : messages) {
        EXPECT_EQ(m.fast, m.slow);  // pending count, pending bytes and chaining value alike
        left = left || m.fed < m.bytes.size();
      }
    }
    for (Message& m : messages) {
      ASSERT_EQ(GenerateMAC(m.text.data(), m.fast, m.fastContext, LAST, nullptr, 0, key.store, key.cryptogram, kKcv),
                0);
      const std::string mac(m.text.data(), 8);
      EXPECT_EQ(mac, Single(key, m.bytes));
      EXPECT_EQ(mac, test::OpenSslMac(kKey, m.bytes));
    }
  }
}

TEST(MacMiddle, RefusesARecordGenerateMacWouldRefuseAndChangesNothing) {
  const Installed key;
  const std::string bytes(100, 'x');
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::array<ChainRecord, 2> chains{};
  std::array<MacContext, 2> contexts{};
  for (std::size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(GenerateMAC(nullptr, chains[i], contexts[i], FIRST, data, 13, key.store, key.cryptogram, kKcv), 0);
  }
  chains[1][0] = '0';
  chains[1][1] = '9';  // nine pending bytes cannot be
  const auto before = chains;
  const ChainFeed feeds[] = {{&chains[0], &contexts[0], data, 50}, {&chains[1], &contexts[1], data, 50}};
  EXPECT_FALSE(MacMiddle(feeds));
  EXPECT_EQ(chains, before);
  ChainRecord slow = chains[1];
  EXPECT_EQ(GenerateMAC(nullptr, slow, contexts[1], MIDDLE, data, 50, key.store, key.cryptogram, kKcv),
            kMacWrongPendingCount);
}

}  // namespace
}  // namespace kalvrin
