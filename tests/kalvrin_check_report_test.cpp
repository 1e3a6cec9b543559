// kalvrin-check report run as a shell runs it: the text and JSON forms and
// their exit status, the JUnit file against the Ant schema, and the HTML
// report opened in a headless Chromium.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/child_process.h"
#include "support/test_files.h"
#include "testgen/filegen.h"

namespace kalvrin {
namespace {

namespace fs = std::filesystem;
using test::Printed;
using test::RunProgram;

Printed Report(std::vector<std::string> args) {
  args.insert(args.begin(), {test::CheckProgramPath(), "report"});
  return RunProgram(args);
}

std::string Generated(std::uint64_t size, std::vector<filegen::Fault> faults = {}) {
  filegen::FileOptions options;
  options.size = size;
  options.faults = std::move(faults);
  return filegen::GenerateFileBytes(options);
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The card number of a generated file's transaction: P2 right after both bitmaps.
std::string CardNumberOf(const std::string& bytes, int record) {
  std::size_t start = 0;
  for (int line = 0; line < record; ++line) start = bytes.find("\r\n", start) + 2;
  const std::size_t p2 = start + 4 + 32;
  return bytes.substr(p2 + 2, std::stoul(bytes.substr(p2, 2)));
}

// ---- text, JSON, exit status -------------------------------------------------------

TEST(ReportCommand, ExitStatusAsVerifys) {
  const test::TempFile clean(Generated(20 * 1024));
  const test::TempFile faulty(Generated(20 * 1024, {{"element.date", 0}}));
  EXPECT_EQ(Report({clean.str()}).exitCode, 0);
  EXPECT_EQ(Report({clean.str(), faulty.str()}).exitCode, 1);
  const Printed missing = Report({clean.str(), clean.str() + ".none"});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("kalvrin-check: " + clean.str() + ".none: cannot open the file"), std::string::npos);
  const Printed unwritable = Report({clean.str(), "--html", "/nonexistent/folder/r.html"});
  EXPECT_EQ(unwritable.exitCode, 2);
  EXPECT_NE(unwritable.err.find("cannot write the report: /nonexistent/folder/r.html"), std::string::npos);
  EXPECT_EQ(Report({clean.str(), "--mask-pan", "--no-mask-pan"}).exitCode, 2);
  EXPECT_EQ(Report({clean.str(), "--key", "XYZ"}).exitCode, 2);
}

TEST(ReportCommand, JsonIsOneObjectPerFileWithAmountsAsStrings) {
  const test::TempFile first(Generated(30 * 1024));
  const test::TempFile second(Generated(10 * 1024));
  const Printed printed = Report({first.str(), second.str(), "--json", "--key", std::string(filegen::kDefaultKey)});
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  std::istringstream lines(printed.out);
  std::vector<nlohmann::json> files;
  for (std::string line; std::getline(lines, line);) files.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0]["file"], first.str());
  EXPECT_EQ(files[1]["file"], second.str());
  const nlohmann::json& json = files[0];
  EXPECT_EQ(json["sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ(json["mac"]["matched"], "MACNSP");
  ASSERT_FALSE(json["largestBatches"].empty());
  EXPECT_TRUE(json["largestBatches"][0]["computed"]["creditAmount"].is_string());
  EXPECT_TRUE(json["currencies"]["978"]["debitAmount"].is_string());
  EXPECT_EQ(json["currencies"]["978"]["name"], "Euro");
  std::int64_t messages = 0;
  for (const auto& [mti, functions] : json["messagesByTypeAndFunction"].items()) {
    for (const auto& [code, count] : functions.items()) messages += count.get<std::int64_t>();
  }
  EXPECT_EQ(messages, json["messages"].get<std::int64_t>());
}

TEST(ReportCommand, CardNumbersMaskedUnlessAskedOtherwise) {
  const std::string bytes = Generated(20 * 1024, {{"element.pan-luhn", 5}});
  const test::TempFile file(bytes);
  const fs::path html = file.path().parent_path() / "r.html";
  const Printed masked = Report({file.str(), "--html", html.string(), "--json"});
  const std::string page = test::ReadFileBytes(html);
  for (const std::string& out : {masked.out, page}) {
    EXPECT_EQ(out.find(CardNumberOf(bytes, 5)), std::string::npos);
    EXPECT_NE(out.find(CardNumberOf(bytes, 5).substr(0, 6)), std::string::npos);
  }
  EXPECT_NE(page.find("Card numbers masked"), std::string::npos);
  const Printed clear = Report({file.str(), "--html", html.string(), "--no-mask-pan"});
  EXPECT_NE(test::ReadFileBytes(html).find(CardNumberOf(bytes, 5)), std::string::npos);
  EXPECT_NE(test::ReadFileBytes(html).find("--no-mask-pan"), std::string::npos);
}

TEST(ReportCommand, TextNamesTheFiguresAndNeverTheKey) {
  const test::TempFile file(Generated(20 * 1024));
  const Printed printed = Report({file.str(), "--key", std::string(filegen::kDefaultKey)});
  EXPECT_NE(printed.out.find(file.str() + ": MAC MACNSP equals the declared"), std::string::npos) << printed.out;
  EXPECT_NE(printed.out.find(": currency 978 Euro: "), std::string::npos);
  EXPECT_NE(printed.out.find(": 0 errors, 0 warnings"), std::string::npos);
  const fs::path html = file.path().parent_path() / "k.html";
  Report({file.str(), "--key", std::string(filegen::kDefaultKey), "--html", html.string()});
  const std::string page = test::ReadFileBytes(html);
  EXPECT_EQ(page.find(std::string(filegen::kDefaultKey)), std::string::npos);
  EXPECT_NE(page.find("--key ..."), std::string::npos);
}

// ---- JUnit ---------------------------------------------------------------------

TEST(ReportCommand, JUnitValidatesAgainstTheAntSchema) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) GTEST_SKIP() << "xmllint (libxml2-utils) is not installed";
  const test::TempFile clean(Generated(20 * 1024));
  const test::TempFile faulty(Generated(40 * 1024, {{"element.date", 0}, {"message.stray-text", 0}, {"batch.totals", 0}}));
  const fs::path xml = clean.path().parent_path() / "junit.xml";
  const Printed printed = Report({clean.str(), faulty.str(), clean.str() + ".none", "--junit", xml.string()});
  EXPECT_EQ(printed.exitCode, 2);
  const std::string text = test::ReadFileBytes(xml);
  EXPECT_EQ(Occurrences(text, "<testsuite "), 3u);
  EXPECT_EQ(Occurrences(text, "<failure "), 2u);  // element.date and batch.totals; the stray text is a warning
  EXPECT_EQ(Occurrences(text, "<error "), 1u);    // the file that cannot be read
  const Printed valid = RunProgram({"/bin/sh", "-c", "xmllint --noout --schema '" KALVRIN_TEST_DATA_DIR
                                                     "/junit-ant.xsd' '" + xml.string() + "'"});
  EXPECT_EQ(valid.exitCode, 0) << valid.err;

