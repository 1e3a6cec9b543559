// Prints what a headless window shows: a readable report, one JSON object,
// or the grid as CSV. Shared by every kalvrin-check subcommand.
#pragma once

#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/headless_surface.h"
#include "iso/grid_csv.h"  // Latin1ToUtf8, WriteCsvRow

namespace kalvrin {

enum class OutputFormat { Text, Json, Csv };

// How the MAC check came out, for the first line of mac's readable report
// and the "verdict" object of its JSON.
struct MacVerdict {
  std::vector<std::string_view> matched;  // the captions of the variants whose MAC equals the declared one
  std::string_view kcv;                   // the key's check value against the file's: match, mismatch or absent
  std::string line;                       // "MAC ok: ...", "MAC mismatch: ...", "wrong key: ..." or "MAC not checked: ..."
};

// A text from the file for a line of standard error: as on standard output,
// each byte read as Latin-1, but control characters (C0, DEL and C1)
// written as \n, \r, \t or \xNN so that the line stays one line.
std::string FileTextForLine(std::string_view text);

// A path (or an argument) for a line of standard error: valid UTF-8 is kept
// as it is, as the system's file names are; control characters and bytes
// that are not UTF-8 are written as \n, \r, \t or \xNN.
std::string PathForLine(std::string_view path);

// A text from the file for standard output's text forms (the report's
// table, the element listing, verify's lines): each byte read as Latin-1,
// control characters (C0, DEL and C1) written as \xNN, so that a terminal
// shows them and acts on none. Appends it to `out` and gives its width in
// characters.
std::size_t AppendPrintable(std::string& out, std::string_view text);
std::string Printable(std::string_view text);
std::size_t PrintableWidth(std::string_view text);

// A text from the file for a CSV field, still single bytes: C1 controls
// written as \xNN as the text forms write them, since a terminal may act on
// them; the C0 controls a quoted CSV field can hold stay as they are.
std::string C1Escaped(std::string_view text);

// A text of the window's single bytes as a JSON string, appended to `line`:
// each byte read as Latin-1, as the JSON library writes the text's UTF-8
// form, but U+0080-U+009F escaped as \u0080-\u009F.
void AppendJsonText(std::string& line, std::string_view bytes);

// A JSON value on one line, U+0080-U+009F escaped as AppendJsonText does.
std::string JsonLine(const nlohmann::ordered_json& json);

// The window state as the documented JSON object on one line: command,
// grid (every row still held, title row first), result, status, progress,
// edits, colors.
void WriteSurfaceJson(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result,
                      const MacVerdict* verdict = nullptr);

// The readable report: for iso the grid as an aligned table, status texts,
// progress and the grid's row count; for mac the verdict line first, then
// status texts, progress, the declared MAC and the three computed MACs.
void WriteTextReport(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result,
                     const MacVerdict* verdict = nullptr);

// What a subcommand adds after the window state: lines after the readable
// report, and members of the JSON object (each written as ,"name":value).
struct ReportTail {
  std::string text;
  std::string json;
};

// What kalvrin-check prints while a check runs: the grid's rows as the
// surface's row sink hands them over, then the rest of the window state
// once the check has returned. Memory stays the same however long the file.
class ReportStream {
 public:
  virtual ~ReportStream() = default;
  virtual void Row(std::span<const std::string_view> cells) = 0;
  // verdict: mac's, null for the other commands.
  virtual void Finish(const HeadlessSurface& surface, int result, const MacVerdict* verdict = nullptr) = 0;
  ReportTail tail;  // written by Finish, after the rest
};

// The grid as CSV, title row first: a row sink that writes each record as
// the surface hands it over.
HeadlessSurface::RowSink CsvRowSink(std::ostream& out);

// The JSON object of WriteSurfaceJson, the grid written row by row right
// after "command" and the fields known only at the end after it. Nothing is
// written before the first row or Finish.
std::unique_ptr<ReportStream> JsonReportStream(std::ostream& out, std::string_view command);

// The readable report with the grid's table first, then the rest of the
// report. The columns are as wide as the widest text among the first
// kTableLookAhead rows (all of a grid that has no more); a later, longer
// text pushes the rest of its line right, and the columns after it line up
// again as soon as there is room.
inline constexpr std::size_t kTableLookAhead = 8192;
std::unique_ptr<ReportStream> TextReportStream(std::ostream& out, std::string_view command);

}  // namespace kalvrin
