// The rows of a result grid in the order of one column's texts, for the
// window's sortable grid: an order of row numbers, the store untouched.
//
// Cells of digits only are numbers and compare by value ("9" before "10",
// "007" equal to "7"), ahead of every other text; other texts compare byte
// by byte; empty cells come last whichever the direction. Cells that
// compare equal keep the order of their rows, so a sort is stable and a
// second sort by another column keeps the first within its ties.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin {

class RowStore;

enum class SortDirection { Ascending, Descending };

// A cell's text as the grid shows it, where that differs from what the
// store holds (masked card numbers); it may build the text in `room`.
using ShownCell = std::function<std::string_view(std::string_view stored, std::string& room)>;

// Grid rows first..end-1 of `col`, in the column's order. The texts are
// read in row order, a bounded piece of each at a time, so that a column of
// long texts (P55 on two million rows) costs passes, not a copy of itself.
std::vector<int> SortRows(const RowStore& store, int col, int first, int end, SortDirection direction,
                          const ShownCell& shown = {});

}  // namespace kalvrin
