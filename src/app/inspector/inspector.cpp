// The message inspector: decoding on selection, the element table and the
// hex view with its highlight.
#include "app/inspector/inspector.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSplitter>
#include <QTableView>
#include <QTextBlock>
#include <QVBoxLayout>

#include <algorithm>

#include "app/inspector/chip_rows.h"
#include "app/widget_helpers.h"
#include "iso/pan_mask.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {

// The hex view: a line of 16 bytes is the offset of its first byte (10 hex
// digits), the bytes in hex, then the bytes as characters.
constexpr int kBytesPerLine = 16;
constexpr int kHexColumn = 12;
constexpr int kCharColumn = kHexColumn + 3 * kBytesPerLine + 1;
constexpr int kLineStride = kCharColumn + kBytesPerLine + 1;  // with the line end
// A message holds at most 36 + 128 x 1002 characters; control characters
// inside it are not bounded, so the view stops somewhere.
constexpr std::int64_t kMaxShownBytes = 256 * 1024;
constexpr int kRowHeight = 14;
constexpr int kMaxValueWidth = 240;
constexpr int kMinElementGridWidth = 300;
const QColor kHighlight(255, 214, 102);
const QColor kErrorText(255, 0, 0);

// The value last: it may be long.
enum Column { kPartColumn, kTitleColumn, kFormatColumn, kPrefixColumn, kLengthColumn, kOffsetColumn,
              kBytesColumn, kValueColumn, kColumnCount };
constexpr const char* kColumnTitles[kColumnCount] = {"Element", "Title", "Format", "Prefix", "Length", "Offset",
                                                     "Bytes", "Value"};

// The grid's title for the element: its own column, or the column it shares.
std::string TitleOf(int element) {
  const int column = kElementColumns[static_cast<std::size_t>(element)];
  if (column < 0) return {};
  const GridColumn& shown = kGridColumns[static_cast<std::size_t>(column)];
  if (shown.element == element) return std::string(shown.title);
  return "in " + std::string(shown.title);
}

std::vector<InspectedPart> PartsOf(const DecodedMessage& message) {
  std::vector<InspectedPart> parts;
  auto fixedPart = [&](int part, const char* label, std::string_view title, const std::string& value, FileSpan span) {
    if (span.offset < 0) return;
    parts.push_back({part, label, std::string(title), "fixed", {}, std::to_string(value.size()), value, span});
  };
  fixedPart(kMtiPart, "MTI", kGridColumns[kTCodeColumn].title, message.mti, message.mtiSpan);
  fixedPart(kPrimaryMapPart, "PMAP", kGridColumns[kPrimaryMapColumn].title, message.primaryBitmap, message.primarySpan);
  fixedPart(kSecondaryMapPart, "SMAP", kGridColumns[kSecondaryMapColumn].title, message.secondaryBitmap,
            message.secondarySpan);
  for (const DecodedElement& element : message.elements) {
    const bool badPrefix = !element.complete && message.stop == DecodeStop::BadPrefix;
    parts.push_back({element.number, (element.number < 65 ? "P" : "S") + std::to_string(element.number),
                     TitleOf(element.number), std::string(FormatName(element.format)), element.prefix,
                     badPrefix ? "?" : std::to_string(element.length), element.value, element.span});
  }
  return parts;
}

char Shown(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte < 0x7F ? c : '.';
}

}  // namespace

// ---- the element table ---------------------------------------------------

void ElementListModel::setParts(std::vector<InspectedPart> parts) {
  beginResetModel();
  parts_ = std::move(parts);
  endResetModel();
}

int ElementListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(parts_.size());
}

int ElementListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QVariant ElementListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const InspectedPart& part = parts_[static_cast<std::size_t>(index.row())];
  if (role == Qt::TextAlignmentRole && (index.column() == kLengthColumn || index.column() == kBytesColumn)) {
    return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case kPartColumn: return Latin1(part.label);
    case kTitleColumn: return Latin1(part.title);
    case kFormatColumn: return Latin1(part.format);
    case kPrefixColumn: return Latin1(part.prefix);
    case kLengthColumn: return Latin1(part.length);
    case kValueColumn: return Latin1(part.value);
    case kOffsetColumn: return Latin1(OffsetText(part.span.offset));
    case kBytesColumn: return QString::number(part.span.bytes);
    default: return {};
  }
}

QVariant ElementListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumnCount) return {};
  return QString::fromLatin1(kColumnTitles[section]);
}

// ---- the inspector ---------------------------------------------------------

