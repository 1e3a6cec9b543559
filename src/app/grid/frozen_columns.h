// Rec# and TCode stay at FormatGrid's left edge while it scrolls right: a
// second view over the same model and selection, laid over the grid's left
// side and showing those two columns only, the usual way of freezing
// columns in Qt. Widths, hidden columns, row heights, the header and the
// vertical scroll follow the grid; the grid keeps the focus and the keys.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTableView>

class QModelIndex;

namespace kalvrin {

class FrozenColumns : public QObject {
  Q_OBJECT

 public:
  static constexpr int kFrozen = 2;  // Rec# and TCode

  explicit FrozenColumns(QTableView& grid, QObject* parent = nullptr);
  ~FrozenColumns() override;  // lets go of the grid's model, which may go first
  QTableView& view() const { return *frozen_; }
  // Columns shown and their widths, then where the view lies.
  void sync();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateGeometry();
  int FrozenWidth() const;
  // A cell made current that lies under the frozen columns scrolls out from under them.
  void Uncover(const QModelIndex& current);

  QTableView& grid_;
  QPointer<QTableView> frozen_;  // a child of the grid
};

}  // namespace kalvrin