  // the schema is no check that cannot fail: two failures in one testcase break it
  std::string broken = text;
  const std::size_t failure = broken.find("<failure ");
  broken.insert(failure, "<failure type=\"x\">again</failure>");
  const test::TempFile brokenFile(broken, "broken.xml");
  const Printed invalid = RunProgram({"/bin/sh", "-c", "xmllint --noout --schema '" KALVRIN_TEST_DATA_DIR
                                                       "/junit-ant.xsd' '" + brokenFile.str() + "'"});
  EXPECT_NE(invalid.exitCode, 0);
}

// ---- the HTML report in a browser --------------------------------------------------

std::string BrowserProgram() {
  for (const char* name : {"chromium", "chromium-browser"}) {
    for (const char* folder : {"/usr/bin/", "/usr/local/bin/"}) {
      const std::string path = std::string(folder) + name;
      if (::access(path.c_str(), X_OK) == 0) return path;
    }
  }
  return {};
}

struct BrowserRun {
  std::string dom;
  std::string log;
};

// Opens the page headless with no network: what the page loads or logs lands in the log.
BrowserRun OpenInBrowser(const std::string& browser, const fs::path& page, const std::string& what,
                         const fs::path& profile) {
  const Printed run = RunProgram({browser, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                                  "--user-data-dir=" + profile.string(), "--enable-logging=stderr", "--v=0",
                                  "--host-resolver-rules=MAP * ~NOTFOUND", "--window-size=1280,800", what,
                                  "file://" + page.string()});
  return {run.out, run.err};
}

// Console messages and failed or refused loads, as Chromium logs them.
std::vector<std::string> Complaints(const std::string& log) {
  std::vector<std::string> found;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("CONSOLE") != std::string::npos || line.find("Refused to") != std::string::npos ||
        line.find("net::ERR_") != std::string::npos || line.find("Uncaught") != std::string::npos) {
      found.push_back(line);
    }
  }
  return found;
}

