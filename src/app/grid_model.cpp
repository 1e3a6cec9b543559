// The packed row store behind FormatGrid and its batched view updates.
#include "app/grid_model.h"

#include <algorithm>
#include <cstdint>

#include "app/widget_helpers.h"
#include "defines.h"

namespace kalvrin {

namespace {
constexpr std::size_t kEntryHead = 3;         // column, length (two bytes, little-endian)
constexpr std::size_t kMaxCellLength = 0xFFFF;  // longer cell texts are cut; no element comes near it
constexpr int kMaxColumns = 256;                // the column number is one byte

std::size_t EntryLength(const std::string& packed, std::size_t at) {
  return static_cast<std::uint8_t>(packed[at + 1]) | (static_cast<std::uint8_t>(packed[at + 2]) << 8);
}
}  // namespace

GridModel::GridModel(QObject* parent) : QAbstractTableModel(parent) {}

std::string_view GridModel::CellOf(const std::string& packed, int col) {
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    if (static_cast<std::uint8_t>(packed[at]) == col) return std::string_view(packed).substr(at + kEntryHead, length);
    at += kEntryHead + length;
  }
  return {};
}

void GridModel::PutCell(std::string& packed, int col, std::string_view text) {
  text = text.substr(0, kMaxCellLength);
  for (std::size_t at = 0; at + kEntryHead <= packed.size();) {
    const std::size_t length = EntryLength(packed, at);
    if (static_cast<std::uint8_t>(packed[at]) == col) {
      if (length == text.size()) {
        packed.replace(at + kEntryHead, length, text);
        return;
      }
      packed.erase(at, kEntryHead + length);
      break;
    }
    at += kEntryHead + length;
  }
  if (text.empty()) return;
  const char head[kEntryHead] = {static_cast<char>(col), static_cast<char>(text.size() & 0xFF),
                                 static_cast<char>(text.size() >> 8)};
  packed.append(head, kEntryHead).append(text);
}

void GridModel::setGridRowCount(int rows) {
  rows = std::max(rows, 0);
  const int current = gridRowCount();
  if (rows >= current) {
    rows_.resize(static_cast<std::size_t>(rows));  // the view hears of new rows at the next flush
    // The offsets grow in step with the rows: 8 bytes for each row's place.
    offsets_.reserve(rows_.capacity());
    offsets_.resize(rows_.size(), kNoRowOffset);
    return;
  }
  // Removed rows leave the view at once: their data is gone.
  if (shownRows_ > rows) {
    const int firstView = std::max(viewRowOf(rows), 0);
    if (firstView < shownViewRows()) {
      beginRemoveRows(QModelIndex(), firstView, shownViewRows() - 1);
      rows_.resize(static_cast<std::size_t>(rows));
      shownRows_ = rows;
      endRemoveRows();
    } else {
      rows_.resize(static_cast<std::size_t>(rows));
      shownRows_ = rows;
    }
  } else {
    rows_.resize(static_cast<std::size_t>(rows));
  }
  offsets_.resize(rows_.size());
  if (rows < fixedRows_) headerDirty_ = true;
  if (dirtyLast_ >= rows) dirtyLast_ = rows - 1;
  if (dirtyFirst_ > dirtyLast_) dirtyFirst_ = dirtyLast_ = -1;
  if (rows_.capacity() > 2 * rows_.size() + 1024) {  // a big run's rows go back
    rows_.shrink_to_fit();
    offsets_.shrink_to_fit();
  }
}

void GridModel::setGridColCount(int cols) {
  cols = std::clamp(cols, 0, kMaxColumns);
  if (cols == colCount_) return;
  if (cols > colCount_) {
    beginInsertColumns(QModelIndex(), colCount_, cols - 1);
    colCount_ = cols;
    endInsertColumns();
    return;
  }
  beginRemoveColumns(QModelIndex(), cols, colCount_ - 1);
  for (std::string& row : rows_) {
    for (int col = cols; col < colCount_; ++col) PutCell(row, col, {});
  }
  colCount_ = cols;
  endRemoveColumns();
}

void GridModel::setGridFixedRows(int rows) {
  rows = std::clamp(rows, 0, 1);  // the title row is the one row the header can show
  if (rows == fixedRows_) return;
  beginResetModel();
  fixedRows_ = rows;
  endResetModel();
}

void GridModel::setGridCell(int col, int row, std::string_view text) {
  if (row < 0 || row >= gridRowCount() || col < 0 || col >= colCount_) return;
  PutCell(rows_[static_cast<std::size_t>(row)], col, text);
  if (row < fixedRows_) {
    headerDirty_ = true;
  } else if (row < shownRows_) {
    dirtyFirst_ = dirtyFirst_ < 0 ? row : std::min(dirtyFirst_, row);
    dirtyLast_ = std::max(dirtyLast_, row);
  }
}

void GridModel::setGridRowOffset(int row, std::int64_t offset) {
  if (row >= 0 && row < gridRowCount()) offsets_[static_cast<std::size_t>(row)] = offset;
}

std::int64_t GridModel::gridRowOffset(int row) const {
  return row >= 0 && row < gridRowCount() ? offsets_[static_cast<std::size_t>(row)] : kNoRowOffset;
}

std::string GridModel::gridCell(int col, int row) const {
  if (row < 0 || row >= gridRowCount() || col < 0 || col >= colCount_) return {};
  return std::string(CellOf(rows_[static_cast<std::size_t>(row)], col));
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
  if (dirtyFirst_ >= 0 && colCount_ > 0) {
    emit dataChanged(index(viewRowOf(dirtyFirst_), 0), index(viewRowOf(dirtyLast_), colCount_ - 1),
                     {Qt::DisplayRole, Qt::EditRole});
  }
  dirtyFirst_ = dirtyLast_ = -1;
  if (headerDirty_ && colCount_ > 0) emit headerDataChanged(Qt::Horizontal, 0, colCount_ - 1);
  headerDirty_ = false;
}

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : shownViewRows();
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount_;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole)) return {};
  const std::string_view text =
      CellOf(rows_[static_cast<std::size_t>(index.row() + fixedRows_)], index.column());
  if (text.empty()) return {};
  return Latin1(text);
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole) return false;
  PutCell(rows_[static_cast<std::size_t>(index.row() + fixedRows_)], index.column(),
          value.toString().toLatin1().toStdString());
  emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
  return true;
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || fixedRows_ == 0 || rows_.empty()) {
    return {};
  }
  if (section < 0 || section >= colCount_) return {};
  const std::string_view text = CellOf(rows_.front(), section);
  return Latin1(text);
}

}  // namespace kalvrin
