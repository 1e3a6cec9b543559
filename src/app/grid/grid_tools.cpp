// Find, filter, copy, export, column choice and fitting for FormatGrid.
#include "app/grid/grid_tools.h"

#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include "app/dialogs/config_form.h"
#include "app/grid/find_bar.h"
#include "app/grid/frozen_columns.h"
#include "app/grid/grid_clipboard.h"
#include "app/grid/grid_columns.h"
#include "app/grid/grid_model.h"
#include "app/grid/grid_rows.h"
#include "app/grid/grid_search.h"
#include "app/main_form.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {
constexpr int kDefaultFilterColumn = 5;  // the card number: "every message of one card"
constexpr int kProgressAfterMs = 400;    // small grids are written before a dialog would show
}  // namespace

GridTools::GridTools(TMainForm& form, GridModel& grid, GridRowFilter& rows)
    : form_(form), grid_(grid), rows_(rows), view_(*form.FormatGrid) {
  columns_ = new GridColumns(view_, this);
  frozen_ = new FrozenColumns(view_, this);
  InstallFindBar();
  BuildActions(form_.menuBar()->findChild<QMenu*>("Tool1"));

  chooseExportFile = [this](QWidget* parent) -> std::optional<QString> {
    const QFileInfo source(form_.txtINFile->text());
    const QString suggested = source.dir().filePath(source.completeBaseName() + ".csv");
    const QString chosen =
        QFileDialog::getSaveFileName(parent, grid_text::kExportTitle, suggested, grid_text::kExportFilter);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
  };
  showError = [this](const QString& text) { QMessageBox::warning(&form_, grid_text::kExportTitle, text); };

  connect(&rows_, &GridRowFilter::shownRowsChanged, this, &GridTools::UpdateCount);
  connect(&grid_, &QAbstractItemModel::headerDataChanged, this, &GridTools::FillFilterColumns);
  connect(&grid_, &QAbstractItemModel::columnsInserted, this, &GridTools::FillFilterColumns);
  connect(columns_, &GridColumns::shownChanged, this, &GridTools::FillFilterColumns);
  connect(columns_, &GridColumns::shownChanged, frozen_, &FrozenColumns::sync);
  FillFilterColumns();

  // A click on a title sorts by its column, a second turns the order round,
  // a third returns to record order. The view asks the rows to sort; the
  // rows drop a sort themselves when the next check writes the grid.
  for (QTableView* view : {&view_, &frozen_->view()}) {
    view->horizontalHeader()->setSortIndicatorClearable(true);
    view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    view->setSortingEnabled(true);
  }
  connect(&rows_, &GridRowFilter::sortChanged, this, &GridTools::ShowSortOrder);
}

GridTools::~GridTools() = default;

void GridTools::InstallFindBar() {
  // The grid and the bar share the splitter's first pane, so the inspector
  // below keeps its place.
  QSplitter* splitter = form_.FormatSplitter;
  auto* pane = new QWidget;
  pane->setObjectName("FormatGridPane");
  pane->setSizePolicy(view_.sizePolicy());
  auto* layout = new QVBoxLayout(pane);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  splitter->replaceWidget(splitter->indexOf(&view_), pane);
  layout->addWidget(&view_);
  view_.show();
  findBar = new FindBar(pane);
  findBar->windowBusy = [this] { return form_.runningCommand() != Command::None; };
  layout->addWidget(findBar);
  findBar->hide();

  connect(findBar, &FindBar::findRequested, this, [this](bool forwards) { find(forwards); });
  connect(findBar, &FindBar::filterRequested, this, &GridTools::applyFilter);
  connect(findBar, &FindBar::closeRequested, this, [this] {
    findBar->hide();
    rows_.clearFilter();
    findBar->filterEdit->clear();
    view_.setFocus();
  });
}

