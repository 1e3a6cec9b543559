// Clipboard texts of the result grid.
#include "app/grid/grid_clipboard.h"

#include <algorithm>
#include <array>
#include <climits>

#include "app/grid/grid_model.h"
#include "app/grid/grid_rows.h"
#include "app/widget_helpers.h"
#include "iso/grid_csv.h"

namespace kalvrin {

namespace {
constexpr int kMaxColumns = 256;

void AppendCell(QString& out, std::string_view text) {
  QString cell = Latin1(text);
  for (QChar& c : cell) {
    if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) c = QLatin1Char(' ');
  }
  out += cell;
}

bool Selected(const QItemSelection& selection, int row, int column) {
  return std::any_of(selection.begin(), selection.end(), [&](const QItemSelectionRange& range) {
    return row >= range.top() && row <= range.bottom() && column >= range.left() && column <= range.right();
  });
}
}  // namespace

QString SelectionAsTsv(const GridRowFilter& rows, const QItemSelection& selection, const std::vector<int>& columns) {
  int top = INT_MAX, bottom = -1, left = INT_MAX, right = -1;
  for (const QItemSelectionRange& range : selection) {
    if (!range.isValid()) continue;
    top = std::min(top, range.top());
    bottom = std::max(bottom, range.bottom());
    left = std::min(left, range.left());
    right = std::max(right, range.right());
  }
  std::vector<int> block;
  for (const int column : columns) {
    if (column >= left && column <= right && column < kMaxColumns) block.push_back(column);
  }
  if (bottom < 0 || block.empty()) return {};
  const GridModel& grid = rows.grid();
  const bool whole = selection.size() == 1;

  QString text;
  for (std::size_t i = 0; i < block.size(); ++i) {
    if (i > 0) text += QLatin1Char('\t');
    AppendCell(text, grid.gridFixedRows() > 0 ? grid.gridCellView(block[i], 0) : std::string_view());
  }
  text += QLatin1Char('\n');
  std::array<std::string_view, kMaxColumns> cells{};
  const std::span<std::string_view> rowCells(cells.data(), static_cast<std::size_t>(grid.gridColCount()));
  for (int row = top; row <= bottom; ++row) {
    grid.gridRowView(rows.gridRowOf(row), rowCells);
    for (std::size_t i = 0; i < block.size(); ++i) {
      if (i > 0) text += QLatin1Char('\t');
      if (whole || Selected(selection, row, block[i])) AppendCell(text, cells[static_cast<std::size_t>(block[i])]);
    }
    text += QLatin1Char('\n');
  }
  return text;
}

std::string RowAsCsv(const GridModel& grid, int gridRow) {
  std::array<std::string_view, kMaxColumns> cells{};
  const std::span<std::string_view> rowCells(cells.data(), static_cast<std::size_t>(grid.gridColCount()));
  grid.gridRowView(gridRow, rowCells);
  std::string record;
  AppendCsvRow(record, rowCells);
  return record;
}

}  // namespace kalvrin
