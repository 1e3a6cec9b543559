// The result lists' shared table and text.
#include "app/findings/result_table.h"

#include <QHeaderView>
#include <QSaveFile>
#include <QTableView>

#include <set>
#include <string>
#include <string_view>

#include "iso/grid_csv.h"

namespace kalvrin {

void SetUpResultTable(QTableView& table, QAbstractItemModel& model, std::span<const int> widths) {
  table.setModel(&model);
  table.setSortingEnabled(true);
  table.sortByColumn(-1, Qt::AscendingOrder);  // the model's order until a title is clicked
  table.setSelectionBehavior(QAbstractItemView::SelectRows);
  table.setEditTriggers(QAbstractItemView::NoEditTriggers);
  table.setWordWrap(false);
  table.verticalHeader()->hide();
  table.verticalHeader()->setDefaultSectionSize(table.fontMetrics().height() + 4);
  table.horizontalHeader()->setStretchLastSection(true);
  table.horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (std::size_t column = 0; column < widths.size(); ++column) {
    table.setColumnWidth(static_cast<int>(column), widths[column]);
  }
}

std::vector<std::vector<QString>> ShownTableTexts(const QTableView& table, std::span<const char* const> titles,
                                                  bool selectedOnly) {
  std::vector<std::vector<QString>> rows;
  rows.emplace_back(titles.begin(), titles.end());
  std::set<int> selected;
  if (selectedOnly) {
    for (const QModelIndex& index : table.selectionModel()->selectedIndexes()) selected.insert(index.row());
  }
  const QAbstractItemModel& shown = *table.model();
  for (int row = 0; row < shown.rowCount(); ++row) {
    if (selectedOnly && selected.count(row) == 0) continue;
    std::vector<QString> cells;
    for (std::size_t column = 0; column < titles.size(); ++column) {
      cells.push_back(shown.index(row, static_cast<int>(column)).data(Qt::DisplayRole).toString());
    }
    rows.push_back(std::move(cells));
  }
  return rows;
}

QString TableTextsAsTsv(const std::vector<std::vector<QString>>& rows) {
  QString text;
  for (const std::vector<QString>& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i > 0) text += QLatin1Char('\t');
      QString cell = row[i];
      for (QChar& c : cell) {
        if (c == QLatin1Char('\t') || c == QLatin1Char('\r') || c == QLatin1Char('\n')) c = QLatin1Char(' ');
      }
      text += cell;
    }
    text += QLatin1Char('\n');
  }
  return text;
}

QString WriteTableTextsCsv(const std::vector<std::vector<QString>>& rows, const QString& path, const char* cannotWrite) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return QString(cannotWrite).arg(path, file.errorString());
  std::string csv;
  for (const std::vector<QString>& row : rows) {
    // The lists' texts are the file's bytes, one character each, as the grid's export takes them.
    std::vector<std::string> bytes;
    for (const QString& cell : row) bytes.push_back(cell.toLatin1().toStdString());
    std::vector<std::string_view> cells(bytes.begin(), bytes.end());
    AppendCsvRow(csv, cells);
  }
  if (file.write(csv.data(), static_cast<qint64>(csv.size())) != static_cast<qint64>(csv.size()) || !file.commit()) {
    return QString(cannotWrite).arg(path, file.errorString());
  }
  return {};
}

}  // namespace kalvrin
