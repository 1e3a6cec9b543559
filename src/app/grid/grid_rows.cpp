// The filtered rows of the result grid.
#include "app/grid/grid_rows.h"

#include <algorithm>

#include "app/grid/grid_model.h"

namespace kalvrin {

GridRowFilter::GridRowFilter(GridModel& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
  connect(&grid_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(&grid_, &QAbstractItemModel::modelReset, this, [this] {
    if (active_) Refilter();
    endResetModel();
    emit shownRowsChanged();
  });
  connect(&grid_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first, int last) {
    if (!active_) beginInsertRows(QModelIndex(), first, last);
  });
  connect(&grid_, &QAbstractItemModel::rowsInserted, this,
          [this](const QModelIndex&, int first, int last) { OnRowsInserted(first, last); });
  connect(&grid_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) { OnRowsAboutToBeRemoved(first, last); });
  connect(&grid_, &QAbstractItemModel::rowsRemoved, this,
          [this](const QModelIndex&, int first, int last) { OnRowsRemoved(first, last); });
  connect(&grid_, &QAbstractItemModel::dataChanged, this, &GridRowFilter::OnDataChanged);
  connect(&grid_, &QAbstractItemModel::headerDataChanged, this, &QAbstractItemModel::headerDataChanged);
  connect(&grid_, &QAbstractItemModel::columnsAboutToBeInserted, this,
          [this](const QModelIndex&, int first, int last) { beginInsertColumns(QModelIndex(), first, last); });
  connect(&grid_, &QAbstractItemModel::columnsInserted, this, [this] { endInsertColumns(); });
  connect(&grid_, &QAbstractItemModel::columnsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) { beginRemoveColumns(QModelIndex(), first, last); });
  connect(&grid_, &QAbstractItemModel::columnsRemoved, this, [this] {
    endRemoveColumns();
    if (active_ && column_ >= grid_.columnCount()) clearFilter();
  });
}

void GridRowFilter::setFilter(int column, const QString& text) {
  const bool active = !text.isEmpty() && column >= 0 && column < grid_.columnCount();
  if (!active && !active_) return;
  beginResetModel();
  active_ = active;
  column_ = active ? column : -1;
  matcher_ = active ? TextMatcher::FromTyped(text) : TextMatcher();
  rows_.clear();
  if (active_) Refilter();
  rows_.shrink_to_fit();
  endResetModel();
  emit shownRowsChanged();
}

bool GridRowFilter::Matches(int sourceRow) const {
  return matcher_.In(grid_.gridCellView(column_, sourceRow + grid_.gridFixedRows()));
}

void GridRowFilter::Refilter() {
  rows_.clear();
  const int rows = grid_.rowCount();
  for (int row = 0; row < rows; ++row) {
    if (Matches(row)) rows_.push_back(row);
  }
}

int GridRowFilter::gridRowOf(int viewRow) const {
  if (viewRow < 0 || viewRow >= rowCount()) return -1;
  return SourceRow(viewRow) + grid_.gridFixedRows();
}

int GridRowFilter::viewRowOf(int gridRow) const {
  const int sourceRow = gridRow - grid_.gridFixedRows();
  if (sourceRow < 0 || sourceRow >= grid_.rowCount()) return -1;
  if (!active_) return sourceRow;
  const auto it = std::lower_bound(rows_.begin(), rows_.end(), sourceRow);
  return it != rows_.end() && *it == sourceRow ? static_cast<int>(it - rows_.begin()) : -1;
}

int GridRowFilter::sourceRows() const { return grid_.rowCount(); }

