// Column choice, hand-set widths and fitting for FormatGrid.
#include "app/grid/grid_columns.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QTableView>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>

#include "app/grid/grid_rows.h"
#include "app/grid/grid_model.h"
#include "app/widget_helpers.h"
#include "iso/result_grid.h"
#include "settings/settings.h"

namespace kalvrin {

namespace {
constexpr int kMaxColumns = 256;
constexpr int kMaxHandWidth = 10000;  // a wider one in the settings file is not the user's
constexpr char kAbsent[] = "\n";       // no entry can hold a line end

void Mark(std::vector<bool>& flags, int column, bool value) {
  if (column < 0 || column >= kMaxColumns) return;
  if (flags.size() <= static_cast<std::size_t>(column)) flags.resize(static_cast<std::size_t>(column) + 1, false);
  flags[static_cast<std::size_t>(column)] = value;
}

bool Flag(const std::vector<bool>& flags, int column) {
  return column >= 0 && static_cast<std::size_t>(column) < flags.size() && flags[static_cast<std::size_t>(column)];
}
}  // namespace

GridColumns::GridColumns(QTableView& view, QObject* parent) : QObject(parent), view_(view) {
  QHeaderView* header = view_.horizontalHeader();
  header->viewport()->installEventFilter(this);
  connect(header, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
    if (applying_ || width == 0 || column < 0 || column >= kMaxColumns) return;  // 0: hidden, not resized
    if (dragging_) {
      SetHandWidth(column, width);
    } else if (setByHand(column) && width != handWidths_[static_cast<std::size_t>(column)]) {
      // The grid set-up's width; the user's stays.
      applying_ = true;
      view_.setColumnWidth(column, handWidths_[static_cast<std::size_t>(column)]);
      applying_ = false;
    }
  });
  // Columns come and go with the grid set-up; the choice stays.
  connect(view_.model(), &QAbstractItemModel::columnsInserted, this, [this] {
    Apply();
    ApplyHandWidths();
  });
  connect(view_.model(), &QAbstractItemModel::modelReset, this, [this] { Apply(); });
}

bool GridColumns::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: dragging_ = true; break;  // a double-click on an edge sizes the column too
    case QEvent::MouseButtonRelease: dragging_ = false; break;
    default: break;
  }
  return QObject::eventFilter(watched, event);
}

bool GridColumns::shown(int column) const { return !Flag(hidden_, column); }

void GridColumns::setShown(int column, bool shown) {
  if (column < 0 || column >= kMaxColumns || this->shown(column) == shown) return;
  Mark(hidden_, column, !shown);
  Apply();
  emit shownChanged(column, shown);
}

std::vector<int> GridColumns::shownColumns() const {
  std::vector<int> columns;
  const int count = view_.model()->columnCount();
  for (int column = 0; column < count; ++column) {
    if (shown(column)) columns.push_back(column);
  }
  return columns;
}

void GridColumns::Apply() {
  applying_ = true;
  const int count = view_.model()->columnCount();
  for (int column = 0; column < count; ++column) {
    if (view_.isColumnHidden(column) != !shown(column)) view_.setColumnHidden(column, !shown(column));
  }
  applying_ = false;
}

std::string GridColumns::HiddenText(const std::vector<bool>& hidden) {
  std::string text;
  for (std::size_t column = 0; column < hidden.size(); ++column) {
    if (!hidden[column]) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(column);
  }
  return text;
}

std::vector<bool> GridColumns::ParseHidden(const std::string& text) {
  std::vector<bool> hidden;
  std::size_t from = 0;
  while (from <= text.size()) {
    std::size_t end = text.find(',', from);
    if (end == std::string::npos) end = text.size();
    std::string_view item(text.data() + from, end - from);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    int column = -1;
    const auto [rest, error] = std::from_chars(item.data(), item.data() + item.size(), column);
    if (error == std::errc() && rest == item.data() + item.size()) Mark(hidden, column, true);
    from = end + 1;
  }
  return hidden;
}

std::string GridColumns::WidthsText(const std::vector<int>& widths) {
  std::string text;
  for (std::size_t column = 0; column < widths.size(); ++column) {
    if (widths[column] <= 0) continue;
    if (!text.empty()) text += ',';
    text += std::to_string(column) + ':' + std::to_string(widths[column]);
  }
  return text;
}

std::vector<int> GridColumns::ParseWidths(const std::string& text) {
  std::vector<int> widths;
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t end = text.find(',', from);
    if (end == std::string::npos) end = text.size();
    const std::string_view item(text.data() + from, end - from);
    int column = -1;
    int width = 0;
    const char* const last = item.data() + item.size();
    const auto [colon, columnError] = std::from_chars(item.data(), last, column);
    if (columnError == std::errc() && colon != last && *colon == ':') {
      const auto [rest, widthError] = std::from_chars(colon + 1, last, width);
      if (widthError == std::errc() && rest == last && column >= 0 && column < kMaxColumns && width > 0 &&
          width <= kMaxHandWidth) {
        if (widths.size() <= static_cast<std::size_t>(column)) widths.resize(static_cast<std::size_t>(column) + 1, 0);
        widths[static_cast<std::size_t>(column)] = width;
      }
    }
    from = end + 1;
  }
  return widths;
}

