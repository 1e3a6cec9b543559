// The staged MAC call. Arbitrary data cut into arbitrary stages gives the
// MAC that SINGLE gives for the whole; and MIDDLE and LAST on arbitrary
// ChainRecords and schedules never read or write outside their records.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "defines.h"
#include "fuzz_support.h"
#include "mac/generate_mac.h"
#include "mac/key_install.h"

namespace kalvrin::fuzz {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kKcv = "B690D735";

struct Key {
  KeyStore store{};
  KeyCryptogram cryptogram{};
  Key() { FUZZ_CHECK(InstallKey(store, cryptogram, kKey, kKcv, {1, 1, 4, 0, 1, 2, 4, 0}) == 0); }
};
const Key& TheKey() {
  static const Key key;
  return key;
}

using MacText = std::array<char, 9>;

int Call(MacText& text, ChainRecord& chain, MacContext& context, int stage, const std::uint8_t* data,
         std::size_t length) {
  return GenerateMAC(text.data(), chain, context, stage, data, length, TheKey().store, TheKey().cryptogram, kKcv);
}

void StagesGiveTheSingleMac(FuzzedDataProvider& input) {
  std::vector<std::size_t> pieces(input.ConsumeIntegralInRange<std::size_t>(0, 12));
  for (std::size_t& piece : pieces) piece = input.ConsumeIntegralInRange<std::size_t>(0, 40);
  const std::vector<std::uint8_t> message = input.ConsumeRemainingBytes<std::uint8_t>();

  MacText single{};
  ChainRecord unused{};
  MacContext singleContext{};
  FUZZ_CHECK(Call(single, unused, singleContext, SINGLE, message.data(), message.size()) == kMacDone);
  FUZZ_CHECK(IsMacText(single.data()));

  // FIRST takes the first piece, MIDDLE each further one, LAST the rest; the
  // records start as garbage, which FIRST must not depend on
  MacText staged{};
  ChainRecord chain;
  chain.fill(0xEE);
  MacContext context;
  std::memset(static_cast<void*>(&context), 0xEE, sizeof context);
  std::size_t at = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::size_t length = std::min(pieces[i], message.size() - at);
    FUZZ_CHECK(Call(staged, chain, context, i == 0 ? FIRST : MIDDLE, message.data() + at, length) == kMacDone);
    const int pending = TextToNumber(std::string_view(reinterpret_cast<const char*>(chain.data()), 2));
    FUZZ_CHECK(pending >= 0 && pending <= 7);
    at += length;
  }
  if (pieces.empty()) FUZZ_CHECK(Call(staged, chain, context, FIRST, message.data(), 0) == kMacDone);
  FUZZ_CHECK(Call(staged, chain, context, LAST, message.data() + at, message.size() - at) == kMacDone);
  FUZZ_CHECK(std::string(staged.data()) == std::string(single.data()));
}

// MIDDLE or LAST (or a stage that is none) on records made of input bytes.
void ArbitraryRecordsAreSafe(FuzzedDataProvider& input) {
  ChainRecord chain{};
  input.ConsumeData(chain.data(), chain.size());
  MacContext context{};
  input.ConsumeData(&context, sizeof context);
  const int stage = input.PickValueInArray({MIDDLE, LAST, MIDDLE, LAST, 0, 5, -1});
  const std::size_t split = input.ConsumeIntegralInRange<std::size_t>(0, 64);
  const std::vector<std::uint8_t> data = input.ConsumeRemainingBytes<std::uint8_t>();

  const int pending = TextToNumber(std::string_view(reinterpret_cast<const char*>(chain.data()), 2));
  const bool validCount = pending >= 0 && pending <= 7;
  const ChainRecord before = chain;
  MacText text;
  text.fill('Z');
  const int code = Call(text, chain, context, stage, data.data(), data.size());
  if (stage != MIDDLE && stage != LAST) {
    FUZZ_CHECK(code == kMacWrongStage && chain == before && text[0] == 'Z');
    return;
  }
  if (!validCount) {
    FUZZ_CHECK(code == kMacWrongPendingCount && chain == before && text[0] == 'Z');
    return;
  }
  FUZZ_CHECK(code == kMacDone);
  if (stage == LAST) {
    FUZZ_CHECK(chain == before && IsMacText(text.data()));
    // MIDDLE then LAST over the same bytes, cut anywhere, ends the same way
    ChainRecord again = before;
    MacText cut;
    const std::size_t first = std::min(split, data.size());
    FUZZ_CHECK(Call(cut, again, context, MIDDLE, data.data(), first) == kMacDone);
    FUZZ_CHECK(Call(cut, again, context, LAST, data.data() + first, data.size() - first) == kMacDone);
    FUZZ_CHECK(std::string(cut.data()) == std::string(text.data()));
  } else {
    const int left = TextToNumber(std::string_view(reinterpret_cast<const char*>(chain.data()), 2));
    FUZZ_CHECK(chain[0] == '0' && left >= 0 && left <= 7);
  }
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    kalvrin::fuzz::StagesGiveTheSingleMac(input);
  } else {
    kalvrin::fuzz::ArbitraryRecordsAreSafe(input);
  }
  return 0;
}
