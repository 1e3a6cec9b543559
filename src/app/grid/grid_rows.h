// The rows of the result grid that the view shows: all of them, or only
// those whose chosen column holds a text, in the order of the records or
// sorted by a column. Sits between the grid model and FormatGrid; rows the
// format check adds or changes are filtered as they arrive, and nothing is
// copied but lists of row numbers. A sort belongs to the rows it sorted:
// rows added or removed (the next check) return the grid to record order.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "app/grid/grid_search.h"
#include "grid/row_order.h"

namespace kalvrin {

class GridModel;

class GridRowFilter : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit GridRowFilter(GridModel& grid, QObject* parent = nullptr);

  // Shows only the rows whose `column` holds `text` (letters matched without
  // regard to case); an empty text shows every row again.
  void setFilter(int column, const QString& text);
  void clearFilter() { setFilter(-1, {}); }
  bool filtering() const { return active_; }
  int filterColumn() const { return column_; }

  // Sorts the shown rows by the column's texts as the view shows them
  // (numbers by value, empty cells last); column -1 returns to record
  // order. The current cell and the selection stay on their rows.
  void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
  bool sorted() const { return sortColumn_ >= 0; }
  int sortColumn() const { return sortColumn_; }
  Qt::SortOrder sortOrder() const { return sortOrder_; }

  // The grid row (title row counted) of a view row, and back; -1 where
  // there is none or the row is filtered out.
  int gridRowOf(int viewRow) const;
  int viewRowOf(int gridRow) const;
  // Data rows of the grid, shown or not.
  int sourceRows() const;
  const GridModel& grid() const { return grid_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 signals:
  // The shown rows changed in number (filter set or cleared, rows added or removed).
  void shownRowsChanged();
  // The rows were sorted, or returned to record order.
  void sortChanged();

 private:
  // Source rows are the grid model's view rows (the title row not counted).
  bool Matches(int sourceRow) const;
  QModelIndex SourceIndex(const QModelIndex& index) const;
  bool Mapped() const { return active_ || sorted(); }
  int SourceRow(int row) const { return Mapped() ? rows_[static_cast<std::size_t>(row)] : row; }
  // The shown rows from the filter and the order; with a sort, where each source row shows.
  void Refilter();
  void DropSort();
  void OnSortedDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);
  bool FinishedReset();
  void OnRowsInserted(int first, int last);
  void OnRowsAboutToBeRemoved(int first, int last);
  void OnRowsRemoved(int first, int last);
  void OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);

  GridModel& grid_;
  bool active_ = false;
  int column_ = -1;
  TextMatcher matcher_;
  // While filtering or sorted: the shown source rows in view order (ascending unless sorted).
  std::vector<int> rows_;
  bool removing_ = false;  // between a removal's two signals, when shown rows go
  int sortColumn_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
  std::vector<int> order_;     // while sorted: every source row, in the column's order
  std::vector<int> viewRows_;  // while sorted: each source row's view row, -1 where filtered out
  bool resetting_ = false;     // a change of rows under a sort, between its two signals
};

}  // namespace kalvrin
