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

// The window state as the documented JSON object: command, result, status,
// progress, grid (every row still held, title row first), edits, colors.
nlohmann::ordered_json SurfaceJson(const HeadlessSurface& surface, std::string_view command, int result);

// The readable report: status texts, progress, the file's MAC values and
// computed MACs when any is set, and the grid as an aligned table.
void WriteTextReport(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result);

}  // namespace kalvrin
