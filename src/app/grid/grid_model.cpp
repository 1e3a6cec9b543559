// The model behind FormatGrid over its row store, and its batched view updates.
#include "app/grid/grid_model.h"

#include <algorithm>

#include "app/grid/column_notes.h"
#include "app/widget_helpers.h"
#include "defines.h"
#include "iso/pan_mask.h"
#include "iso/result_grid.h"

#include <QColor>

namespace kalvrin {

namespace {
// The background of a marked cell: a pale yellow that the grid's black text reads on.
constexpr QRgb kMarkedCell = 0xFFFFECA0;
}  // namespace

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

void GridModel::setGridRowCount(int rows) {
  rows = std::max(rows, 0);
  if (rows >= gridRowCount()) {
    rows_.setRowCount(rows);  // the view hears of new rows at the next flush
    return;
  }
  // Removed rows leave the view at once: their data is gone.
  if (shownRows_ > rows) {
    const int firstView = std::max(viewRowOf(rows), 0);
    if (firstView < shownViewRows()) {
      beginRemoveRows(QModelIndex(), firstView, shownViewRows() - 1);
      rows_.setRowCount(rows);
      shownRows_ = rows;
      endRemoveRows();
    } else {
      rows_.setRowCount(rows);
      shownRows_ = rows;
    }
  } else {
    rows_.setRowCount(rows);
  }
  if (rows < fixedRows_) headerDirty_ = true;
  if (dirtyLast_ >= rows) dirtyLast_ = rows - 1;
  if (dirtyFirst_ > dirtyLast_) dirtyFirst_ = dirtyLast_ = -1;
}

void GridModel::setGridColCount(int cols) {
  cols = std::clamp(cols, 0, RowStore::kMaxColumns);
  const int current = gridColCount();
  if (cols == current) return;
  if (cols > current) {
    beginInsertColumns(QModelIndex(), current, cols - 1);
    rows_.setColCount(cols);
    endInsertColumns();
    return;
  }
  beginRemoveColumns(QModelIndex(), cols, current - 1);
  rows_.setColCount(cols);
  endRemoveColumns();
}

void GridModel::setGridFixedRows(int rows) {
  rows = std::clamp(rows, 0, 1);  // the title row is the one row the header can show
  if (rows == fixedRows_) return;
  beginResetModel();
  fixedRows_ = rows;
  endResetModel();
}

void GridModel::setGridRowOffset(int row, std::int64_t offset) { rows_.setOffset(row, offset); }

std::int64_t GridModel::gridRowOffset(int row) const { return rows_.offset(row); }

std::string GridModel::gridCell(int col, int row) const { return std::string(rows_.cell(col, row)); }

std::string_view GridModel::gridCellView(int col, int row) const {
  const std::string_view text = rows_.cell(col, row);
  if (!maskCardNumbers_ || row < fixedRows_ || !GridColumnHoldsCardNumber(col)) return text;
  std::string& masked = masked_[static_cast<std::size_t>(col)];
  masked = MaskElement(kGridColumns[static_cast<std::size_t>(col)].element, text);
  return masked;
}

void GridModel::gridRowView(int row, std::span<std::string_view> cells) const {
  rows_.rowCells(row, cells);
  if (!maskCardNumbers_ || row < fixedRows_) return;
  for (int col = 0; col < static_cast<int>(cells.size()); ++col) {
    if (!GridColumnHoldsCardNumber(col)) continue;
    std::string& masked = masked_[static_cast<std::size_t>(col)];
    masked = MaskElement(kGridColumns[static_cast<std::size_t>(col)].element, cells[static_cast<std::size_t>(col)]);
    cells[static_cast<std::size_t>(col)] = masked;
  }
}

void GridModel::setMaskCardNumbers(bool mask) {
  if (mask == maskCardNumbers_) return;
  maskCardNumbers_ = mask;
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole});
}

void GridModel::flush() {
  if (gridRowCount() > shownRows_) {
    const int first = shownViewRows();
    const int last = gridRowCount() - fixedRows_ - 1;
    if (last >= first) {
      beginInsertRows(QModelIndex(), first, last);
      shownRows_ = gridRowCount();
      endInsertRows();
    } else {
      shownRows_ = gridRowCount();
    }
  }
  if (dirtyFirst_ >= 0 && gridColCount() > 0) {
    emit dataChanged(index(viewRowOf(dirtyFirst_), 0), index(viewRowOf(dirtyLast_), gridColCount() - 1),
                     {Qt::DisplayRole, Qt::EditRole});
  }
  dirtyFirst_ = dirtyLast_ = -1;
  if (headerDirty_ && gridColCount() > 0) emit headerDataChanged(Qt::Horizontal, 0, gridColCount() - 1);
  headerDirty_ = false;
  rows_.freezeSettled();
}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownViewRows();
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : gridColCount();
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  // A cell's tooltip is its whole text, which the column may be too narrow to show.
  if (index.isValid() && role == Qt::BackgroundRole) {
    if (!cellMark_ || !cellMark_(index.column(), gridCellView(0, index.row() + fixedRows_))) return {};
    return QColor::fromRgb(kMarkedCell);
  }
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)) return {};
  const std::string_view text = gridCellView(index.column(), index.row() + fixedRows_);
  if (text.empty()) return {};
  return Latin1(text);
}

void GridModel::markedCellsChanged() {
  if (rowCount() == 0 || columnCount() == 0) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::BackgroundRole});
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  rows_.setCell(index.column(), index.row() + fixedRows_, value.toString().toLatin1().toStdString());
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  if (maskCardNumbers_ && GridColumnHoldsCardNumber(index.column())) return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::ToolTipRole) || fixedRows_ == 0 ||
      gridRowCount() == 0) {
    return {};
  }
  if (section < 0 || section >= gridColCount()) return {};
  const std::string_view title = rows_.cell(section, 0);
  if (role == Qt::DisplayRole) return Latin1(title);
  // The title's tooltip: the column's element, its name and format.
  const std::string note = ColumnNote(title);
  if (note.empty()) return title.empty() ? QVariant() : QVariant(Latin1(title));
  return Latin1(title) + QStringLiteral("\n") + Latin1(note);
}

}  // namespace kalvrin
