// The report as one self-contained HTML file: styles inline, charts as
// inline SVG drawn here, a few lines of script that sort the tables (which
// read as well without it). Its size stays flat in the files' sizes.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/summary.h"

namespace kalvrin::report {

// What the report says about the run that made it.
struct RunFacts {
  std::string version;      // KALVRIN's
  std::string commandLine;  // as typed, key arguments left out
  std::string checkedAt;    // UTC, "2026-12-09T03:34:44Z"
  bool maskCardNumbers = true;
};

void WriteHtmlReport(std::ostream& out, const std::vector<FileSummary>& files, const RunFacts& run);

// A file's verdict in one word: "error", "warning" or "clean" ("unread"
// when it could not be read).
std::string VerdictWord(const FileSummary& file);

}  // namespace kalvrin::report
