// The settings file's reader over arbitrary INI text: whatever it holds,
// the seven entries come out within their limits, a file without their
// sections gives the defaults, and every value written reads back unchanged.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "settings/settings.h"
#include "fuzz_support.h"

namespace kalvrin::fuzz {
namespace {

bool Same(const WindowSettings& a, const WindowSettings& b) {
  return a.top == b.top && a.left == b.left && a.height == b.height && a.width == b.width &&
         a.caption == b.caption && a.initMax == b.initMax && a.key == b.key;
}

// A one-line entry holds a text up to its first line end or NUL, and a
// reader takes at most the limit of it.
std::string AsRead(std::string_view text) {
  text = text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3)));
  return std::string(text.substr(0, kSettingsTextLimit));
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kalvrin;
  using fuzz::AsRead;
  FuzzedDataProvider input(data, size);
  const std::string caption = input.ConsumeRandomLengthString(3000);
  const std::string key = input.ConsumeRandomLengthString(64);
  const auto top = input.ConsumeIntegral<std::int32_t>();
  const bool initMax = input.ConsumeBool();
  const std::string text = input.ConsumeRemainingBytesAsString();

  IniFile ini;
  ini.LoadText(text);
  const WindowSettings read = ReadSettings(ini);
  FUZZ_CHECK(read.caption.size() <= kSettingsTextLimit && read.key.size() <= kSettingsTextLimit);
  if (text.find('[') == std::string::npos) FUZZ_CHECK(fuzz::Same(read, WindowSettings{}));

  // the window's values written over whatever the file held read back as written
  WindowSettings written = read;
  written.top = top;
  written.caption = caption;
  written.initMax = initMax;
  written.key = key;
  WriteSettings(ini, written);
  IniFile reread;
  reread.LoadText(ini.Text());
  const WindowSettings back = ReadSettings(reread);
  FUZZ_CHECK(back.top == top);
  FUZZ_CHECK(back.initMax == initMax);
  FUZZ_CHECK(back.caption == AsRead(caption));
  FUZZ_CHECK(back.key == AsRead(key));
  FUZZ_CHECK(back.left == read.left && back.height == read.height && back.width == read.width);
  return 0;
}
