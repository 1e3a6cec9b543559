// CSV records of grid rows.
#include "iso/grid_csv.h"

#include <cstring>

#include "iso/char_scan.h"

namespace kalvrin {

namespace {
// The bytes that call for quotes are ASCII, so the Latin-1 text tells as
// well as its UTF-8 form would.
bool NeedsQuotes(std::string_view field) { return field.find_first_of(",\"\r\n") != std::string_view::npos; }

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

std::size_t PlainCsvLength(std::span<const std::string_view> cells) {
  std::size_t length = cells.empty() ? 2 : cells.size() + 1;  // commas, CR LF
  for (const std::string_view cell : cells) length += cell.size();
  return length;
}

bool WritePlainCsvRecord(std::span<const std::string_view> cells, char* out) {
  // The fields are copied into place and one check over the whole record
  // tells whether any of them needed more.
  char* at = out;
  for (std::size_t col = 0; col < cells.size(); ++col) {
    if (col > 0) *at++ = ',';
    CopyBytes(at, cells[col].data(), cells[col].size());
    at += cells[col].size();
  }
  const std::size_t commas = cells.empty() ? 0 : cells.size() - 1;
  if (!IsPlainCsvRecord(out, static_cast<std::size_t>(at - out), commas)) return false;
  at[0] = '\r';
  at[1] = '\n';
  return true;
}

void AppendCsvRow(std::string& out, std::span<const std::string_view> cells) {
  const std::size_t start = out.size();
  out.resize(start + PlainCsvLength(cells));
  if (WritePlainCsvRecord(cells, out.data() + start)) return;
  out.resize(start);
  for (std::size_t col = 0; col < cells.size(); ++col) {
    if (col > 0) out += ',';
    const std::string_view field = cells[col];
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
