// The table model behind FormatGrid. The rows live in a RowStore (no object
// per cell, settled rows encoded), so a run of millions of messages stays
// small. The format check writes through the grid verbs of the window
// surface; rows it adds and cells it changes reach the view in batches, when
// the window flushes, so that a run does not pay for one view update per
// character. Grid rows count the title row; the view's rows do not.
#pragma once

#include <QAbstractTableModel>

#include <functional>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "grid/row_store.h"
#include "iso/result_grid.h"

namespace kalvrin {

class GridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit GridModel(QObject* parent = nullptr);

  // The grid as the format check sees it: row 0 is the title row and shows
  // as the view's header while the grid has a fixed row.
  int gridRowCount() const { return rows_.rowCount(); }
  int gridColCount() const { return rows_.colCount(); }
  int gridFixedRows() const { return fixedRows_; }
  void setGridRowCount(int rows);
  void setGridColCount(int cols);
  void setGridFixedRows(int rows);
  // Cells drawn in another colour (the test copy's edited ones): asked with
  // the cell's column and its row's Rec# text. markedCellsChanged() redraws them.
  void setCellMark(std::function<bool(int column, std::string_view record)> mark) { cellMark_ = std::move(mark); }
  void markedCellsChanged();
  void setGridCell(int col, int row, std::string_view text) {  // dropped outside the grid
    // Here, so that the surface's write reaches the store without a call
    // between them: a check writes millions of cells.
    if (row < 0 || row >= gridRowCount() || col < 0 || col >= gridColCount()) return;
    rows_.setCell(col, row, text);
    if (row < fixedRows_) {
      headerDirty_ = true;
    } else if (row < shownRows_) {
      dirtyFirst_ = dirtyFirst_ < 0 ? row : std::min(dirtyFirst_, row);
      dirtyLast_ = std::max(dirtyLast_, row);
    }
  }
  std::string gridCell(int col, int row) const;               // empty outside the grid
  // The same without a copy, for the tools that read the whole grid (find,
  // filter, clipboard, export): one cell, or every cell of a row in one pass
  // (cells[col], empty where the row holds nothing). The texts stay valid
  // until the next read or change of the grid.
  std::string_view gridCellView(int col, int row) const;
  void gridRowView(int row, std::span<std::string_view> cells) const;
  // Card numbers masked in what the view shows and in what those tools
  // read; gridCell and rows() keep them as the check wrote them. The masked
  // cells cannot be edited.
  void setMaskCardNumbers(bool mask);
  bool maskCardNumbers() const { return maskCardNumbers_; }
  // A row's texts as written, in one piece with some framing bytes between
  // them: a text no cell of the row holds is not in it either (a quick test
  // for find, while card numbers are not masked).
  std::string_view gridRowBytes(int row) const { return rows_.rowBytes(row); }
  // Where the row's message starts in the file; kNoRowOffset outside the
  // grid and for a row without a message.
  void setGridRowOffset(int row, std::int64_t offset);
  std::int64_t gridRowOffset(int row) const;

  // Hands rows added and cells changed since the last flush to the view,
  // and lets the store freeze what has settled.
  void flush();
  // Every row's cells, for reading many rows at once (row 0 is the title row).
  const RowStore& rows() const { return rows_; }

  // QAbstractTableModel: the view's rows are the grid's rows below the fixed one.
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  int viewRowOf(int gridRow) const { return gridRow - fixedRows_; }
  int shownViewRows() const { return shownRows_ > fixedRows_ ? shownRows_ - fixedRows_ : 0; }

  RowStore rows_;
  int fixedRows_ = 0;
  std::function<bool(int, std::string_view)> cellMark_;
  int shownRows_ = 0;     // grid rows the view has been told about
  int dirtyFirst_ = -1;   // grid rows changed since the last flush
  int dirtyLast_ = -1;
  bool headerDirty_ = false;
  bool maskCardNumbers_ = false;
  // The masked texts the views above point into, one per column, so that a
  // row's views of several card number columns (P2, P35, P55) stay apart.
  mutable std::array<std::string, kGridColumnCount> masked_;
};

}  // namespace kalvrin
