// The JUnit writer.
#include "report/junit_report.h"

#include "decimal_text.h"
#include "report/markup.h"

namespace kalvrin::report {

namespace {

// "record 12, offset 345, P4: message"
std::string Located(const verify::Finding& finding) {
  std::string where;
  if (finding.record != verify::kNoRecord) where = "record " + std::string(DecimalText(finding.record).view());
  if (finding.offset != verify::kNoOffset) where += (where.empty() ? "offset " : ", offset ") + std::string(DecimalText(finding.offset).view());
  if (finding.element != verify::kNoElement) where += (where.empty() ? "" : ", ") + verify::ElementName(finding.element);
  return FileText((where.empty() ? "file" : where) + ": " + finding.message);
}

std::string Listed(const RuleFigures& rule) {
  std::string text;
  for (const verify::Finding& finding : rule.first) text += Located(finding) + "\n";
  const auto rest = rule.count - static_cast<std::int64_t>(rule.first.size());
  if (rest > 0) text += std::string(DecimalText(rest).view()) + " more\n";
  return text;
}

// The Ant schema's timestamp has no zone: UTC is meant.
std::string AntTimestamp(std::string text) {
  if (!text.empty() && text.back() == 'Z') text.pop_back();
  return text.empty() ? "1970-01-01T00:00:00" : text;
}

void WriteSuite(std::ostream& out, const FileSummary& file, std::size_t id, const RunFacts& run,
                const std::string& hostname) {
  int tests = 0;
  int failures = 0;
  std::string cases;
  std::string warnings;
  const std::string classname = "kalvrin.verify." + PathText(file.identity.name);
  for (const RuleFigures& rule : file.rules) {
    if (!rule.ran || !file.verify.read) continue;
    ++tests;
    cases += "    <testcase name=\"" + std::string(rule.info.id) + "\" classname=\"" + classname + "\" time=\"0\"";
    if (rule.count == 0 || rule.info.severity == verify::Severity::Warning) {
      cases += "/>\n";
      if (rule.count != 0) warnings += "warning[" + std::string(rule.info.id) + "]\n" + Listed(rule);
      continue;
    }
    ++failures;
    cases += ">\n      <failure type=\"" + std::string(rule.info.id) + "\" message=\"" +
             std::string(DecimalText(rule.count).view()) + (rule.count == 1 ? " error" : " errors") + "\">" +
             Listed(rule) + "</failure>\n    </testcase>\n";
  }
  // a file that cannot be read is one error of the suite, not a pass
  const bool unread = !file.verify.read;
  if (unread) {
    ++tests;
    cases += "    <testcase name=\"read\" classname=\"" + classname + "\" time=\"0\">\n      <error type=\"read\" message=\"" +
             FileText(file.verify.error) + "\"/>\n    </testcase>\n";
  }
  out << "  <testsuite name=\"" << PathText(file.identity.name) << "\" package=\"kalvrin\" id=\"" << id << "\" tests=\""
      << tests << "\" failures=\"" << failures << "\" errors=\"" << (unread ? 1 : 0) << "\" time=\"0\" timestamp=\""
      << AntTimestamp(run.checkedAt) << "\" hostname=\"" << PathText(hostname.empty() ? "localhost" : hostname) << "\">\n"
      << "    <properties>\n      <property name=\"path\" value=\"" << PathText(file.identity.path) << "\"/>\n"
      << "      <property name=\"sha256\" value=\"" << file.identity.sha256 << "\"/>\n"
      << "      <property name=\"mac\" value=\"" << FileText(file.mac.text) << "\"/>\n"
      << "      <property name=\"kalvrin\" value=\"" << PathText(run.version) << "\"/>\n    </properties>\n"
      << cases << "    <system-out>" << warnings << "</system-out>\n    <system-err></system-err>\n  </testsuite>\n";
}

}  // namespace

void WriteJUnitReport(std::ostream& out, const std::vector<FileSummary>& files, const RunFacts& run,
                      const std::string& hostname) {
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites>\n";
  for (std::size_t i = 0; i < files.size(); ++i) WriteSuite(out, files[i], i, run, hostname);
  out << "</testsuites>\n";
}

}  // namespace kalvrin::report
