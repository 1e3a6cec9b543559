// kalvrin-check diff: the records of a two-file comparison in the three
// output forms.
#pragma once

#include <string>

#include "compare/compare_files.h"
#include "headless/surface_output.h"

namespace kalvrin {

// One record: a line for people, one JSON object on a line, or one CSV
// record (RFC 4180, CRLF).
std::string FormatDifference(OutputFormat format, const compare::Difference& difference);
// The title row of the CSV records.
std::string CsvDifferencesTitle();
// The summary: a line for people or one JSON object with a "summary" field;
// CSV has none.
std::string FormatDiffSummary(OutputFormat format, const compare::Summary& summary);

}  // namespace kalvrin
