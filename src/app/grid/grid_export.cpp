// Export of the result grid as CSV.
#include "app/grid/grid_export.h"

#include <QSaveFile>

#include <array>
#include <string>

#include "app/grid/grid_model.h"
#include "iso/grid_csv.h"

namespace kalvrin {

namespace {
constexpr int kMaxColumns = 256;
constexpr std::size_t kChunkBytes = 1 << 20;  // written at once
constexpr int kRowsPerReport = 4096;
}  // namespace

ExportResult ExportGridCsv(const GridModel& grid, const QString& path,
                           const std::function<bool(int done, int total)>& progress) {
  ExportResult result;
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    result.error = file.errorString();
    return result;
  }
  const int total = grid.gridRowCount();
  std::array<std::string_view, kMaxColumns> cells{};
  const std::span<std::string_view> rowCells(cells.data(), static_cast<std::size_t>(grid.gridColCount()));
  std::string chunk;
  chunk.reserve(kChunkBytes + 4096);
  auto writeChunk = [&] {
    if (file.write(chunk.data(), static_cast<qint64>(chunk.size())) != static_cast<qint64>(chunk.size())) return false;
    chunk.clear();
    return true;
  };
  for (int row = 0; row < total; ++row) {
    grid.gridRowView(row, rowCells);
    AppendCsvRow(chunk, rowCells);
    if (chunk.size() >= kChunkBytes && !writeChunk()) break;
    if (progress && (row + 1) % kRowsPerReport == 0 && !progress(row + 1, total)) {
      file.cancelWriting();
      result.cancelled = true;
      return result;
    }
  }
  if (!chunk.empty()) writeChunk();
  if (progress) progress(total, total);
  if (!file.commit()) {
    result.error = file.errorString();
    return result;
  }
  result.written = true;
  return result;
}

}  // namespace kalvrin
