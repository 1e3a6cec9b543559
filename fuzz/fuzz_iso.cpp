// The ISO button over arbitrary file bytes, on a window right after
// start-up, then each row's message decoded again as the inspector does, and
// every output of kalvrin-check iso made from the same file and read back.
#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_output.h"
#include "fuzz_support.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "iso/message_decoder.h"

namespace kalvrin::fuzz {
namespace {

bool IsDecimal(const std::string& text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int ColumnOf(const HeadlessSurface& surface, std::string_view title) {
  for (int col = 0; col < surface.gridColCount(); ++col) {
    if (surface.cell(col, 0) == title) return col;
  }
  return -1;
}

void CheckWindow(const HeadlessSurface& surface, const FormatCheck& check, int result, std::size_t size) {
  FUZZ_CHECK(result == 0 || result == 1);
  // the file was opened: panel 1 shows its size
  FUZZ_CHECK(surface.status(1) == std::to_string(size));
  FUZZ_CHECK(surface.progressMin() == 0);
  FUZZ_CHECK(surface.progressMax() == static_cast<int>(size));
  // the bar ends full, or where a bad length prefix stopped the run
  FUZZ_CHECK(surface.progressPosition() <= surface.progressMax());
  if (!check.state().stopRequested) FUZZ_CHECK(surface.progressPosition() == surface.progressMax());
  if (result == 1) FUZZ_CHECK(surface.status(2) == "Format processed");
  if (check.state().stopRequested) {
    FUZZ_CHECK(result == 0);
    FUZZ_CHECK(surface.status(2).starts_with("Error Process "));
  }
  // one row per message found, each numbered, its figures decimal
  FUZZ_CHECK(surface.gridRowCount() == check.state().recordCount + 1);
  const int pad = ColumnOf(surface, "PAD");
  const int sizeColumn = ColumnOf(surface, "SIZE");
  FUZZ_CHECK(pad >= 0 && sizeColumn >= 0);
  for (int row = 1; row < surface.gridRowCount(); ++row) {
    FUZZ_CHECK(surface.cell(0, row) == std::to_string(row));
    const std::string padText = surface.cell(pad, row);
    const std::string sizeText = surface.cell(sizeColumn, row);
    FUZZ_CHECK(padText.empty() || IsDecimal(padText));
    FUZZ_CHECK(sizeText.empty() || (IsDecimal(sizeText) && std::stoll(sizeText) <= static_cast<long long>(size)));
  }
}

// The inspector's decoder, on the message each row remembers: it finds the
// row's MTI where the row says the message starts. Each decoded message is
// also written as --elements writes it, as a JSON object and as a listing.
void CheckDecoder(const HeadlessSurface& surface, const std::string& path) {
  MessageReader reader(path);
  FUZZ_CHECK(reader.IsOpen());
  for (int row = 1; row < surface.gridRowCount(); ++row) {
    const std::int64_t offset = surface.gridRowOffset(row);
    FUZZ_CHECK(offset >= 0 && offset < reader.FileSize());
    const DecodedMessage message = reader.Decode(offset);
    FUZZ_CHECK(message.stop != DecodeStop::NoMessage && message.stop != DecodeStop::CannotRead);
    FUZZ_CHECK(message.mti == surface.cell(1, row));
  }
}

// kalvrin-check iso itself, with its streaming writers and its error line,
// in one of its five forms, clear or masked, read back: the input's size
// picks the form, so that a crash replays with the same one, and the corpus
// holds every size. Masked, no card number of the rows' messages shows whole.
void CheckCommandLine(const HeadlessSurface& surface, const std::string& path, std::size_t size, int result) {
  static const std::vector<std::string> kForms[] = {
      {}, {"--json"}, {"--csv"}, {"--elements"}, {"--elements", "--json"}};
  const std::vector<std::string>& form = kForms[size % std::size(kForms)];
  const bool masked = size / std::size(kForms) % 2 == 1;
  std::vector<std::string> args{"iso", path};
  args.insert(args.end(), form.begin(), form.end());
  if (masked) args.push_back("--mask-pan");
  const Printed printed = RunCheck(args);
  FUZZ_CHECK(printed.exitCode == (result != 0 ? 0 : 1));  // the file opens: it ran
  CheckPrinted(printed.out, form);
  if (!masked) return;
  MessageReader reader(path);
  std::vector<DecodedMessage> messages;
  for (int row = 1; row < surface.gridRowCount(); ++row) messages.push_back(reader.Decode(surface.gridRowOffset(row)));
  CheckNoCardNumber(printed.out, CardNumbersToHide(messages));
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kalvrin;
  const std::string path = fuzz::InputFile(data, size);
  HeadlessSurface surface;
  FormatCheck check(surface);
  StartUpState(check, surface);
  const int result = IsoCommand(check, surface, path);
  fuzz::CheckWindow(surface, check, result, size);
  fuzz::CheckDecoder(surface, path);

  fuzz::CheckCommandLine(surface, path, size, result);
  return 0;
}
