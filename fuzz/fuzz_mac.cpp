// The MAC button over arbitrary file bytes with a fixed key, on a window
// right after start-up: the envelope lookup, the three variants and the
// colours. Each MAC shown must be the one a single GenerateMAC call gives
// over the same bytes, and no key material may outlive the run. Every output
// of kalvrin-check mac is made from the same file and read back.
#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_output.h"
#include "headless/check_app.h"
#include "fuzz_support.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "mac/file_mac.h"
#include "mac/generate_mac.h"
#include "mac/key_install.h"
#include "mac/mac_command.h"
#include "mac/wipe.h"

namespace kalvrin::fuzz {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kKcv = "B690D735";

// The reference: the key installed once, and SINGLE over a whole byte stream.
struct Reference {
  KeyStore store{};
  KeyCryptogram cryptogram{};
  Reference() { FUZZ_CHECK(InstallKey(store, cryptogram, kKey, kKcv, {8, 5, 8, 3, 1, 9, 9, 3}) == 0); }

  std::string Mac(std::vector<std::uint8_t> bytes) const {
    MaskNonPrintable(bytes.data(), static_cast<std::ptrdiff_t>(bytes.size()));
    std::array<char, 9> text{};
    ChainRecord chain{};
    MacContext context{};
    FUZZ_CHECK(GenerateMAC(text.data(), chain, context, SINGLE, bytes.data(), bytes.size(), store, cryptogram, kKcv) ==
               0);
    return std::string(text.data(), 8);
  }
};

// The MAC range without the bytes a trimmed variant drops.
std::vector<std::uint8_t> Trimmed(const std::uint8_t* data, std::size_t size, const MacRecords& records,
                                  bool dropSpaces) {
  const auto length = static_cast<std::int64_t>(size);
  const std::int64_t begin = std::clamp<std::int64_t>(records.headerLength, 0, length);
  const std::int64_t end = std::max<std::int64_t>(begin, length - std::max<std::int64_t>(0, records.trailerLength));
  std::vector<std::uint8_t> kept;
  for (std::int64_t i = begin; i < end; ++i) {
    const std::uint8_t b = data[i];
    if (b == '\r' || b == '\n' || b == '\t' || (dropSpaces && b == ' ')) continue;
    kept.push_back(b);
  }
  return kept;
}

bool AllZero(const MacCheckSecrets& secrets) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&secrets);
  return std::all_of(bytes, bytes + sizeof secrets, [](std::uint8_t b) { return b == 0; });
}

void CheckEnvelope(const std::uint8_t* data, std::size_t size, const MacRecords& records) {
  // the file header's "1644" stands where headerLength says, after the MAC header
  FUZZ_CHECK(records.headerLength >= 60 && records.headerLength + 4 <= static_cast<std::int64_t>(size));
  FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(data) + records.headerLength, 4) == "1644");
  if (records.trailerLength == 0) return;  // no trailer in the file
  // the trailer's 51 bytes follow the last digit of its "1844" (other bytes
  // may stand between its digits) and carry the function code 971
  FUZZ_CHECK(records.trailerLength >= 55);
  const auto length = static_cast<std::int64_t>(size);
  const auto trailerAt = [&](std::int64_t bytesAt) {
    return bytesAt >= records.headerLength + 8 && data[bytesAt - 1] == '4' &&
           std::string_view(reinterpret_cast<const char*>(data) + bytesAt + 32, 3) == "971";
  };
  if (records.trailerLength > 55) {
    FUZZ_CHECK(trailerAt(length - records.trailerLength + 4));
    return;
  }
  // a trailer the file cuts short (35 to 51 of its bytes) counts as 55 bytes too
  bool found = false;
  for (std::int64_t kept = 35; kept <= 51 && !found; ++kept) found = trailerAt(length - kept);
  FUZZ_CHECK(found);
}

void CheckVariants(const HeadlessSurface& surface, const std::uint8_t* data, std::size_t size,
                   const MacRecords& records) {
  static const Reference reference;
  const std::string all = surface.editText(Edit::CalcMacAll);
  const std::string nhd = surface.editText(Edit::CalcMacNHD);
  const std::string nsp = surface.editText(Edit::CalcMacNSP);
  // on a file that stays as it is, every variant shows its MAC
  FUZZ_CHECK(all == reference.Mac(std::vector<std::uint8_t>(data, data + size)));
  FUZZ_CHECK(nhd == reference.Mac(Trimmed(data, size, records, false)));
  FUZZ_CHECK(nsp == reference.Mac(Trimmed(data, size, records, true)));
  FUZZ_CHECK(surface.editText(Edit::CalcMac1FSize) == std::to_string(size));
  FUZZ_CHECK(surface.editText(Edit::CalcMac2FSize) == std::to_string(Trimmed(data, size, records, false).size()));
  // green exactly where a MAC equals the declared one
  const std::string declared = surface.editText(Edit::INFileMac);
  const Edit results[] = {Edit::CalcMacAll, Edit::CalcMacNHD, Edit::CalcMacNSP};
  for (const Edit edit : results) {
    const TextColour expected = surface.editText(edit) == declared ? TextColour::Green : TextColour::Red;
    FUZZ_CHECK(surface.editColour(edit) == expected);
  }
}

// kalvrin-check mac itself in one of its three forms (the input's size picks
// which), read back: its exit status follows from the outcome, and the
// outcome from what the check found.
void CheckCommandLine(const std::string& path, std::size_t size, const MacOutcome& outcome, bool trailerFound) {
  static const std::vector<std::string> kForms[] = {{}, {"--json"}, {"--csv"}};
  const std::vector<std::string>& form = kForms[size % std::size(kForms)];
  std::vector<std::string> args{"mac", path};
  args.insert(args.end(), form.begin(), form.end());
  const Printed printed = RunCheck(args);
  CheckPrinted(printed.out, form);
  FUZZ_CHECK(printed.exitCode == ExitStatus(outcome.outcome));
  if (!trailerFound) FUZZ_CHECK(printed.exitCode == 2);
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kalvrin;
  const std::string path = fuzz::InputFile(data, size);
  HeadlessSurface surface;
  FormatCheck check(surface);
  StartUpState(check, surface);
  MacCheckSecrets secrets;
  MacOutcome outcome;
  const int result = MacCommand(surface, path, "(B690D735)", fuzz::kKey, secrets, outcome);
  FUZZ_CHECK(fuzz::AllZero(secrets));

  HeadlessSurface lookupSurface;
  MacRecords records;
  const bool found = FindMacRecords(lookupSurface, path, records);
  if (!found) {
    // the driver stopped with the lookup's message; no variant ran
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(outcome.reason == MacReason::NoEnvelope);
    FUZZ_CHECK(surface.status(1) == "MAC Records error");
    FUZZ_CHECK(surface.status(2) == lookupSurface.status(2));
    FUZZ_CHECK(surface.editText(Edit::CalcMacAll).empty());
    fuzz::CheckCommandLine(path, size, outcome, false);
    return 0;
  }
  FUZZ_CHECK(result == 1);
  FUZZ_CHECK(surface.status(2) == "MAC processed");
  const bool trailerFound = records.trailerLength != 0;
  FUZZ_CHECK((outcome.reason == MacReason::NoTrailer) == !trailerFound);
  fuzz::CheckEnvelope(data, size, records);
  fuzz::CheckVariants(surface, data, size, records);
  fuzz::CheckCommandLine(path, size, outcome, trailerFound);
  return 0;
}
