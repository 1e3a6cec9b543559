// The result grid as text for other programs: each byte of a cell read as
// Latin-1 and written as UTF-8, rows as CSV records (RFC 4180 quoting, CRLF
// at the end). kalvrin-check --csv and the window's export write through
// these, so the two files are the same byte for byte.
#pragma once

#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin {

// The window's single-byte texts as UTF-8, each byte read as Latin-1.
void AppendLatin1AsUtf8(std::string& out, std::string_view text);
std::string Latin1ToUtf8(std::string_view text);

// One grid row as a CSV record, appended to `out`.
void AppendCsvRow(std::string& out, std::span<const std::string_view> cells);
// Most rows are plain ASCII with no field that needs quotes: their record is
// the fields, the commas between them and CR LF, PlainCsvLength(cells) bytes.
// WritePlainCsvRecord writes it at `out`, which has room for that many; false,
// with `out` written in part, for a row that is not plain, which only
// AppendCsvRow writes right.
std::size_t PlainCsvLength(std::span<const std::string_view> cells);
bool WritePlainCsvRecord(std::span<const std::string_view> cells, char* out);
void WriteCsvRow(std::ostream& out, const std::vector<std::string>& cells);

}  // namespace kalvrin
