// The Findings page: what the verify pass found in the file, one line per
// finding (severity, rule, record, offset, element, message), sortable by
// any column and filtered by rule and severity. A double-click asks the
// window to show the finding's message in the grid and the inspector.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QTableView;

namespace kalvrin {

namespace report {
struct FileSummary;
}

namespace findings_text {
inline constexpr char kCaption[] = "Findings";
inline constexpr char kAllRules[] = "All rules";
inline constexpr char kAllSeverities[] = "All severities";
inline constexpr char kError[] = "error";
inline constexpr char kWarning[] = "warning";
inline constexpr char kCounts[] = "%1 errors, %2 warnings";
inline constexpr char kShown[] = "%1 errors, %2 warnings (%3 shown)";
inline constexpr char kNone[] = "No findings: the file passes every rule.";
inline constexpr char kNotRead[] = "Not verified: %1";
inline constexpr char kVerifying[] = "Verifying";  // status panel 2 while the pass runs
inline constexpr char kVerifyingMac[] = "Verifying the MAC";  // status panel 2 while the MAC variants run
inline constexpr char kVerified[] = "Verified";
inline constexpr char kVerifyFailed[] = "Verify failed";
inline constexpr char kKeyUnusable[] = "MAC not checked: the key is not 16 or 32 hex digits";
inline constexpr char kMacMatched[] = "the declared MAC equals ";
inline constexpr char kStopped[] = "Stopped before the end of the file: %1 errors, %2 warnings so far";
inline constexpr char kCopy[] = "Copy";
inline constexpr char kExport[] = "Export findings as CSV...";
inline constexpr char kExportTitle[] = "Export findings as CSV";
inline constexpr char kExportFilter[] = "CSV files (*.csv);;All files (*)";
inline constexpr char kExportSuffix[] = "-findings.csv";  // after the transaction file's name
inline constexpr char kCannotWrite[] = "Cannot write %1: %2";
}  // namespace findings_text

inline constexpr std::int64_t kNoFindingRecord = 0;   // the finding concerns the file
inline constexpr std::int64_t kNoFindingOffset = -1;  // no byte is at fault
inline constexpr int kNoFindingElement = 0;

struct FindingRow {
  bool error = true;  // else a warning
  std::string rule;   // "element.date"
  std::int64_t record = kNoFindingRecord;  // the grid's Rec#
  std::int64_t offset = kNoFindingOffset;
  int element = kNoFindingElement;
  std::string message;  // bytes as the file holds them
};

// What one verify run hands the page.
struct FindingsRun {
  bool read = false;     // false: the file could not be read
  bool stopped = false;  // asked to stop before the end
  std::string error;     // why it could not be read
  std::string note;      // what the pass says of the MAC, if anything
  std::vector<FindingRow> findings;
  std::shared_ptr<const report::FileSummary> summary;  // the Summary page's figures, null when none
};

// The parts of a verify pass that report progress: the reading of the
// messages, then the MAC variants over the whole file.
enum class VerifyPhase { Messages, Mac };

// The window's hold on a running verify pass.
struct VerifyControl {
  // Bytes of the file done in `phase`, of `total`; false stops the pass.
  std::function<bool(VerifyPhase phase, std::int64_t done, std::int64_t total)> progress;
  // Set when the window asks the pass to stop (Clear, Escape, closing);
  // read as well by steps that report no progress.
  const std::atomic<bool>* stop = nullptr;
  bool stopped() const { return stop != nullptr && stop->load(std::memory_order_relaxed); }
};

// Runs the verify pass on `path` under `key`, reporting to and stopped by `control`.
using VerifyRunner =
    std::function<FindingsRun(const std::string& path, const std::string& key, const VerifyControl& control)>;

class FindingsModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kSeverity, kRule, kRecord, kOffset, kElement, kMessage, kColumns };
  static constexpr int kSortRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;
  void setFindings(std::vector<FindingRow> findings);
  const std::vector<FindingRow>& findings() const { return findings_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<FindingRow> findings_;
};

// Rows of one rule and one severity, or of all.
class FindingsFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  void setRule(const QString& rule);          // empty: every rule
  void setSeverity(const QString& severity);  // empty: both

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  QString rule_;
  QString severity_;
};

class FindingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit FindingsPage(QWidget* parent = nullptr);

  QComboBox* cmbRule = nullptr;      // "All rules", then the rules found
  QComboBox* cmbSeverity = nullptr;  // "All severities", "error", "warning"
  QLabel* labSummary = nullptr;
  QTableView* FindingsGrid = nullptr;
  QAction* CopyFindings = nullptr;    // Ctrl+C on the list: the selected rows
  QAction* ExportFindings = nullptr;  // the button beside the filters, and the list's menu

  // Runs `runner` and shows what it found; true when the file was read.
  bool run(const VerifyRunner& runner, const std::string& path, const std::string& key, const VerifyControl& control);
  void show(FindingsRun run, const std::string& path);
  void clear();
  // The file the findings are of.
  const std::string& path() const { return path_; }
  // The last run was asked to stop before the end of the file.
  bool stopped() const { return last_.stopped; }
  // The figures the last run gathered; null before any, or after a clear.
  std::shared_ptr<const report::FileSummary> summary() const { return last_.summary; }
  const FindingsModel& model() const { return *model_; }
  FindingsFilter& filter() { return *filter_; }

  // The selected rows in the order shown, the column titles first, as
  // tab-separated lines; tabs and line ends inside a text become spaces.
  QString selectionAsTsv() const;
  // The rows shown, in the order shown, the titles first, as a CSV file
  // that replaces `path` only once it is complete; empty when written,
  // else why not.
  QString exportCsv(const QString& path) const;

 signals:
  // Export findings as CSV was asked for: the window asks where to.
  void exportRequested();
  // A finding was double-clicked: its record (0 for none) and element.
  void findingActivated(qint64 record, int element);

 private:
  void FillRules();
  void ShowSummary();
  void BuildActions();
  // The shown rows' texts, as the list shows them, titles first; only
  // the selected rows when `selectedOnly`.
  std::vector<std::vector<QString>> ShownTexts(bool selectedOnly) const;

  FindingsModel* model_ = nullptr;
  FindingsFilter* filter_ = nullptr;
  FindingsRun last_;
  std::string path_;
};

}  // namespace kalvrin
