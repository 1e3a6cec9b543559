// The Differences page: what Tool > Compare with... found between the file
// in the file edit (the old one) and a second file, one line per record as
// kalvrin-check diff writes them, sortable by any column and filtered by
// the kind of change; the tab's caption counts them. A double-click asks
// the window to show the record's message of either file in the inspector.
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "compare/compare_files.h"

class QAction;
class QComboBox;
class QLabel;
class QTableView;

namespace kalvrin {

namespace differences_text {
inline constexpr char kCaption[] = "Differences";
inline constexpr char kCaptionCounts[] = "Differences (%1)";  // the change counts, e.g. "2 changed, 1 added"
inline constexpr char kMenuItem[] = "Compare with...";
inline constexpr char kAllChanges[] = "All changes";
inline constexpr char kNone[] = "No differences: %1 pairs of messages are equal.";
inline constexpr char kCounts[] = "%1 old messages, %2 new messages, %3 pairs, %4 equal";
inline constexpr char kNotRead[] = "Not compared: %1";
inline constexpr char kStopped[] = "Stopped before the end: nothing compared";
inline constexpr char kComparing[] = "Comparing";  // status panel 2 while the comparison runs
inline constexpr char kCompared[] = "Compared";
inline constexpr char kCompareFailed[] = "Compare failed";
inline constexpr char kCompareStopped[] = "Compare stopped";
inline constexpr char kCopy[] = "Copy";
}  // namespace differences_text

// What one comparison hands the page.
struct DifferencesRun {
  bool read = false;
  bool stopped = false;
  std::string error;  // with the file it concerns
  std::string oldPath;
  std::string newPath;
  compare::Summary summary;
  std::vector<compare::Difference> differences;
};

class DifferencesModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum Column { kChange, kOldRecord, kNewRecord, kOldOffset, kNewOffset, kElement, kOld, kNew, kKey, kColumns };
  static constexpr int kSortRole = Qt::UserRole;

  using QAbstractTableModel::QAbstractTableModel;
  void setDifferences(std::vector<compare::Difference> differences);
  const std::vector<compare::Difference>& differences() const { return differences_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<compare::Difference> differences_;
};

class DifferencesPage : public QWidget {
  Q_OBJECT

 public:
  explicit DifferencesPage(QWidget* parent = nullptr);

  QComboBox* cmbChange = nullptr;  // "All changes", then each kind
  QLabel* labSummary = nullptr;
  QTableView* DifferencesGrid = nullptr;
  QAction* CopyDifferences = nullptr;  // Ctrl+C on the list: the selected rows

  void show(DifferencesRun run);
  void clear();
  const DifferencesRun& last() const { return last_; }
  const DifferencesModel& model() const { return *model_; }
  // "Differences", or with the change counts of the last comparison.
  QString caption() const;
  QString selectionAsTsv() const;

 signals:
  // A record was double-clicked: the message of the old file (or the new)
  // at its record and offset, and the element that changed (0 for none).
  void differenceActivated(bool oldFile, qint64 record, qint64 offset, int element);
  void captionChanged(const QString& caption);

 private:
  void ShowSummary();

  DifferencesModel* model_ = nullptr;
  QSortFilterProxyModel* filter_ = nullptr;
  DifferencesRun last_;
};

// The comparison of the two files, gathered for the page; `progress` as the
// core's, false stops it.
DifferencesRun CompareForPage(const std::string& oldPath, const std::string& newPath, bool maskCardNumbers,
                              const verify::ProgressCallback& progress);

}  // namespace kalvrin
