// kalvrin-check verify: the verify pass's findings and summaries in the
// three output forms, for one file or many.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "headless/surface_output.h"
#include "verify/finding.h"
#include "verify/verify_pass.h"

namespace kalvrin {

// One finding: a compiler-style line, one JSON object on a line, or one CSV
// record (RFC 4180, CRLF).
std::string FormatFinding(OutputFormat format, std::string_view file, const verify::Finding& finding);
// The title row of the CSV findings.
std::string CsvFindingsTitle();
// The per-file summary: readable lines, or one JSON object with a "summary"
// field on a line; CSV has none.
std::string FormatSummary(OutputFormat format, std::string_view file, const verify::VerifySummary& summary);

}  // namespace kalvrin
