// The rows of the result grid that the view shows: all of them, or only
// those whose chosen column holds a text. Sits between the grid model and
// FormatGrid; rows the format check adds or changes are filtered as they
// arrive, and nothing is copied but the list of matching row numbers.
#pragma once

#include <QAbstractTableModel>

#include <vector>

#include "app/grid/grid_search.h"

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

 private:
  // Source rows are the grid model's view rows (the title row not counted).
  bool Matches(int sourceRow) const;
  QModelIndex SourceIndex(const QModelIndex& index) const;
  int SourceRow(int row) const { return active_ ? rows_[static_cast<std::size_t>(row)] : row; }
  void Refilter();
  void OnRowsInserted(int first, int last);
  void OnRowsAboutToBeRemoved(int first, int last);
  void OnRowsRemoved(int first, int last);
  void OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles);

  GridModel& grid_;
  bool active_ = false;
  int column_ = -1;
  TextMatcher matcher_;
  std::vector<int> rows_;  // while filtering: the matching source rows, ascending
  bool removing_ = false;  // between a removal's two signals, when shown rows go
};

}  // namespace kalvrin