MessageInspector::MessageInspector(QWidget* parent) : QWidget(parent) {
  setObjectName("Inspector");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 2, 0, 0);
  layout->setSpacing(2);
  labMessage = new QLabel(this);
  labMessage->setObjectName("labMessage");
  labMessage->setTextFormat(Qt::PlainText);
  labMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(labMessage);

  panes_ = new QSplitter(Qt::Horizontal, this);
  panes_->setObjectName("InspectorPanes");
  parts_ = new ElementListModel(this);
  ElementGrid = new QTableView(panes_);
  ElementGrid->setObjectName("ElementGrid");
  ElementGrid->setModel(parts_);
  ElementGrid->setSelectionBehavior(QAbstractItemView::SelectRows);
  ElementGrid->setSelectionMode(QAbstractItemView::SingleSelection);
  ElementGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ElementGrid->setWordWrap(false);
  ElementGrid->verticalHeader()->hide();
  ElementGrid->verticalHeader()->setMinimumSectionSize(1);
  ElementGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ElementGrid->verticalHeader()->setDefaultSectionSize(std::max(kRowHeight, fontMetrics().height() + 2));
  ElementGrid->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ElementGrid->horizontalHeader()->setHighlightSections(false);
  connect(ElementGrid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { onCurrentPartChanged(current); });

  HexView = new QPlainTextEdit(panes_);
  HexView->setObjectName("HexView");
  HexView->setReadOnly(true);
  HexView->setLineWrapMode(QPlainTextEdit::NoWrap);
  HexView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  HexView->setFont(FixedPitchFont(font()));
  panes_->addWidget(ElementGrid);
  panes_->addWidget(HexView);
  connect(panes_, &QSplitter::splitterMoved, this, [this] { panesMoved_ = true; });
  panes_->setStretchFactor(0, 1);
  panes_->setStretchFactor(1, 1);
  layout->addWidget(panes_, 1);
  clear();
}

void MessageInspector::clear() {
  message_ = {};
  path_.clear();
  record_ = 0;
  shownFrom_ = 0;
  shownBytes_ = 0;
  highlighted_ = {};
  parts_->setParts({});
  HexView->setExtraSelections({});
  HexView->clear();
  labMessage->setStyleSheet({});
  labMessage->setText(inspector_text::kNoMessage);
}

void MessageInspector::showFileChanged(int record) {
  clear();
  record_ = record;
  labMessage->setStyleSheet(QStringLiteral("color: %1;").arg(kErrorText.name()));
  labMessage->setText(QString::fromLatin1(inspector_text::kFileChanged));
}

void MessageInspector::showRefusal(const QString& text) {
  clear();
  labMessage->setStyleSheet(QStringLiteral("color: %1;").arg(kErrorText.name()));
  labMessage->setText(text);
}

void MessageInspector::addNote(const QString& note) { labMessage->setText(labMessage->text() + QLatin1Char('\n') + note); }

void MessageInspector::showMessage(const std::string& path, int record, std::int64_t offset) {
  MessageReader reader(path);
  message_ = reader.Decode(offset);
  path_ = path;
  record_ = record;
  highlighted_ = {};
  HexView->setExtraSelections({});
  DecodedMessage shown = message_;
  if (maskCardNumbers_) MaskCardNumbers(shown);
  std::vector<InspectedPart> parts = PartsOf(shown);
  AddChipDataRows(parts, message_, reader, maskCardNumbers_);
  parts_->setParts(std::move(parts));
  ElementGrid->resizeColumnsToContents();
  if (ElementGrid->columnWidth(kValueColumn) > kMaxValueWidth) ElementGrid->setColumnWidth(kValueColumn, kMaxValueWidth);
  showHead();
  const std::int64_t count = std::min(message_.span.bytes, kMaxShownBytes);
  std::string bytes = count > 0 ? reader.ReadBytes(message_.span.offset, static_cast<std::size_t>(count)) : std::string();
  if (maskCardNumbers_) MaskCardNumberBytes(message_, message_.span.offset, bytes);
  showBytes(bytes);
}

void MessageInspector::setMaskCardNumbers(bool mask) {
  if (mask == maskCardNumbers_) return;
  maskCardNumbers_ = mask;
  if (record_ <= 0 || message_.span.offset < 0) return;  // nothing decoded on show
  const QModelIndex current = ElementGrid->currentIndex();
  const int part = current.isValid() ? parts_->parts()[static_cast<std::size_t>(current.row())].part : kMtiPart;
  showMessage(path_, record_, message_.span.offset);
  selectPart(part);
}

void MessageInspector::showHead() {
  using namespace inspector_text;
  QString head = QString::fromLatin1(kMessageHead)
                     .arg(record_)
                     .arg(Latin1(OffsetText(message_.span.offset)))
                     .arg(message_.span.bytes)
                     .arg(Latin1(message_.mti));
  QString problem;
  switch (message_.stop) {
    case DecodeStop::Complete: break;
    case DecodeStop::BadPrefix:
      problem = QString::fromLatin1(kBadPrefix).arg(Latin1(message_.error), Latin1(OffsetText(message_.errorOffset)));
      break;
    case DecodeStop::EndOfFile: problem = QString::fromLatin1(kEndOfFile).arg(Latin1(OffsetText(message_.errorOffset))); break;
    case DecodeStop::NoMessage: problem = QString::fromLatin1(kNotThere).arg(Latin1(OffsetText(message_.span.offset))); break;
    case DecodeStop::CannotRead: problem = QString::fromLatin1(kCannotRead); break;
  }
  labMessage->setStyleSheet(problem.isEmpty() ? QString() : QStringLiteral("color: %1;").arg(kErrorText.name()));
  labMessage->setText(problem.isEmpty() ? head : head + QLatin1Char('\n') + problem);
}

