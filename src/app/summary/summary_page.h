// The Summary page: the figures of the last verify and their charts (Qt
// Charts): messages by MTI, amount per batch, credits against debits,
// amounts by currency, findings by rule and along the file. A click on a
// batch's bar asks for its first row in the grid, one on a rule's bar for
// the Findings page filtered to it; each chart copies as an image.
#pragma once

#include <QWidget>

#include <memory>

class QChartView;
class QLabel;
class QVBoxLayout;

namespace kalvrin {

namespace report {
struct FileSummary;
}

namespace summary_text {
inline constexpr char kCaption[] = "Summary";
inline constexpr char kEmpty[] = "Verify a file (Tool > Verify) to see its summary.";
inline constexpr char kCopyChart[] = "Copy chart";
inline constexpr char kSaveReport[] = "Save report...";
inline constexpr char kSaveTitle[] = "Save the HTML report";
inline constexpr char kSaveFilter[] = "HTML files (*.html);;All files (*)";
inline constexpr char kSaveSuffix[] = "-report.html";  // after the transaction file's name
inline constexpr char kNothingToSave[] = "Nothing to report yet: verify the file first (Tool > Verify).";
inline constexpr char kMacAfterVerify[] = "MAC judged by Tool > Verify";
}  // namespace summary_text

// The charts, by their object names, in the order shown.
inline constexpr const char* kSummaryCharts[] = {"chartMessages", "chartBatches", "chartCreditsDebits",
                                                 "chartCurrencies", "chartRules", "chartAlongFile"};

class SummaryPage : public QWidget {
  Q_OBJECT

 public:
  explicit SummaryPage(QWidget* parent = nullptr);

  QLabel* labFigures = nullptr;

  void showSummary(std::shared_ptr<const report::FileSummary> summary);
  void clear();
  const report::FileSummary* summary() const { return summary_.get(); }
  // One of kSummaryCharts; null before a summary is shown.
  QChartView* chart(const char* name) const;

 signals:
  // A batch's bar was clicked: the record its batch starts at.
  void batchChosen(qint64 firstRecord);
  // A rule's bar was clicked.
  void ruleChosen(const QString& rule);

 private:
  void Rebuild();
  QChartView* AddChart(const char* name, QWidget* chart);

  std::shared_ptr<const report::FileSummary> summary_;
  QWidget* charts_ = nullptr;
};

}  // namespace kalvrin