void GridTools::BuildActions(QMenu* tool) {
  findAction = new QAction("Find...", &form_);
  findAction->setObjectName("FindInGrid");
  findAction->setShortcut(QKeySequence::Find);
  connect(findAction, &QAction::triggered, this, [this] {
    form_.pgResult->setCurrentWidget(form_.Format);  // the bar is the grid's: on a hidden page it would find unseen
    findBar->show();
    findBar->findEdit->setFocus();
    findBar->findEdit->selectAll();
  });
  findNextAction = new QAction("Find next", &form_);
  findNextAction->setObjectName("FindNext");
  findNextAction->setShortcut(QKeySequence::FindNext);
  connect(findNextAction, &QAction::triggered, this, [this] { find(true); });
  findPreviousAction = new QAction("Find previous", &form_);
  findPreviousAction->setObjectName("FindPrevious");
  findPreviousAction->setShortcut(QKeySequence::FindPrevious);
  connect(findPreviousAction, &QAction::triggered, this, [this] { find(false); });
  fitAction = new QAction("Fit columns to contents", &form_);
  fitAction->setObjectName("FitColumns");
  fitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
  connect(fitAction, &QAction::triggered, columns_, &GridColumns::fitToContents);
  fitAfterCheckAction = new QAction("Fit columns after each check", &form_);
  fitAfterCheckAction->setObjectName("FitColumnsAfterCheck");
  fitAfterCheckAction->setCheckable(true);
  fitAfterCheckAction->setChecked(columns_->fitsAfterCheck());
  connect(fitAfterCheckAction, &QAction::toggled, columns_, &GridColumns::setFitAfterCheck);
  resetWidthsAction = new QAction("Reset column widths", &form_);
  resetWidthsAction->setObjectName("ResetColumnWidths");
  connect(resetWidthsAction, &QAction::triggered, columns_, &GridColumns::resetWidths);
  recordOrderAction = new QAction("Rows in record order", &form_);
  recordOrderAction->setObjectName("RecordOrder");
  recordOrderAction->setEnabled(false);
  connect(recordOrderAction, &QAction::triggered, this, [this] { rows_.sort(-1); });
  exportAction = new QAction("Export grid as CSV...", &form_);
  exportAction->setObjectName("ExportGrid");
  exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  connect(exportAction, &QAction::triggered, this, &GridTools::exportGrid);
  if (tool != nullptr) {
    tool->addSeparator();
    tool->addActions({findAction, findNextAction, findPreviousAction});
    tool->addSeparator();
    tool->addActions({fitAction, fitAfterCheckAction, resetWidthsAction, recordOrderAction});
    tool->addSeparator();
    tool->addAction(exportAction);
  }
  form_.addActions({findAction, findNextAction, findPreviousAction, fitAction, exportAction});

  // The grid's own: Copy with its shortcut, and the context menu.
  copyAction = new QAction("Copy", &view_);
  copyAction->setObjectName("CopyCells");
  copyAction->setShortcut(QKeySequence::Copy);
  copyAction->setShortcutContext(Qt::WidgetShortcut);
  connect(copyAction, &QAction::triggered, this, &GridTools::copySelection);
  view_.addAction(copyAction);
  copyRowCsvAction = new QAction("Copy row as CSV", &view_);
  copyRowCsvAction->setObjectName("CopyRowCsv");
  connect(copyRowCsvAction, &QAction::triggered, this, &GridTools::copyCurrentRowAsCsv);
  showInInspectorAction = new QAction("Show in inspector", &view_);
  showInInspectorAction->setObjectName("ShowInInspector");
  connect(showInInspectorAction, &QAction::triggered, this, [this] {
    if (view_.currentIndex().isValid()) emit inspectRequested(view_.currentIndex());
  });
  for (QTableView* view : {&view_, &frozen_->view()}) {
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this,
            [this, view](const QPoint& at) { ShowContextMenu(*view, at); });
  }
}

void GridTools::ShowContextMenu(QTableView& on, const QPoint& at) {
  const QModelIndex index = on.indexAt(at);  // the two views share the selection
  if (index.isValid() && !view_.selectionModel()->isSelected(index)) {
    view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  }
  const bool onRow = view_.currentIndex().isValid();
  copyRowCsvAction->setEnabled(onRow);
  showInInspectorAction->setEnabled(onRow);
  QMenu menu(&view_);
  menu.addActions({copyAction, copyRowCsvAction, showInInspectorAction});
  if (!rowActions.isEmpty()) {
    menu.addSeparator();
    for (QAction* action : rowActions) action->setEnabled(onRow);
    menu.addActions(rowActions);
  }
  menu.exec(on.viewport()->mapToGlobal(at));
}

void GridTools::ShowSortOrder() {
  // Each header shows the rows' order; a header that already does asks for no sort again.
  const int column = rows_.sortColumn();
  for (QTableView* view : {&view_, &frozen_->view()}) {
    QHeaderView* header = view->horizontalHeader();
    const bool sameOrder = column < 0 || header->sortIndicatorOrder() == rows_.sortOrder();
    if (header->sortIndicatorSection() != column || !sameOrder) header->setSortIndicator(column, rows_.sortOrder());
  }
  recordOrderAction->setEnabled(rows_.sorted());
}

void GridTools::afterCheck() {
  columns_->fitAfterCheck();
  frozen_->sync();
}

void GridTools::readSettings(const IniFile& ini) {
  columns_->readSettings(ini);
  fitAfterCheckAction->setChecked(columns_->fitsAfterCheck());
  frozen_->sync();
}
void GridTools::writeSettings(IniFile& ini) const { columns_->writeSettings(ini); }