void MessageInspector::showBytes(const std::string& bytes) {
  shownFrom_ = message_.span.offset;
  shownBytes_ = static_cast<std::int64_t>(bytes.size());
  QString text;
  text.reserve(static_cast<qsizetype>((bytes.size() / kBytesPerLine + 2) * kLineStride));
  for (std::size_t first = 0; first < bytes.size(); first += kBytesPerLine) {
    const std::size_t count = std::min<std::size_t>(kBytesPerLine, bytes.size() - first);
    QString line = QStringLiteral("%1  ").arg(shownFrom_ + static_cast<std::int64_t>(first), 10, 16, QLatin1Char('0')).toUpper();
    QString chars;
    for (std::size_t i = 0; i < count; ++i) {
      const auto byte = static_cast<unsigned char>(bytes[first + i]);
      line += QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
      chars += QLatin1Char(Shown(bytes[first + i]));
    }
    line = line.leftJustified(kCharColumn, QLatin1Char(' '));
    if (first > 0) text += QLatin1Char('\n');
    text += line + chars;
  }
  if (message_.span.bytes > shownBytes_) {
    text += QLatin1Char('\n') + QString::fromLatin1(inspector_text::kMoreBytes).arg(message_.span.bytes - shownBytes_);
  }
  HexView->setPlainText(text);
}

// Until the user places the panes, the hex view gets room for whole lines
// when the element table keeps enough beside it.
void MessageInspector::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int width = event->size().width();
  if (panesMoved_ || width <= 0) return;
  const int hexWidth = QFontMetrics(HexView->font()).horizontalAdvance(QString(kLineStride, QLatin1Char('0'))) +
                       HexView->verticalScrollBar()->sizeHint().width() + 2 * HexView->frameWidth();
  if (width - hexWidth >= kMinElementGridWidth) {
    panes_->setSizes({width - hexWidth, hexWidth});
  } else {
    panes_->setSizes({width / 2, width - width / 2});
  }
}

bool MessageInspector::selectPart(int part) {
  const std::vector<InspectedPart>& parts = parts_->parts();
  const auto found = std::find_if(parts.begin(), parts.end(), [part](const InspectedPart& p) { return p.part == part; });
  if (found == parts.end()) return false;
  const int row = static_cast<int>(found - parts.begin());
  ElementGrid->setCurrentIndex(parts_->index(row, kPartColumn));
  ElementGrid->scrollTo(parts_->index(row, kPartColumn));
  highlight(found->span);  // also when the line was current already
  return true;
}

void MessageInspector::onCurrentPartChanged(const QModelIndex& current) {
  if (!current.isValid() || current.row() >= static_cast<int>(parts_->parts().size())) return;
  highlight(parts_->parts()[static_cast<std::size_t>(current.row())].span);
}

// One selection for the hex digits and one for the characters on each line
// the span touches.
void MessageInspector::highlight(FileSpan span) {
  highlighted_ = span;
  QList<QTextEdit::ExtraSelection> selections;
  const std::int64_t first = std::max(span.offset, shownFrom_) - shownFrom_;
  const std::int64_t end = std::min(span.offset + span.bytes, shownFrom_ + shownBytes_) - shownFrom_;
  QTextCharFormat marked;
  marked.setBackground(kHighlight);
  for (std::int64_t at = first; at < end;) {
    const std::int64_t line = at / kBytesPerLine;
    const std::int64_t lineEnd = std::min(end, (line + 1) * kBytesPerLine);
    const auto from = static_cast<int>(at - line * kBytesPerLine);
    const auto to = static_cast<int>(lineEnd - line * kBytesPerLine);  // one past the last byte
    const auto lineStart = static_cast<int>(line * kLineStride);
    for (const auto& [start, stop] : {std::pair{kHexColumn + 3 * from, kHexColumn + 3 * to - 1},
                                      std::pair{kCharColumn + from, kCharColumn + to}}) {
      QTextEdit::ExtraSelection selection;
      selection.format = marked;
      selection.cursor = QTextCursor(HexView->document());
      selection.cursor.setPosition(lineStart + start);
      selection.cursor.setPosition(lineStart + stop, QTextCursor::KeepAnchor);
      selections.append(selection);
    }
    at = lineEnd;
  }
  HexView->setExtraSelections(selections);
  if (!selections.isEmpty()) {
    QTextCursor cursor = selections.front().cursor;
    cursor.setPosition(cursor.selectionStart());
    HexView->setTextCursor(cursor);
    HexView->ensureCursorVisible();
  }
}

}  // namespace kalvrin
