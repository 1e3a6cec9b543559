// The MAC button's command.
#include "mac/mac_command.h"

#include <algorithm>
#include <span>
#include <string>

#include "mac/file_mac.h"
#include "mac/file_mac_texts.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {
// Wipes the text's bytes when it leaves scope.
struct TextWipe {
  std::string& text;
  ~TextWipe() { SecureWipe(text.data(), text.size()); }
};
}  // namespace

int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key) {
  MacCheckSecrets secrets;
  return MacCommand(surface, path, kcvEditText, key, secrets);
}

int MacCommand(WindowSurface& surface, std::string_view path, std::string_view kcvEditText, std::string_view key,
               MacCheckSecrets& secrets) {
  surface.setStatus(kCommandPanel, mac_texts::kProcessingMac);
  surface.repaint();
  // the driver writes the key's check value into this copy; the edit's own
  // text never changes
  std::string kcvCopy(kcvEditText);
  kcvCopy.resize(std::max<std::size_t>(kcvCopy.size(), 8), ' ');
  const TextWipe wipe{kcvCopy};
  const int result = CheckFileMac(surface, path, std::span<char>(kcvCopy), key, secrets);
  if (result != 0) surface.setStatus(kCommandPanel, mac_texts::kMacProcessed);
  return result;
}

}  // namespace kalvrin