void GridRowFilter::OnRowsInserted(int first, int last) {
  if (!active_) {
    endInsertRows();
    emit shownRowsChanged();
    return;
  }
  const int count = last - first + 1;
  const auto at = std::lower_bound(rows_.begin(), rows_.end(), first);
  for (auto it = at; it != rows_.end(); ++it) *it += count;
  std::vector<int> matching;
  for (int row = first; row <= last; ++row) {
    if (Matches(row)) matching.push_back(row);
  }
  if (matching.empty()) {
    emit shownRowsChanged();  // the count of rows searched grew
    return;
  }
  const int position = static_cast<int>(at - rows_.begin());
  beginInsertRows(QModelIndex(), position, position + static_cast<int>(matching.size()) - 1);
  rows_.insert(rows_.begin() + position, matching.begin(), matching.end());
  endInsertRows();
  emit shownRowsChanged();
}

void GridRowFilter::OnRowsAboutToBeRemoved(int first, int last) {
  if (!active_) {
    beginRemoveRows(QModelIndex(), first, last);
    removing_ = true;
    return;
  }
  const auto from = std::lower_bound(rows_.begin(), rows_.end(), first);
  const auto to = std::upper_bound(rows_.begin(), rows_.end(), last);
  removing_ = from != to;
  if (removing_) {
    beginRemoveRows(QModelIndex(), static_cast<int>(from - rows_.begin()), static_cast<int>(to - rows_.begin()) - 1);
  }
}

void GridRowFilter::OnRowsRemoved(int first, int last) {
  if (active_) {
    const auto from = std::lower_bound(rows_.begin(), rows_.end(), first);
    const auto to = std::upper_bound(rows_.begin(), rows_.end(), last);
    const auto rest = rows_.erase(from, to);
    for (auto it = rest; it != rows_.end(); ++it) *it -= last - first + 1;
  }
  if (removing_) endRemoveRows();
  removing_ = false;
  emit shownRowsChanged();
}

void GridRowFilter::OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
  if (!active_) {
    emit dataChanged(index(topLeft.row(), topLeft.column()), index(bottomRight.row(), bottomRight.column()), roles);
    return;
  }
  bool countChanged = false;
  if (column_ >= topLeft.column() && column_ <= bottomRight.column()) {
    // A changed row may come in or go out.
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
      const auto at = std::lower_bound(rows_.begin(), rows_.end(), row);
      const bool shown = at != rows_.end() && *at == row;
      const bool matches = Matches(row);
      if (shown == matches) continue;
      const int position = static_cast<int>(at - rows_.begin());
      if (matches) {
        beginInsertRows(QModelIndex(), position, position);
        rows_.insert(at, row);
        endInsertRows();
      } else {
        beginRemoveRows(QModelIndex(), position, position);
        rows_.erase(at);
        endRemoveRows();
      }
      countChanged = true;
    }
  }
  const auto from = std::lower_bound(rows_.begin(), rows_.end(), topLeft.row());
  const auto to = std::upper_bound(rows_.begin(), rows_.end(), bottomRight.row());
  if (from != to) {
    emit dataChanged(index(static_cast<int>(from - rows_.begin()), topLeft.column()),
                     index(static_cast<int>(to - rows_.begin()) - 1, bottomRight.column()), roles);
  }
  if (countChanged) emit shownRowsChanged();
}

int GridRowFilter::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return active_ ? static_cast<int>(rows_.size()) : grid_.rowCount();
}

int GridRowFilter::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : grid_.columnCount(); }

QModelIndex GridRowFilter::SourceIndex(const QModelIndex& index) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  return grid_.index(SourceRow(index.row()), index.column());
}

QVariant GridRowFilter::data(const QModelIndex& index, int role) const { return grid_.data(SourceIndex(index), role); }

bool GridRowFilter::setData(const QModelIndex& index, const QVariant& value, int role) {
  return grid_.setData(SourceIndex(index), value, role);
}

Qt::ItemFlags GridRowFilter::flags(const QModelIndex& index) const { return grid_.flags(SourceIndex(index)); }

QVariant GridRowFilter::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation == Qt::Vertical) return {};
  return grid_.headerData(section, orientation, role);
}

}  // namespace kalvrin