void GridTools::attachConfig(TConfigForm* config) {
  if (config == nullptr) return;
  config->showColumnChoice([this](int column) { return columns_->shown(column); });
  connect(config, &TConfigForm::columnChosen, columns_, &GridColumns::setShown);
  // Config > ISO8583 opens the dialog, whose Set button the window hides.
  connect(form_.ISO85831, &QAction::triggered, &form_, &TMainForm::btnConfigClick, Qt::UniqueConnection);
}

void GridTools::FillFilterColumns() {
  QComboBox* combo = findBar->filterColumn;
  const int chosen = combo->count() > 0 ? combo->currentData().toInt() : kDefaultFilterColumn;
  combo->clear();
  for (const int column : columns_->shownColumns()) {
    combo->addItem(grid_.headerData(column, Qt::Horizontal, Qt::DisplayRole).toString(), column);
  }
  const int at = combo->findData(chosen);
  combo->setCurrentIndex(at >= 0 ? at : 0);
  // A filter on a column that is no longer shown would hide rows for no visible reason.
  if (rows_.filtering() && !columns_->shown(rows_.filterColumn())) rows_.clearFilter();
}

void GridTools::applyFilter() {
  const QString text = findBar->filterEdit->text();
  rows_.setFilter(text.isEmpty() ? -1 : findBar->filterColumn->currentData().toInt(), text);
}

QModelIndex GridTools::reveal(int gridRow, int element) {
  const std::vector<int> shown = columns_->shownColumns();
  if (shown.empty()) return {};
  int column = element > 0 && element <= kElementCount ? kElementColumns[static_cast<std::size_t>(element)] : -1;
  if (column < 0 || !columns_->shown(column)) column = shown.front();
  if (rows_.viewRowOf(gridRow) < 0) {
    findBar->filterEdit->clear();
    rows_.clearFilter();
  }
  const int viewRow = rows_.viewRowOf(gridRow);
  if (viewRow < 0) return {};
  const QModelIndex index = rows_.index(viewRow, column);
  view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  view_.scrollTo(index);
  return index;
}

void GridTools::UpdateCount() {
  findBar->filterCount->setText(rows_.filtering() ? QString(grid_text::kRowsShown)
                                                        .arg(rows_.rowCount())
                                                        .arg(rows_.sourceRows())
                                                  : QString());
}

bool GridTools::find(bool forwards) {
  const QString typed = findBar->findEdit->text();
  findBar->findStatus->clear();
  if (typed.isEmpty()) return false;
  const SearchArea area{rows_.rowCount(), [this](int viewRow) { return rows_.gridRowOf(viewRow); },
                        columns_->shownColumns()};
  const QModelIndex current = view_.currentIndex();
  const GridPlace from{current.isValid() ? current.row() : -1, current.isValid() ? current.column() : -1};
  const std::optional<GridPlace> found = FindInGrid(grid_, area, TextMatcher::FromTyped(typed), from, forwards);
  if (!found) {
    findBar->findStatus->setText(grid_text::kNotFound);
    return false;
  }
  if (current.isValid()) {
    const bool after = found->viewRow > from.viewRow || (found->viewRow == from.viewRow && found->column > from.column);
    const bool before = found->viewRow < from.viewRow || (found->viewRow == from.viewRow && found->column < from.column);
    if (forwards ? !after : !before) findBar->findStatus->setText(grid_text::kWrapped);
  }
  const QModelIndex index = rows_.index(found->viewRow, found->column);
  view_.selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
  view_.scrollTo(index);
  return true;
}

void GridTools::copySelection() {
  const QString text = SelectionAsTsv(rows_, view_.selectionModel()->selection(), columns_->shownColumns());
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void GridTools::copyCurrentRowAsCsv() {
  const QModelIndex current = view_.currentIndex();
  if (!current.isValid()) return;
  QGuiApplication::clipboard()->setText(QString::fromStdString(RowAsCsv(grid_, rows_.gridRowOf(current.row()))));
}

bool GridTools::Busy() const { return !form_.bbtnCheckFormat->isEnabled(); }

void GridTools::exportGrid() {
  if (Busy()) return;  // the grid is still being written
  const std::optional<QString> path = chooseExportFile(&form_);
  if (!path || path->isEmpty()) return;
  const ExportResult result = exportTo(*path);
  if (!result.written && !result.cancelled) showError(QString(grid_text::kCannotExport).arg(*path, result.error));
}

ExportResult GridTools::exportTo(const QString& path) {
  const int total = grid_.gridRowCount();
  QProgressDialog progress(QString(grid_text::kExporting).arg(total), "Cancel", 0, total, &form_);
  progress.setWindowTitle(grid_text::kExportTitle);
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(kProgressAfterMs);
  progress.setAutoReset(false);
  return ExportGridCsv(grid_, path, [&progress](int done, int) {
    progress.setValue(done);
    return !progress.wasCanceled();
  });
}

}  // namespace kalvrin
