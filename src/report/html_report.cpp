// The HTML report's writer: sections per file, tables, and bar charts as SVG.
#include "report/html_report.h"

#include <algorithm>
#include <array>
#include <span>
#include <string_view>

#include "decimal_text.h"
#include "report/markup.h"

namespace kalvrin::report {

namespace {

using verify::Sum;

std::string Count(std::int64_t value) { return std::string(DecimalText(value).view()); }
std::string Amount(Sum value) { return verify::SumText(value); }

constexpr std::string_view kStyle = R"(body{font:14px/1.4 sans-serif;margin:1.5em;color:#222;max-width:1200px}
h1{font-size:1.5em}h2{border-bottom:2px solid #345;padding-bottom:.2em;margin-top:2em}h3{font-size:1.05em;margin-top:1.5em}
table{border-collapse:collapse;margin:.5em 0}th,td{border:1px solid #bbb;padding:.2em .5em;text-align:left;vertical-align:top}
th{background:#e8edf2}table.sortable th{cursor:pointer}td.n{text-align:right;font-variant-numeric:tabular-nums}
.error{color:#b00}.warning{color:#a60}.clean{color:#070}.note{color:#555;font-style:italic}
.charts{display:flex;flex-wrap:wrap;gap:1em}.charts figure{margin:0;border:1px solid #ddd;padding:.5em}
figcaption{font-weight:bold;margin-bottom:.3em}code{font-size:.95em}
)";

// Sorts a table by the clicked column: digits by value (exact, any length), other text as text.
constexpr std::string_view kSortScript = R"(document.querySelectorAll('table.sortable th').forEach(function(th){
th.addEventListener('click',function(){var b=th.closest('table').tBodies[0],i=th.cellIndex,d=th.dataset.dir==='a'?-1:1;
th.dataset.dir=d>0?'a':'d';var k=function(r){return r.cells[i].textContent.trim();},n=/^\d+$/;
Array.from(b.rows).sort(function(x,y){var p=k(x),q=k(y);if(n.test(p)&&n.test(q)&&p.length!==q.length)return d*(p.length-q.length);
return d*(p<q?-1:p>q?1:0);}).forEach(function(r){b.appendChild(r);});});});
)";

struct Bar {
  std::string label;
  std::array<Sum, 2> values{};  // one or two series
  std::string title;            // the tooltip
};

// A bar chart as inline SVG: one or two series side by side, scaled to the largest value.
std::string BarChart(std::string_view caption, std::span<const Bar> bars, std::span<const std::string_view> series) {
  constexpr int kWidth = 560, kHeight = 220, kLeft = 8, kBottom = 40, kTop = 10;
  Sum top = 1;
  for (const Bar& bar : bars) top = std::max({top, bar.values[0], bar.values[1]});
  const std::size_t perBar = series.size();
  const double slot = bars.empty() ? 0 : static_cast<double>(kWidth - kLeft) / static_cast<double>(bars.size());
  const double barWidth = std::max(1.0, slot * 0.8 / static_cast<double>(perBar));
  static constexpr std::array<std::string_view, 2> kColours = {"#3a6ea5", "#d08020"};
  std::string svg = "<figure><figcaption>" + std::string(caption) + "</figcaption><svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
                    std::to_string(kWidth) + "\" height=\"" + std::to_string(kHeight) + "\" role=\"img\">";
  const double plot = kHeight - kBottom - kTop;
  for (std::size_t i = 0; i < bars.size(); ++i) {
    const double x0 = kLeft + slot * static_cast<double>(i) + slot * 0.1;
    for (std::size_t s = 0; s < perBar; ++s) {
      const double height = plot * static_cast<double>(static_cast<long double>(bars[i].values[s]) / static_cast<long double>(top));
      svg += "<rect class=\"bar\" x=\"" + std::to_string(x0 + barWidth * static_cast<double>(s)) + "\" y=\"" +
             std::to_string(kTop + plot - height) + "\" width=\"" + std::to_string(barWidth) + "\" height=\"" +
             std::to_string(height) + "\" fill=\"" + std::string(kColours[s]) + "\"><title>" + bars[i].title +
             (perBar > 1 ? " " + std::string(series[s]) : std::string()) + ": " + Amount(bars[i].values[s]) +
             "</title></rect>";
    }
    if (bars.size() <= 20) {
      svg += "<text x=\"" + std::to_string(x0) + "\" y=\"" + std::to_string(kHeight - kBottom + 14) +
             "\" font-size=\"11\">" + bars[i].label + "</text>";
    }
  }
  svg += "<line x1=\"" + std::to_string(kLeft) + "\" y1=\"" + std::to_string(kHeight - kBottom) + "\" x2=\"" +
         std::to_string(kWidth) + "\" y2=\"" + std::to_string(kHeight - kBottom) + "\" stroke=\"#444\"/>";
  for (std::size_t s = 0; perBar > 1 && s < perBar; ++s) {
    const int x = kLeft + static_cast<int>(s) * 120;
    svg += "<rect x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(kHeight - 16) + "\" width=\"10\" height=\"10\" fill=\"" +
           std::string(kColours[s]) + "\"/><text x=\"" + std::to_string(x + 14) + "\" y=\"" + std::to_string(kHeight - 7) +
           "\" font-size=\"11\">" + std::string(series[s]) + "</text>";
  }
  svg += "<text x=\"" + std::to_string(kWidth - 4) + "\" y=\"" + std::to_string(kTop + 10) +
         "\" font-size=\"11\" text-anchor=\"end\">max " + Amount(top) + "</text></svg></figure>\n";
  return svg;
}

std::string Cell(const std::string& text) { return "<td>" + text + "</td>"; }
std::string Number(const std::string& digits) { return "<td class=\"n\">" + digits + "</td>"; }

std::string Table(std::string_view id, std::initializer_list<std::string_view> titles, const std::string& rows,
                  std::size_t rowCount) {
  std::string html = "<table class=\"sortable\" id=\"" + std::string(id) + "\" data-rows=\"" + std::to_string(rowCount) +
                     "\"><thead><tr>";
  for (const std::string_view title : titles) html += "<th>" + std::string(title) + "</th>";
  return html + "</tr></thead><tbody>\n" + rows + "</tbody></table>\n";
}

std::string Charts(const FileSummary& file) {
  std::string html = "<div class=\"charts\">\n";
  static constexpr std::array<std::string_view, 1> kMessages = {"messages"};
  static constexpr std::array<std::string_view, 2> kCreditsDebits = {"credits", "debits"};
  std::vector<Bar> bars;
  for (const auto& [mti, count] : file.verify.messagesByType) {
    bars.push_back({FileText(mti), {static_cast<Sum>(count), 0}, FileText(mti)});
  }
  html += BarChart("Messages by MTI", bars, kMessages);
  bars.clear();
  for (const FileSummary::BatchBar& bar : file.batchBars) {
    const std::string name = bar.firstBatch == bar.lastBatch ? "batch " + Count(bar.firstBatch)
                                                             : "batches " + Count(bar.firstBatch) + "-" + Count(bar.lastBatch);
    bars.push_back({Count(bar.firstBatch), {bar.credits, bar.debits}, name});
  }
  html += BarChart("Amount per batch", bars, kCreditsDebits);
  const auto& totals = file.fileTotals.values;
  const std::array<Bar, 2> sides = {Bar{"count", {totals[verify::kCredits], totals[verify::kDebits]}, "count"},
                                    Bar{"amount", {totals[verify::kCreditAmount], totals[verify::kDebitAmount]}, "amount"}};
  html += BarChart("Credits against debits (counts)", std::span(sides).first(1), kCreditsDebits);
  html += BarChart("Credits against debits (amounts)", std::span(sides).last(1), kCreditsDebits);
  bars.clear();
  for (const auto& [code, currency] : file.currencies) {
    const auto& v = currency.totals.values;
    bars.push_back({FileText(code), {v[verify::kCreditAmount], v[verify::kDebitAmount]},
                    FileText(code) + (currency.name.empty() ? "" : " " + FileText(currency.name))});
  }
  html += BarChart("Amounts by currency", bars, kCreditsDebits);
  bars.clear();
  const RecordHistogram& along = file.findingsAlongFile;
  for (std::size_t i = 0; i < along.bins.size(); ++i) {
    const std::int64_t first = static_cast<std::int64_t>(i) * along.width + 1;
    if (first > std::max<std::int64_t>(file.verify.messages, 1)) break;
    bars.push_back({Count(first), {static_cast<Sum>(along.bins[i]), 0},
                    "records " + Count(first) + "-" + Count(first + along.width - 1)});
  }
  html += BarChart("Findings along the file (by record)", bars, kMessages);
  return html + "</div>\n";
}

std::string Declared(const verify::BatchSummary& batch, std::size_t index) {
  return batch.declared[index] ? FileText(*batch.declared[index]) : std::string("-");
}

std::string BatchTable(const FileSummary& file, std::size_t section) {
  std::string rows;
  for (const BatchFigures& batch : file.largestBatches) {
    const auto& v = batch.totals.computed.values;
    const std::string verdict = batch.agrees ? "<span class=\"clean\">agree</span>"
                                : !batch.totals.notJudged.empty() ? "not judged: " + FileText(batch.totals.notJudged)
                                                                  : "<span class=\"error\">differ</span>";
    rows += "<tr>" + Number(Count(batch.number)) + Number(Count(batch.firstRecord)) + Number(Count(batch.lastRecord)) +
            Number(Amount(v[verify::kCredits])) + Cell(Declared(batch.totals, verify::kCredits)) +
            Number(Amount(v[verify::kCreditAmount])) + Cell(Declared(batch.totals, verify::kCreditAmount)) +
            Number(Amount(v[verify::kDebits])) + Cell(Declared(batch.totals, verify::kDebits)) +
            Number(Amount(v[verify::kDebitAmount])) + Cell(Declared(batch.totals, verify::kDebitAmount)) +
            Cell(verdict) + "</tr>\n";
  }
  std::string html = "<h3>Batches</h3>\n" +
                     Table("batches-" + std::to_string(section),
                           {"Batch", "First record", "Last record", "Credits", "declared", "Credit amount", "declared",
                            "Debits", "declared", "Debit amount", "declared", "Totals"},
                           rows, file.largestBatches.size());
  const auto rest = file.batchCount - static_cast<std::int64_t>(file.largestBatches.size());
  if (rest > 0) html += "<p class=\"note\">The " + Count(static_cast<std::int64_t>(file.largestBatches.size())) +
                        " largest batches by amount; " + Count(rest) + " more not listed.</p>\n";
  return html;
}

std::string MessageTable(const FileSummary& file, std::size_t section) {
  std::string rows;
  std::size_t count = 0;
  for (const auto& [mti, byFunction] : file.messagesByFunction) {
    for (const auto& [function, messages] : byFunction) {
      rows += "<tr>" + Cell(FileText(mti)) + Cell(function.empty() ? "-" : FileText(function)) + Number(Count(messages)) + "</tr>\n";
      ++count;
    }
  }
  std::string html = "<h3>Messages by MTI and function code</h3>\n" +
                     Table("messages-" + std::to_string(section), {"MTI", "Function code (P24)", "Messages"}, rows, count);
  if (file.functionCodesNotListed > 0) {
    html += "<p class=\"note\">" + Count(file.functionCodesNotListed) + " more messages with other function codes.</p>\n";
  }
  return html;
}

std::string CurrencyTable(const FileSummary& file, std::size_t section) {
  std::string rows;
  for (const auto& [code, currency] : file.currencies) {
    const auto& v = currency.totals.values;
    rows += "<tr>" + Cell(code.empty() ? "none" : FileText(code)) + Cell(FileText(currency.name)) +
            Number(Count(currency.messages)) + Number(Amount(v[verify::kCredits])) + Number(Amount(v[verify::kCreditAmount])) +
            Number(Amount(v[verify::kDebits])) + Number(Amount(v[verify::kDebitAmount])) + "</tr>\n";
  }
  std::string html = "<h3>Amounts by currency (P49)</h3>\n" +
                     Table("currencies-" + std::to_string(section),
                           {"Currency", "Name", "Transactions", "Credits", "Credit amount", "Debits", "Debit amount"},
                           rows, file.currencies.size());
  if (file.currenciesNotListed > 0) {
    html += "<p class=\"note\">" + Count(file.currenciesNotListed) + " more transactions in other currencies.</p>\n";
  }
  return html;
}

std::string IssuerTable(const FileSummary& file, std::size_t section) {
  std::string rows;
  for (const auto& [range, cards] : file.issuerRanges) rows += "<tr>" + Cell(FileText(range)) + Number(Count(cards)) + "</tr>\n";
  std::string html = "<h3>Card numbers by issuer range (first six digits)</h3>\n" +
                     Table("issuers-" + std::to_string(section), {"Range", "Messages"}, rows, file.issuerRanges.size());
  if (file.issuerRangesNotListed > 0 || file.cardsInOtherRanges > 0) {
    html += "<p class=\"note\">" + Count(file.issuerRangesNotListed) + " more ranges not listed, with " +
            Count(file.cardsInOtherRanges) + " messages.</p>\n";
  }
  return html;
}

std::string RuleTable(const FileSummary& file, std::size_t section) {
  std::string rows;
  std::size_t count = 0;
  for (const RuleFigures& rule : file.rules) {
    if (!rule.ran) continue;
    const std::string severity(verify::SeverityName(rule.info.severity));
    rows += "<tr>" + Cell(std::string(rule.info.id)) + Cell("<span class=\"" + (rule.count ? severity : "clean") + "\">" + severity + "</span>") +
            Number(Count(rule.count)) + Cell(FileText(rule.info.checks)) + "</tr>\n";
    ++count;
  }
  return "<h3>Findings by rule</h3>\n" + Table("rules-" + std::to_string(section), {"Rule", "Severity", "Findings", "Checks"}, rows, count);
}

std::string FindingTable(const FileSummary& file, std::size_t section) {
  std::string rows;
  for (const verify::Finding& finding : file.findings) {
    const std::string severity(verify::SeverityName(finding.severity));
    rows += "<tr>" + Number(finding.record == verify::kNoRecord ? "" : Count(finding.record)) +
            Number(finding.offset == verify::kNoOffset ? "" : Count(finding.offset)) +
            Cell(finding.element == verify::kNoElement ? "" : verify::ElementName(finding.element)) +
            Cell(std::string(finding.rule)) + Cell("<span class=\"" + severity + "\">" + severity + "</span>") +
            Cell(FileText(finding.message)) + "</tr>\n";
  }
  std::string html = "<h3>Findings</h3>\n" + Table("findings-" + std::to_string(section),
                                                   {"Record", "Offset", "Element", "Rule", "Severity", "Message"}, rows,
                                                   file.findings.size());
  if (file.findingsNotListed > 0) {
    html += "<p class=\"note\">The first " + Count(static_cast<std::int64_t>(file.findings.size())) + " findings; " +
            Count(file.findingsNotListed) + " more not listed.</p>\n";
  }
  return html;
}

std::string Identity(const FileSummary& file) {
  const FileIdentity& id = file.identity;
  const Envelope& envelope = file.envelope;
  std::string html = "<table class=\"facts\"><tbody>\n";
  const auto row = [&html](std::string_view name, const std::string& value) {
    html += "<tr><th>" + std::string(name) + "</th><td>" + value + "</td></tr>\n";
  };
  row("Path", "<code>" + PathText(id.path) + "</code>");
  row("Size", Count(id.size) + " bytes");
  row("Modified", id.modified.empty() ? "unknown" : id.modified);
  row("SHA-256", id.sha256.empty() ? "not computed: the file was not read to its end" : "<code>" + id.sha256 + "</code>");
  row("Messages", Count(file.verify.messages));
  row("Batches", Count(file.batchCount));
  row("MAC method, version", FileText(envelope.method) + ", " + FileText(envelope.version));
  row("Key check value", FileText(envelope.checkValue));
  row("Declared MAC", envelope.declaredMac.empty() ? "none" : FileText(envelope.declaredMac));
  row("MAC verdict", "<span class=\"" + std::string(file.mac.judged ? (file.mac.matched.empty() ? "error" : "clean") : "note") +
                         "\">" + FileText(file.mac.text) + "</span>");
  if (!file.mac.explanation.empty()) row("MAC explanation", FileText(file.mac.explanation));
  const auto counted = [](std::int64_t n, std::string_view what) {
    return Count(n) + " " + std::string(what) + (n == 1 ? "" : "s");
  };
  row("Findings", "<span class=\"" + VerdictWord(file) + "\">" + counted(file.verify.errors, "error") + ", " +
                      counted(file.verify.warnings, "warning") + "</span>");
  return html + "</tbody></table>\n";
}

void WriteSection(std::ostream& out, const FileSummary& file, std::size_t section) {
  out << "<section id=\"file-" << section << "\">\n<h2>" << PathText(file.identity.name) << "</h2>\n";
  if (!file.verify.read) {
    out << "<p class=\"error\">Not checked: " << FileText(file.verify.error) << "</p>\n</section>\n";
    return;
  }
  if (file.verify.stopped) out << "<p class=\"warning\">Stopped before the end of the file.</p>\n";
  out << Identity(file) << Charts(file) << MessageTable(file, section) << BatchTable(file, section)
      << CurrencyTable(file, section) << IssuerTable(file, section) << RuleTable(file, section)
      << FindingTable(file, section) << "</section>\n";
}

}  // namespace

std::string VerdictWord(const FileSummary& file) {
  if (!file.verify.read) return "unread";
  return file.verify.errors != 0 ? "error" : file.verify.warnings != 0 ? "warning" : "clean";
}

void WriteHtmlReport(std::ostream& out, const std::vector<FileSummary>& files, const RunFacts& run) {
  // the page may load nothing: a shared report never calls out, whoever opens it
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'; "
         "script-src 'unsafe-inline'\">"
      << "<meta name=\"viewport\" content=\"width=device-width\"><title>KALVRIN report</title><style>" << kStyle
      << "</style></head>\n<body>\n<h1>KALVRIN report</h1>\n<p>KALVRIN " << PathText(run.version) << ", checked "
      << PathText(run.checkedAt) << "<br>Command: <code>" << PathText(run.commandLine) << "</code><br>Card numbers "
      << (run.maskCardNumbers ? "masked (first six and last four digits shown)" : "shown whole") << "</p>\n";
  if (files.size() > 1) {
    out << "<nav><h2>Files</h2><ol>\n";
    for (std::size_t i = 0; i < files.size(); ++i) {
      out << "<li><a href=\"#file-" << i + 1 << "\">" << PathText(files[i].identity.name) << "</a>: <span class=\""
          << VerdictWord(files[i]) << "\">" << VerdictWord(files[i]) << "</span></li>\n";
    }
    out << "</ol></nav>\n";
  }
  for (std::size_t i = 0; i < files.size(); ++i) WriteSection(out, files[i], i + 1);
  out << "<script>\n" << kSortScript << "</script>\n</body></html>\n";
}

}  // namespace kalvrin::report
