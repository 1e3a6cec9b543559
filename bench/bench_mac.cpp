// The staged MAC over 1 MiB in the 512-byte pieces the file variants use,
// beside OpenSSL's EVP DES-CBC over the same bytes as the reference to beat;
// and one to three chains of 1 MiB each fed together, interleaved.

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "mac/generate_mac.h"
#include "mac/key_install.h"
#include "mac/mac_chains.h"
#include "mac/wipe.h"

namespace {

constexpr std::size_t kMessageBytes = 1 << 20;
constexpr std::size_t kPieceBytes = 512;
constexpr char kKeyText[] = "A4F1C07B3E9D2658";

const std::vector<std::uint8_t>& Message() {
  static const std::vector<std::uint8_t> message = [] {
    std::vector<std::uint8_t> bytes(kMessageBytes);
    std::mt19937 random(42);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(0x20 + random() % 0x5F);
    return bytes;
  }();
  return message;
}

// The benchmark key installed as a MAC check installs it.
struct InstalledKey {
  kalvrin::KeyStore store{};
  kalvrin::KeyCryptogram cryptogram{};
  char kcv[9] = {};
  bool installed = false;
  InstalledKey() {
    kalvrin::CreateKCV(kcv, kKeyText, 8);
    installed = kalvrin::InstallKey(store, cryptogram, kKeyText, kcv, std::array<std::uint8_t, 8>{}) == 0;
  }
};

void BM_GenerateMAC(benchmark::State& state) {
  using namespace kalvrin;
  InstalledKey key;
  if (!key.installed) {
    state.SkipWithError("InstallKey failed");
    return;
  }
  const KeyStore& store = key.store;
  const KeyCryptogram& cryptogram = key.cryptogram;
  const char* kcv = key.kcv;
  const std::vector<std::uint8_t>& message = Message();
  char mac[9] = {};
  for (auto _ : state) {
    ChainRecord chain{};
    MacContext context{};
    WipeGuard<MacContext> guard(context);
    const std::size_t pieces = message.size() / kPieceBytes;
    for (std::size_t i = 0; i < pieces; ++i) {
      const int stage = i == 0 ? FIRST : i + 1 == pieces ? LAST : MIDDLE;
      GenerateMAC(mac, chain, context, stage, message.data() + i * kPieceBytes, kPieceBytes, store,
                  cryptogram, kcv);
    }
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(message.size()));
  state.SetLabel(mac);
}
BENCHMARK(BM_GenerateMAC)->Unit(benchmark::kMillisecond);

// state.range(0) chains over the same 1 MiB, fed 64 KiB at a time: the bytes
// processed count every chain's, so 3 chains at 1.9x one chain's time show
// as 1.6 times BM_GenerateMAC's throughput.
void BM_MacChains(benchmark::State& state) {
  using namespace kalvrin;
  InstalledKey key;
  if (!key.installed) {
    state.SkipWithError("InstallKey failed");
    return;
  }
  const KeyStore& store = key.store;
  const KeyCryptogram& cryptogram = key.cryptogram;
  const char* kcv = key.kcv;
  const auto chains = static_cast<std::size_t>(state.range(0));
  const std::vector<std::uint8_t>& message = Message();
  constexpr std::size_t kFeed = 64 * 1024;
  char mac[9] = {};
  for (auto _ : state) {
    std::array<ChainRecord, kInterleavedChains> records{};
    std::array<MacContext, kInterleavedChains> contexts{};
    WipeGuard<std::array<MacContext, kInterleavedChains>> guard(contexts);
    for (std::size_t c = 0; c < chains; ++c) {
      GenerateMAC(nullptr, records[c], contexts[c], FIRST, message.data(), 8, store, cryptogram, kcv);
    }
    for (std::size_t at = 8; at < message.size(); at += kFeed) {
      std::array<ChainFeed, kInterleavedChains> feeds{};
      for (std::size_t c = 0; c < chains; ++c) {
        feeds[c] = {&records[c], &contexts[c], message.data() + at, std::min(kFeed, message.size() - at)};
      }
      MacMiddle(std::span<const ChainFeed>(feeds.data(), chains));
    }
    GenerateMAC(mac, records[0], contexts[0], LAST, nullptr, 0, store, cryptogram, kcv);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(message.size() * chains));
  state.SetLabel(mac);
}
BENCHMARK(BM_MacChains)->Arg(1)->Arg(2)->Arg(3)->Unit(benchmark::kMillisecond);

void BM_OpenSslDesCbc(benchmark::State& state) {
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* defaults = OSSL_PROVIDER_load(nullptr, "default");
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, "DES-CBC", nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  if (cipher == nullptr || ctx == nullptr) {
    state.SkipWithError("OpenSSL DES-CBC unavailable");
  } else {
    std::uint8_t key[8];
    kalvrin::HexToBytes(key, kKeyText, 8);
    const std::uint8_t iv[8] = {};
    const std::vector<std::uint8_t>& message = Message();
    std::vector<std::uint8_t> out(message.size());
    for (auto _ : state) {
      int n = 0;
      EVP_EncryptInit_ex(ctx, cipher, nullptr, key, iv);
      EVP_CIPHER_CTX_set_padding(ctx, 0);
      EVP_EncryptUpdate(ctx, out.data(), &n, message.data(), static_cast<int>(message.size()));
      benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(message.size()));
    char mac[9];
    kalvrin::BytesToHex(mac, out.data() + out.size() - 8, 4);
    state.SetLabel(mac);
  }
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  if (defaults != nullptr) OSSL_PROVIDER_unload(defaults);
  if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
}
BENCHMARK(BM_OpenSslDesCbc)->Unit(benchmark::kMillisecond);

}  // namespace
