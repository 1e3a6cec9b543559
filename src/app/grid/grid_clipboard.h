// The result grid as text to paste elsewhere: a selected block as
// tab-separated lines under its column titles (what a spreadsheet takes),
// and one row as the CSV record the export writes.
#pragma once

#include <QItemSelection>
#include <QString>

#include <string>
#include <vector>

namespace kalvrin {

class GridModel;
class GridRowFilter;

// The block from the selection's top left to its bottom right cell, shown
// columns only, titles first; a cell inside the block that is not selected
// is left empty. Tabs and line ends in a cell become spaces so the block
// keeps its shape. Empty text for an empty selection.
QString SelectionAsTsv(const GridRowFilter& rows, const QItemSelection& selection, const std::vector<int>& columns);

// Every column of one grid row, as kalvrin-check --csv writes it.
std::string RowAsCsv(const GridModel& grid, int gridRow);

}  // namespace kalvrin
