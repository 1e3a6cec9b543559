// The filtered rows of the result grid.
#include "app/grid/grid_rows.h"

#include <QCursor>
#include <QGuiApplication>

#include <algorithm>

#include "app/grid/grid_model.h"
#include "iso/pan_mask.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {
struct WaitCursor {
  WaitCursor() { QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};
}  // namespace

GridRowFilter::GridRowFilter(GridModel& grid, QObject* parent) : QAbstractTableModel(parent), grid_(grid) {
  connect(&grid_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
  connect(&grid_, &QAbstractItemModel::modelReset, this, [this] {
    DropSort();
    if (active_) Refilter();
    endResetModel();
    emit shownRowsChanged();
  });
  connect(&grid_, &QAbstractItemModel::rowsAboutToBeInserted, this, [this](const QModelIndex&, int first, int last) {
    if (sorted()) {
      beginResetModel();
      resetting_ = true;
    } else if (!active_) {
      beginInsertRows(QModelIndex(), first, last);
    }
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
    if (sortColumn_ >= grid_.columnCount()) sort(-1);
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
  if (Mapped()) Refilter();
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
  if (!sorted()) {
    for (int row = 0; row < rows; ++row) {
      if (Matches(row)) rows_.push_back(row);
    }
    return;
  }
  viewRows_.assign(static_cast<std::size_t>(rows), -1);
  for (const int row : order_) {
    if (active_ && !Matches(row)) continue;
    viewRows_[static_cast<std::size_t>(row)] = static_cast<int>(rows_.size());
    rows_.push_back(row);
  }
}

void GridRowFilter::sort(int column, Qt::SortOrder order) {
  if (column >= grid_.columnCount()) column = -1;
  if (column == sortColumn_ && (column < 0 || order == sortOrder_)) return;  // sorted so already
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  // The current cell and the selection follow their rows.
  const QModelIndexList before = persistentIndexList();
  std::vector<int> sources;
  sources.reserve(static_cast<std::size_t>(before.size()));
  for (const QModelIndex& index : before) sources.push_back(index.isValid() ? SourceRow(index.row()) : -1);

  sortColumn_ = column;
  sortOrder_ = order;
  order_.clear();
  viewRows_.clear();
  if (column >= 0) {
    WaitCursor waiting;  // a second on millions of rows
    const int fixed = grid_.gridFixedRows();
    ShownCell shown;
    if (grid_.maskCardNumbers() && GridColumnHoldsCardNumber(column)) {
      // Sorted as shown: an order by the hidden digits would tell them.
      const int element = kGridColumns[static_cast<std::size_t>(column)].element;
      shown = [element](std::string_view stored, std::string& room) -> std::string_view {
        room = MaskElement(element, stored);
        return room;
      };
    }
    order_ = SortRows(grid_.rows(), column, fixed, fixed + grid_.rowCount(),
                      order == Qt::AscendingOrder ? SortDirection::Ascending : SortDirection::Descending, shown);
    for (int& row : order_) row -= fixed;
  }
  if (Mapped()) {
    Refilter();
  } else {
    rows_.clear();
  }
  rows_.shrink_to_fit();

  QModelIndexList after;
  after.reserve(before.size());
  for (qsizetype i = 0; i < before.size(); ++i) {
    const int source = sources[static_cast<std::size_t>(i)];
    const int row = source < 0 ? -1 : viewRowOf(source + grid_.gridFixedRows());
    after.push_back(row < 0 ? QModelIndex() : index(row, before[i].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  emit sortChanged();
}

void GridRowFilter::DropSort() {
  if (!sorted()) return;
  sortColumn_ = -1;
  sortOrder_ = Qt::AscendingOrder;
  order_.clear();
  order_.shrink_to_fit();
  viewRows_.clear();
  viewRows_.shrink_to_fit();
  if (!active_) rows_.clear();
  emit sortChanged();
}

int GridRowFilter::gridRowOf(int viewRow) const {
  if (viewRow < 0 || viewRow >= rowCount()) return -1;
  return SourceRow(viewRow) + grid_.gridFixedRows();
}

int GridRowFilter::viewRowOf(int gridRow) const {
  const int sourceRow = gridRow - grid_.gridFixedRows();
  if (sourceRow < 0 || sourceRow >= grid_.rowCount()) return -1;
  if (sorted()) {
    return static_cast<std::size_t>(sourceRow) < viewRows_.size() ? viewRows_[static_cast<std::size_t>(sourceRow)] : -1;
  }
  if (!active_) return sourceRow;
  const auto it = std::lower_bound(rows_.begin(), rows_.end(), sourceRow);
  return it != rows_.end() && *it == sourceRow ? static_cast<int>(it - rows_.begin()) : -1;
}

int GridRowFilter::sourceRows() const { return grid_.rowCount(); }

// A reset of the grid ends with its first change of rows: the shown rows are
// worked out anew, in record order.
bool GridRowFilter::FinishedReset() {
  if (!resetting_) return false;
  resetting_ = false;
  DropSort();
  if (active_) Refilter();
  endResetModel();
  emit shownRowsChanged();
  return true;
}

void GridRowFilter::OnRowsInserted(int first, int last) {
  if (FinishedReset()) return;
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
  if (sorted()) {
    beginResetModel();
    resetting_ = true;
    return;
  }
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
  if (FinishedReset()) return;
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

void GridRowFilter::OnSortedDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                        const QList<int>& roles) {
  // A sorted grid keeps its order when a cell changes; a filtered one shows
  // the rows that match now.
  if (active_ && column_ >= topLeft.column() && column_ <= bottomRight.column()) {
    beginResetModel();
    Refilter();
    endResetModel();
    emit shownRowsChanged();
    return;
  }
  constexpr int kRowsOneByOne = 64;  // beyond that, one change of every row costs less
  if (bottomRight.row() - topLeft.row() >= kRowsOneByOne) {
    if (rowCount() > 0) {
      emit dataChanged(index(0, topLeft.column()), index(rowCount() - 1, bottomRight.column()), roles);
    }
    return;
  }
  for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
    const bool known = row >= 0 && static_cast<std::size_t>(row) < viewRows_.size();
    const int shown = known ? viewRows_[static_cast<std::size_t>(row)] : -1;
    if (shown >= 0) emit dataChanged(index(shown, topLeft.column()), index(shown, bottomRight.column()), roles);
  }
}

void GridRowFilter::OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QList<int>& roles) {
  if (sorted()) {
    OnSortedDataChanged(topLeft, bottomRight, roles);
    return;
  }
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
  return Mapped() ? static_cast<int>(rows_.size()) : grid_.rowCount();
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
