// kalvrin-grid-bench: the result grid's tools on a grid of 2,000,000 rows,
// offscreen: find (a text in no cell, so every shown cell is read, and the
// text of the last row), the row filter (set and cleared), sorting by a
// column (a title click), and fitting the columns of a full grid. The rows are those the format check makes of a
// generated file, repeated with their record numbers, and kept in the
// window's own row store.
//   kalvrin-grid-bench [--rows=N] [benchmark options]
#include <QApplication>
#include <QHeaderView>
#include <QTableView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/grid/grid_columns.h"
#include "app/grid/grid_model.h"
#include "app/grid/grid_rows.h"
#include "app/grid/grid_search.h"
#include "testgen/filegen.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"

namespace {

int gRows = 2'000'000;

// The grid the benchmarks share, made once.
struct BigGrid {
  kalvrin::GridModel model;
  kalvrin::GridRowFilter rows{model};
  std::string lastCard;  // the card number of the last transaction
};

BigGrid& Grid() {
  static std::unique_ptr<BigGrid> grid = [] {
    auto made = std::make_unique<BigGrid>();
    // One generated file's rows as the format check writes them.
    const auto path = std::filesystem::temp_directory_path() / "kalvrin-grid-bench.dat";
    kalvrin::filegen::FileOptions options;
    options.size = 4096 * kalvrin::filegen::kRecordLength;
    kalvrin::filegen::WriteGeneratedFile(path, options);
    kalvrin::HeadlessSurface surface;
    kalvrin::FormatCheck check(surface);
    kalvrin::StartUpState(check, surface);
    kalvrin::IsoCommand(check, surface, path.string());
    std::filesystem::remove(path);
    const int sample = surface.gridRowCount() - 1;

    kalvrin::GridModel& model = made->model;
    model.setGridColCount(surface.gridColCount());
    model.setGridRowCount(gRows + 1);
    model.setGridFixedRows(1);
    for (int col = 0; col < surface.gridColCount(); ++col) model.setGridCell(col, 0, surface.cell(col, 0));
    for (int row = 1; row <= gRows; ++row) {
      const std::vector<std::string> cells = surface.row(1 + (row - 1) % sample);
      for (std::size_t col = 0; col < cells.size(); ++col) {
        model.setGridCell(static_cast<int>(col), row, col == 0 ? std::to_string(row) : cells[col]);
      }
      if (row % 65536 == 0) model.flush();
    }
    model.flush();
    // The card number of the last transaction (headers, totals and the trailer have none).
    for (int row = gRows; row > 0 && made->lastCard.empty(); --row) made->lastCard = model.gridCell(5, row);
    std::fprintf(stderr, "grid: %d rows, %zu bytes in the row store\n", gRows, model.rows().bytes());
    return made;
  }();
  return *grid;
}

kalvrin::SearchArea WholeGrid(const BigGrid& grid) {
  std::vector<int> columns(41);
  for (int col = 0; col < 41; ++col) columns[static_cast<std::size_t>(col)] = col;
  return {grid.rows.rowCount(), [&grid](int viewRow) { return grid.rows.gridRowOf(viewRow); }, columns};
}

// Every shown cell read: the find bar's worst case.
void BM_FindTextInNoCell(benchmark::State& state) {
  BigGrid& grid = Grid();
  const kalvrin::SearchArea area = WholeGrid(grid);
  const kalvrin::TextMatcher matcher(state.range(0) == 0 ? "7Q7" : "zurich");
  for (auto _ : state) {
    benchmark::DoNotOptimize(kalvrin::FindInGrid(grid.model, area, matcher, {0, 0}, true));
  }
  state.counters["rows"] = gRows;
}
BENCHMARK(BM_FindTextInNoCell)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// From the first row to a text of the grid's last rows.
void BM_FindNearTheEnd(benchmark::State& state) {
  BigGrid& grid = Grid();
  const kalvrin::SearchArea area = WholeGrid(grid);
  const std::string number = std::to_string(gRows - 1);
  const kalvrin::TextMatcher matcher(number);
  for (auto _ : state) {
    benchmark::DoNotOptimize(kalvrin::FindInGrid(grid.model, area, matcher, {0, 0}, true));
  }
}
BENCHMARK(BM_FindNearTheEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

// Every row's card number tested, then all rows shown again.
void BM_FilterByCardNumber(benchmark::State& state) {
  BigGrid& grid = Grid();
  const QString card = QString::fromLatin1(grid.lastCard.c_str());
  for (auto _ : state) {
    grid.rows.setFilter(5, card);
    benchmark::DoNotOptimize(grid.rows.rowCount());
    grid.rows.clearFilter();
  }
  grid.rows.setFilter(5, card);
  state.counters["matching"] = grid.rows.rowCount();
  grid.rows.clearFilter();
}
BENCHMARK(BM_FilterByCardNumber)->Unit(benchmark::kMillisecond)->UseRealTime();

// A title click: every row's cell of the column read, the rows sorted, and
// back to record order. Rec# (numbers already in order, read from the rows'
// numbers), the card number (numbers in no order), P43 (long texts with
// many ties) and SIZE (few different numbers).
void BM_SortByColumn(benchmark::State& state) {
  BigGrid& grid = Grid();
  const int column = static_cast<int>(state.range(0));
  for (auto _ : state) {
    grid.rows.sort(column, Qt::DescendingOrder);
    benchmark::DoNotOptimize(grid.rows.gridRowOf(0));
    grid.rows.sort(-1);
  }
  state.counters["rows"] = gRows;
}
BENCHMARK(BM_SortByColumn)->Arg(0)->Arg(5)->Arg(21)->Arg(40)->Unit(benchmark::kMillisecond)->UseRealTime();

// Fit columns to contents on a full grid, scrolled to its middle.
void BM_FitColumns(benchmark::State& state) {
  BigGrid& grid = Grid();
  QTableView view;
  view.setModel(&grid.rows);
  view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view.resize(1200, 800);
  view.show();
  view.scrollTo(grid.rows.index(gRows / 2, 0), QAbstractItemView::PositionAtTop);
  QCoreApplication::processEvents();
  kalvrin::GridColumns columns(view);
  for (auto _ : state) columns.fitToContents();
}
BENCHMARK(BM_FitColumns)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--rows=", 7) == 0) {
      gRows = std::max(1000, std::atoi(argv[i] + 7));
    } else {
      rest.push_back(argv[i]);
    }
  }
  int restCount = static_cast<int>(rest.size());
  QApplication app(restCount, rest.data());
  benchmark::Initialize(&restCount, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
