// The frozen Rec# and TCode columns over FormatGrid.
#include "app/grid/frozen_columns.h"

#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTableView>

#include <algorithm>

namespace kalvrin {

FrozenColumns::FrozenColumns(QTableView& grid, QObject* parent) : QObject(parent), grid_(grid) {
  frozen_ = new QTableView(&grid_);
  frozen_->setObjectName("FrozenColumns");
  frozen_->setModel(grid_.model());
  frozen_->setSelectionModel(grid_.selectionModel());
  frozen_->setFocusPolicy(Qt::NoFocus);  // the keys stay with the grid
  frozen_->setFrameShape(QFrame::NoFrame);
  frozen_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  frozen_->setSelectionMode(grid_.selectionMode());
  frozen_->setSelectionBehavior(grid_.selectionBehavior());
  frozen_->setEditTriggers(QAbstractItemView::NoEditTriggers);  // a double-click edits while the grid would
  frozen_->setWordWrap(grid_.wordWrap());
  frozen_->setShowGrid(grid_.showGrid());
  frozen_->setVerticalScrollMode(grid_.verticalScrollMode());
  QHeaderView* rows = frozen_->verticalHeader();
  rows->hide();
  rows->setMinimumSectionSize(grid_.verticalHeader()->minimumSectionSize());
  rows->setSectionResizeMode(QHeaderView::Fixed);
  rows->setDefaultSectionSize(grid_.verticalHeader()->defaultSectionSize());
  QHeaderView* titles = frozen_->horizontalHeader();
  titles->setMinimumSectionSize(1);
  titles->setSectionResizeMode(QHeaderView::Fixed);  // widths are set at the grid's own edges
  titles->setHighlightSections(false);
  titles->setDefaultAlignment(grid_.horizontalHeader()->defaultAlignment());
  grid_.setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);  // no column jumps out from under the frozen ones
  grid_.viewport()->stackUnder(frozen_);

  connect(frozen_->verticalScrollBar(), &QAbstractSlider::valueChanged, grid_.verticalScrollBar(),
          &QAbstractSlider::setValue);
  connect(grid_.verticalScrollBar(), &QAbstractSlider::valueChanged, frozen_->verticalScrollBar(),
          &QAbstractSlider::setValue);
  // The frozen rows are laid out later than the grid's: they catch up when their range does.
  connect(frozen_->verticalScrollBar(), &QAbstractSlider::rangeChanged, this,
          [this] { frozen_->verticalScrollBar()->setValue(grid_.verticalScrollBar()->value()); });
  connect(grid_.horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
    if (column >= kFrozen) return;
    frozen_->setColumnWidth(column, width);
    UpdateGeometry();
  });
  connect(grid_.horizontalHeader(), &QHeaderView::geometriesChanged, this, &FrozenColumns::UpdateGeometry);
  connect(frozen_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    if (grid_.editTriggers() & QAbstractItemView::DoubleClicked) frozen_->edit(index);
  });
  connect(grid_.selectionModel(), &QItemSelectionModel::currentChanged, this, &FrozenColumns::Uncover);
  QAbstractItemModel* model = grid_.model();
  connect(model, &QAbstractItemModel::columnsInserted, this, &FrozenColumns::sync);
  connect(model, &QAbstractItemModel::columnsRemoved, this, &FrozenColumns::sync);
  connect(model, &QAbstractItemModel::modelReset, this, &FrozenColumns::sync);
  grid_.installEventFilter(this);
  grid_.horizontalHeader()->installEventFilter(this);
  sync();
}

FrozenColumns::~FrozenColumns() {
  if (frozen_ != nullptr) frozen_->setModel(nullptr);
}

bool FrozenColumns::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::LayoutRequest: UpdateGeometry(); break;
    default: break;
  }
  return QObject::eventFilter(watched, event);
}

void FrozenColumns::sync() {
  const int columns = frozen_->model() != nullptr ? frozen_->model()->columnCount() : 0;
  for (int column = 0; column < columns; ++column) {
    const bool hidden = column >= kFrozen || grid_.isColumnHidden(column);
    if (frozen_->isColumnHidden(column) != hidden) frozen_->setColumnHidden(column, hidden);
    if (!hidden) frozen_->setColumnWidth(column, grid_.columnWidth(column));
  }
  UpdateGeometry();
}

int FrozenColumns::FrozenWidth() const {
  int width = 0;
  const int columns = grid_.model() != nullptr ? std::min(grid_.model()->columnCount(), kFrozen) : 0;
  for (int column = 0; column < columns; ++column) {
    if (!grid_.isColumnHidden(column)) width += grid_.columnWidth(column);
  }
  return width;
}

void FrozenColumns::UpdateGeometry() {
  // Column choice can change without a signal of the model's: read it here too.
  const int columns = grid_.model() != nullptr ? std::min(grid_.model()->columnCount(), kFrozen) : 0;
  for (int column = 0; column < columns; ++column) {
    if (frozen_->isColumnHidden(column) != grid_.isColumnHidden(column)) {
      frozen_->setColumnHidden(column, grid_.isColumnHidden(column));
    }
  }
  const int width = FrozenWidth();
  const QHeaderView* titles = grid_.horizontalHeader();
  frozen_->horizontalHeader()->setVisible(!titles->isHidden());
  const int titleHeight = titles->isHidden() ? 0 : titles->height();
  frozen_->horizontalHeader()->setFixedHeight(std::max(titleHeight, 0));
  frozen_->setGeometry(grid_.frameWidth() + (grid_.verticalHeader()->isHidden() ? 0 : grid_.verticalHeader()->width()),
                       grid_.frameWidth(), width, grid_.viewport()->height() + titleHeight);
  frozen_->setVisible(width > 0 && grid_.model() != nullptr);
  frozen_->verticalScrollBar()->setValue(grid_.verticalScrollBar()->value());
}

void FrozenColumns::Uncover(const QModelIndex& current) {
  if (!current.isValid() || current.column() < kFrozen) return;
  const QRect cell = grid_.visualRect(current);
  const int covered = FrozenWidth() - cell.left();
  if (covered > 0) grid_.horizontalScrollBar()->setValue(grid_.horizontalScrollBar()->value() - covered);
}

}  // namespace kalvrin
