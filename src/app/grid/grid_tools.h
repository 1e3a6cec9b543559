// What the result grid offers beyond the format check's own layout: find and
// filter, sorting by a column, copy of a block or a row, export as CSV, the
// choice of columns, fitting their widths and the frozen Rec# and TCode.
// Built around the window's FormatGrid; the window hands it the settings
// and the configuration dialog, and tells it when a check has ended.
#pragma once

#include <QModelIndex>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "app/grid/grid_export.h"

class QAction;
class QMenu;
class QTableView;
class QWidget;

namespace kalvrin {

class FindBar;
class FrozenColumns;
class GridColumns;
class GridModel;
class GridRowFilter;
class IniFile;
class TConfigForm;
class TMainForm;

namespace grid_text {
inline constexpr char kNotFound[] = "Not found";
inline constexpr char kWrapped[] = "Wrapped round the grid";
inline constexpr char kRowsShown[] = "%1 of %2 rows";
inline constexpr char kExportTitle[] = "Export grid as CSV";
inline constexpr char kExportFilter[] = "CSV files (*.csv);;All files (*)";
inline constexpr char kExporting[] = "Writing %1 rows...";
inline constexpr char kCannotExport[] = "Cannot write %1: %2";
}  // namespace grid_text

class GridTools : public QObject {
  Q_OBJECT

 public:
  // Puts the find bar under the grid, the grid's context menu and Copy in
  // place, and its commands into the Tool menu.
  GridTools(TMainForm& form, GridModel& grid, GridRowFilter& rows);
  ~GridTools() override;

  FindBar* findBar = nullptr;
  QAction* findAction = nullptr;
  QAction* findNextAction = nullptr;
  QAction* findPreviousAction = nullptr;
  QAction* fitAction = nullptr;
  QAction* fitAfterCheckAction = nullptr;  // checkable, on unless the user turned it off
  QAction* resetWidthsAction = nullptr;
  QAction* recordOrderAction = nullptr;
  QAction* exportAction = nullptr;
  // Added to a row's context menu by other parts of the window (the test copy's edits).
  QList<QAction*> rowActions;
  QAction* copyAction = nullptr;
  QAction* copyRowCsvAction = nullptr;
  QAction* showInInspectorAction = nullptr;

  GridColumns& columns() { return *columns_; }
  GridRowFilter& rows() { return rows_; }
  FrozenColumns& frozen() { return *frozen_; }

  // A check has written the grid: the columns fit what it shows.
  void afterCheck();

  // The settings file's grid section.
  void readSettings(const IniFile& ini);
  void writeSettings(IniFile& ini) const;
  // The configuration dialog's check boxes show and choose the columns.
  void attachConfig(TConfigForm* config);

  // The find bar's search from the current cell: true when a cell was found
  // and made current.
  bool find(bool forwards);
  void applyFilter();
  // Makes the grid row's cell of `element` current (its first shown cell
  // when the element has no shown column), showing every row again if the
  // filter hides it; the index made current, or none.
  QModelIndex reveal(int gridRow, int element);
  void copySelection();
  void copyCurrentRowAsCsv();
  // Asks for a file and writes the grid to it, with a progress dialog.
  void exportGrid();
  ExportResult exportTo(const QString& path);

  // Seams for the tests: the save dialog, and where errors go.
  std::function<std::optional<QString>(QWidget* parent)> chooseExportFile;
  std::function<void(const QString&)> showError;

 signals:
  // "Show in inspector": the window shows the cell's message, opening the
  // inspector even when the user had closed it.
  void inspectRequested(const QModelIndex& index);

 private:
  void BuildActions(QMenu* tool);
  void InstallFindBar();
  void FillFilterColumns();
  void UpdateCount();
  void ShowContextMenu(QTableView& on, const QPoint& at);
  void ShowSortOrder();
  bool Busy() const;

  TMainForm& form_;
  GridModel& grid_;
  GridRowFilter& rows_;
  QTableView& view_;
  GridColumns* columns_ = nullptr;
  FrozenColumns* frozen_ = nullptr;
};

}  // namespace kalvrin
