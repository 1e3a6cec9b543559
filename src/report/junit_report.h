// The report as JUnit XML in the Apache Ant format that CI servers read:
// one testsuite per file, one testcase per rule that ran, passing when the
// rule found no error; a rule's errors as its one failure, warnings in the
// suite's system-out.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/html_report.h"
#include "report/summary.h"

namespace kalvrin::report {

void WriteJUnitReport(std::ostream& out, const std::vector<FileSummary>& files, const RunFacts& run,
                      const std::string& hostname);

}  // namespace kalvrin::report
