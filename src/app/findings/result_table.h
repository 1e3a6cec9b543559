// What the result lists (the Findings and Differences pages) share: the
// table's look, and its rows as text, copied as tab-separated lines or
// exported as CSV in the order and filter shown.
#pragma once

#include <QString>

#include <span>
#include <vector>

class QTableView;
class QAbstractItemModel;

namespace kalvrin {

// A read-only list of whole rows over `model` (a sorting filter), in the
// model's order until a title is clicked, with these column widths.
void SetUpResultTable(QTableView& table, QAbstractItemModel& model, std::span<const int> widths);

// The rows shown, as the list shows them, `titles` first; only the
// selected rows when `selectedOnly`.
std::vector<std::vector<QString>> ShownTableTexts(const QTableView& table, std::span<const char* const> titles,
                                                  bool selectedOnly);

// As tab-separated lines; tabs and line ends inside a text become spaces.
QString TableTextsAsTsv(const std::vector<std::vector<QString>>& rows);

// As a CSV file that replaces `path` only once it is complete; empty when
// written, else why not (`cannotWrite` with %1 the path, %2 the reason).
QString WriteTableTextsCsv(const std::vector<std::vector<QString>>& rows, const QString& path, const char* cannotWrite);

}  // namespace kalvrin
