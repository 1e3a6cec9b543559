// Escaping for the report's writers.
#include "report/markup.h"

#include <cstdint>

#include "iso/grid_csv.h"

namespace kalvrin::report {

namespace {

bool IsUtf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      if ((static_cast<std::uint8_t>(text[i + k]) >> 6) != 0x2) return false;
    }
    i += length;
  }
  return true;
}

constexpr char kHex[] = "0123456789ABCDEF";

// Appends one byte of a text that is UTF-8 already, or a Latin-1 byte below 0x80.
void AppendEscaped(std::string& out, char c) {
  const auto byte = static_cast<std::uint8_t>(c);
  switch (c) {
    case '&': out += "&amp;"; return;
    case '<': out += "&lt;"; return;
    case '>': out += "&gt;"; return;
    case '"': out += "&quot;"; return;
    case '\'': out += "&#39;"; return;
    default: break;
  }
  if (byte < 0x20 || byte == 0x7F) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
    return;
  }
  out += c;
}

std::string Escaped(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char c : utf8) AppendEscaped(out, c);
  return out;
}

}  // namespace

std::string FileText(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (const char c : latin1) {
    const auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x80) {
      AppendEscaped(out, c);
    } else if (byte < 0xA0) {  // C1 controls are no better than C0 ones in a shared report
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      AppendLatin1AsUtf8(out, std::string_view(&c, 1));
    }
  }
  return out;
}

std::string PathText(std::string_view path) { return Escaped(IsUtf8(path) ? std::string(path) : Latin1ToUtf8(path)); }

}  // namespace kalvrin::report