void GridColumns::readSettings(const IniFile& ini) {
  hidden_ = ParseHidden(ini.ReadText(kGridSection, kHiddenColumnsKey, ""));
  handWidths_ = ParseWidths(ini.ReadText(kGridSection, kColumnWidthsKey, ""));
  fitAfterCheck_ = ini.ReadText(kGridSection, kFitAfterCheckKey, "1") != "0";
  Apply();
  ApplyHandWidths();
}

void GridColumns::writeSettings(IniFile& ini) const {
  // A file that never had a column hidden, sized by hand or the fit turned
  // off keeps only the window's seven entries.
  const auto write = [&ini](const char* key, const std::string& text, const std::string& unset) {
    if (text == unset && ini.ReadText(kGridSection, key, kAbsent) == kAbsent) return;
    ini.WriteText(kGridSection, key, text);
  };
  write(kHiddenColumnsKey, HiddenText(hidden_), "");
  write(kColumnWidthsKey, WidthsText(handWidths_), "");
  write(kFitAfterCheckKey, fitAfterCheck_ ? "1" : "0", "1");
}

void GridColumns::ApplyHandWidths() {
  applying_ = true;
  const int count = std::min(view_.model()->columnCount(), static_cast<int>(handWidths_.size()));
  for (int column = 0; column < count; ++column) {
    if (setByHand(column)) view_.setColumnWidth(column, handWidths_[static_cast<std::size_t>(column)]);
  }
  applying_ = false;
}

bool GridColumns::setByHand(int column) const {
  return column >= 0 && static_cast<std::size_t>(column) < handWidths_.size() &&
         handWidths_[static_cast<std::size_t>(column)] > 0;
}

void GridColumns::SetHandWidth(int column, int width) {
  if (handWidths_.size() <= static_cast<std::size_t>(column)) handWidths_.resize(static_cast<std::size_t>(column) + 1, 0);
  handWidths_[static_cast<std::size_t>(column)] = width;
}

int GridColumns::ContentWidth(int column, int firstRow, int lastRow) const {
  // As the delegate lays out a cell: the text, the focus frame's margins on
  // both sides and one pixel for the grid line.
  const int margin = 2 * (view_.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view_) + 1) + 1;
  // Fractional widths, as the view lays text out: a width rounded down by
  // less than a pixel still cuts the text.
  const QFontMetricsF metrics(view_.font());
  const auto textWidth = [&metrics, margin](const QString& text) {
    return static_cast<int>(std::ceil(metrics.horizontalAdvance(text))) + margin;
  };
  int width = 0;
  const auto* rows = qobject_cast<const GridRowFilter*>(view_.model());
  for (int row = firstRow; row <= lastRow; ++row) {
    QString text;
    if (rows != nullptr) {
      text = Latin1(rows->grid().gridCellView(column, rows->gridRowOf(row)));
    } else {
      text = view_.model()->index(row, column).data().toString();
    }
    if (!text.isEmpty()) width = std::max(width, textWidth(text));
  }
  if (column == 0 && rows != nullptr) {
    // Rec# as wide as the highest record number, wherever the view is scrolled.
    const QString highest(static_cast<qsizetype>(std::to_string(rows->sourceRows()).size()), QLatin1Char('0'));
    width = std::max(width, textWidth(highest));
  }
  const QString title = view_.model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
  const QHeaderView* header = view_.horizontalHeader();
  const int headerMargin = 2 * view_.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header) + 2;
  const double titleWidth = QFontMetricsF(header->font()).horizontalAdvance(title);
  width = std::max(width, static_cast<int>(std::ceil(titleWidth)) + headerMargin);
  return std::clamp(width, header->minimumSectionSize(), kMaxFitWidth);
}

void GridColumns::fitToContents() {
  handWidths_.clear();
  Fit(false);
}

void GridColumns::fitAfterCheck() {
  if (fitAfterCheck_) Fit(true);
}

void GridColumns::resetWidths() {
  handWidths_.clear();
  applying_ = true;
  const int count = std::min(view_.model()->columnCount(), static_cast<int>(kGridColumns.size()));
  for (int column = 0; column < count; ++column) {
    view_.setColumnWidth(column, kGridColumns[static_cast<std::size_t>(column)].width);
  }
  applying_ = false;
}

void GridColumns::Fit(bool spareHandWidths) {
  const int rows = view_.model()->rowCount();
  const int height = view_.viewport()->height();
  const int firstRow = std::max(view_.rowAt(0), 0);
  int lastRow = view_.rowAt(height - 1);
  if (lastRow < 0) lastRow = rows - 1;  // the rows end above the bottom edge
  // Never more rows than the viewport can hold, whatever it says before it is laid out.
  const int rowHeight = std::max(view_.verticalHeader()->defaultSectionSize(), 1);
  lastRow = std::min({lastRow, rows - 1, firstRow + std::max(height, 0) / rowHeight + 1});
  applying_ = true;
  for (const int column : shownColumns()) {
    if (spareHandWidths && setByHand(column)) continue;
    view_.setColumnWidth(column, ContentWidth(column, firstRow, lastRow));
  }
  applying_ = false;
}

}  // namespace kalvrin
