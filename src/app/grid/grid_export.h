// The result grid written to a CSV file, every row and every column as
// kalvrin-check --csv prints them, through a temporary file that replaces
// the target only when complete.
#pragma once

#include <QString>

#include <functional>

namespace kalvrin {

class GridModel;

struct ExportResult {
  bool written = false;
  bool cancelled = false;
  QString error;  // why the file could not be written
};

// `progress(done, total)` is told the rows written now and then; returning
// false cancels, and the target stays as it was.
ExportResult ExportGridCsv(const GridModel& grid, const QString& path,
                           const std::function<bool(int done, int total)>& progress = {});

}  // namespace kalvrin
