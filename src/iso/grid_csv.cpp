// CSV records of grid rows.
#include "iso/grid_csv.h"

#include <array>

namespace kalvrin {

namespace {
// The bytes that call for quotes are ASCII, so the Latin-1 text tells as
// well as its UTF-8 form would.
bool NeedsQuotes(std::string_view field) { return field.find_first_of(",\"\r\n") != std::string_view::npos; }

// Most cells are plain ASCII that needs no quotes: one pass tells, and
// such a text is copied whole.
constexpr std::array<bool, 256> kPlainByte = [] {
  std::array<bool, 256> plain{};
  for (int byte = 0; byte < 0x80; ++byte) plain[static_cast<std::size_t>(byte)] = true;
  for (const char c : {',', '"', '\r', '\n'}) plain[static_cast<unsigned char>(c)] = false;
  return plain;
}();

bool IsPlain(std::string_view field) {
  bool plain = true;
  for (const char c : field) plain &= kPlainByte[static_cast<unsigned char>(c)];
  return plain;
}
}  // namespace

void AppendLatin1AsUtf8(std::string& out, std::string_view text) {
  std::size_t from = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (byte < 0x80) continue;
    out.append(text.substr(from, at - from));
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
    from = at + 1;
  }
  out.append(text.substr(from));
}

std::string Latin1ToUtf8(std::string_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  AppendLatin1AsUtf8(utf8, text);
  return utf8;
}

void AppendCsvRow(std::string& out, std::span<const std::string_view> cells) {
  for (std::size_t col = 0; col < cells.size(); ++col) {
    if (col > 0) out += ',';
    const std::string_view field = cells[col];
    if (IsPlain(field)) {
      out.append(field);
      continue;
    }
    if (!NeedsQuotes(field)) {
      AppendLatin1AsUtf8(out, field);
      continue;
    }
    out += '"';
    std::size_t from = 0;
    for (std::size_t quote = field.find('"'); quote != std::string_view::npos; quote = field.find('"', from)) {
      AppendLatin1AsUtf8(out, field.substr(from, quote + 1 - from));
      out += '"';
      from = quote + 1;
    }
    AppendLatin1AsUtf8(out, field.substr(from));
    out += '"';
  }
  out += "\r\n";
}

void WriteCsvRow(std::ostream& out, const std::vector<std::string>& cells) {
  std::vector<std::string_view> views(cells.begin(), cells.end());
  std::string record;
  AppendCsvRow(record, views);
  out << record;
}

}  // namespace kalvrin