// The rows of a table in the dumped page.
std::vector<std::string> TableRows(const std::string& dom, const std::string& id) {
  const std::size_t table = dom.find("id=\"" + id + "\"");
  const std::size_t body = dom.find("<tbody>", table);
  const std::size_t end = dom.find("</tbody>", body);
  std::vector<std::string> rows;
  if (table == std::string::npos || body == std::string::npos || end == std::string::npos) return rows;
  for (std::size_t at = dom.find("<tr>", body); at != std::string::npos && at < end; at = dom.find("<tr>", at + 1)) {
    rows.push_back(dom.substr(at, dom.find("</tr>", at) - at));
  }
  return rows;
}

std::string FirstCell(const std::string& row) {
  const std::size_t open = row.find('>', row.find("<td"));
  return row.substr(open + 1, row.find("</td>", open) - open - 1);
}

TEST(ReportInBrowser, LoadsAloneShowsTheCountsAndSorts) {
  const std::string browser = BrowserProgram();
  if (browser.empty()) GTEST_SKIP() << "no Chromium found (Debian's chromium package): the HTML report was not opened";
  const test::TempFile first(Generated(60 * 1024, {{"element.date", 20}, {"element.date", 90}, {"element.pan-luhn", 50}}));
  const test::TempFile second(Generated(20 * 1024), "second.dat");
  const fs::path folder = first.path().parent_path();
  const fs::path page = folder / "report.html";
  const Printed printed = Report({first.str(), second.str(), "--html", page.string()});
  ASSERT_EQ(printed.exitCode, 1) << printed.err;

  const BrowserRun opened = OpenInBrowser(browser, page, "--dump-dom", folder / "profile");
  ASSERT_NE(opened.dom.find("<h1>KALVRIN report</h1>"), std::string::npos) << opened.log;
  EXPECT_TRUE(Complaints(opened.log).empty()) << Complaints(opened.log).front();
  const auto findings = TableRows(opened.dom, "findings-1");
  ASSERT_EQ(findings.size(), 3u);
  EXPECT_EQ(FirstCell(findings[0]), "20");
  EXPECT_TRUE(TableRows(opened.dom, "findings-2").empty());
  EXPECT_EQ(TableRows(opened.dom, "currencies-1").size(), 5u);  // the generator's five currencies
  EXPECT_EQ(Occurrences(opened.dom, "<section id=\"file-"), 2u);
  EXPECT_GT(Occurrences(opened.dom, "<rect class=\"bar\""), 10u);

  // a click on the Record title, then another: the rows sorted down by record
  std::string html = test::ReadFileBytes(page);
  const std::string clicks =
      "<script>var th=document.querySelector('#findings-1 th');th.click();th.click();</script></body>";
  html.replace(html.rfind("</body>"), 7, clicks);
  const fs::path sorted = folder / "sorted.html";
  std::ofstream(sorted, std::ios::binary) << html;
  const BrowserRun after = OpenInBrowser(browser, sorted, "--dump-dom", folder / "profile");
  const auto rows = TableRows(after.dom, "findings-1");
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(FirstCell(rows[0]), "90");
  EXPECT_EQ(FirstCell(rows[1]), "50");
  EXPECT_EQ(FirstCell(rows[2]), "20");
  EXPECT_TRUE(Complaints(after.log).empty()) << Complaints(after.log).front();

  // the check would see a page that calls out
  std::string callingOut = test::ReadFileBytes(page);
  callingOut.replace(callingOut.rfind("</body>"), 7, "<img src=\"http://example.invalid/x.png\"></body>");
  const fs::path calling = folder / "calling.html";
  std::ofstream(calling, std::ios::binary) << callingOut;
  EXPECT_FALSE(Complaints(OpenInBrowser(browser, calling, "--dump-dom", folder / "profile").log).empty());

  // the screenshot stays with the build as the run's artefact
  fs::create_directories(KALVRIN_TEST_ARTEFACTS_DIR);
  const fs::path shot = fs::path(KALVRIN_TEST_ARTEFACTS_DIR) / "report-1280x800.png";
  fs::remove(shot);
  OpenInBrowser(browser, page, "--screenshot=" + shot.string(), folder / "profile");
  EXPECT_TRUE(fs::exists(shot));
  EXPECT_GT(fs::exists(shot) ? fs::file_size(shot) : 0, 10000u);
}

}  // namespace
}  // namespace kalvrin
