// Prints what a headless window shows: a readable report, one JSON object,
// or the grid as CSV. Shared by every kalvrin-check subcommand.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/headless_surface.h"
#include "iso/grid_csv.h"  // Latin1ToUtf8, WriteCsvRow

namespace kalvrin {

enum class OutputFormat { Text, Json, Csv };

// A text from the file for a line of standard error: as on standard output,
// each byte read as Latin-1, but control characters (C0, DEL and C1)
// written as \n, \r, \t or \xNN so that the line stays one line.
std::string FileTextForLine(std::string_view text);

// A path (or an argument) for a line of standard error: valid UTF-8 is kept
// as it is, as the system's file names are; control characters and bytes
// that are not UTF-8 are written as \n, \r, \t or \xNN.
std::string PathForLine(std::string_view path);

// The window state as the documented JSON object on one line: command,
// result, status, progress, grid (every row still held, title row first),
// edits, colors.
void WriteSurfaceJson(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result);

// The readable report: status texts, progress, the file's MAC values and
// computed MACs when any is set, and the grid as an aligned table.
void WriteTextReport(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result);

}  // namespace kalvrin
