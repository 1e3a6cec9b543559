// The Differences page and its model.
#include "app/differences/differences_page.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QRegularExpression>
#include <QTableView>
#include <QVBoxLayout>

#include "app/findings/result_table.h"
#include "app/widget_helpers.h"

namespace kalvrin {

namespace {

using compare::Change;
using compare::Difference;

constexpr const char* kTitles[DifferencesModel::kColumns] = {"Change", "Old record", "New record", "Old offset",
                                                             "New offset", "Element", "Old", "New", "Key"};
constexpr int kWidths[DifferencesModel::kColumns] = {72, 64, 64, 72, 72, 56, 160, 160, 300};
constexpr Change kChanges[] = {Change::LineEnds, Change::Envelope, Change::Removed, Change::Added,
                               Change::Moved,    Change::Changed,  Change::Unreadable};

QVariant Number(std::int64_t value, std::int64_t none, bool sorting) {
  if (sorting) return static_cast<qlonglong>(value);
  return value == none ? QVariant() : QVariant(static_cast<qlonglong>(value));
}

QString ElementText(const Difference& difference) {
  if (difference.change == Change::Envelope) return Latin1(difference.field);
  if (difference.element == compare::kNoElement) return {};
  return Latin1(verify::ElementName(difference.element));
}

std::int64_t CountOf(const compare::Summary& summary, Change change) {
  switch (change) {
    case Change::LineEnds: return summary.lineEnds;
    case Change::Envelope: return summary.envelope;
    case Change::Removed: return summary.removed;
    case Change::Added: return summary.added;
    case Change::Moved: return summary.moved;
    case Change::Changed: return summary.changed;
    case Change::Unreadable: break;
  }
  return summary.unreadable;
}

class Gathering final : public compare::DifferenceSink {
 public:
  explicit Gathering(std::vector<Difference>& into) : into_(into) {}
  void OnDifference(const Difference& difference) override { into_.push_back(difference); }

 private:
  std::vector<Difference>& into_;
};

}  // namespace

// --- the model ---------------------------------------------------------------

void DifferencesModel::setDifferences(std::vector<Difference> differences) {
  beginResetModel();
  differences_ = std::move(differences);
  endResetModel();
}

int DifferencesModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(differences_.size());
}

int DifferencesModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant DifferencesModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Difference& d = differences_[static_cast<std::size_t>(index.row())];
  const bool sorting = role == kSortRole;
  if (role != Qt::DisplayRole && !sorting && role != Qt::ToolTipRole) return {};
  auto value = [&d, sorting](const std::optional<std::string>& text) -> QVariant {
    if (!text) return {};
    if (d.change == Change::Moved && sorting) return QString::fromLatin1(text->c_str()).toLongLong();
    return Latin1(*text);
  };
  switch (index.column()) {
    case kChange: return Latin1(std::string(compare::ChangeName(d.change)));
    case kOldRecord: return Number(d.oldRecord, compare::kNoRecord, sorting);
    case kNewRecord: return Number(d.newRecord, compare::kNoRecord, sorting);
    case kOldOffset: return Number(d.oldOffset, compare::kNoOffset, sorting);
    case kNewOffset: return Number(d.newOffset, compare::kNoOffset, sorting);
    case kElement:
      if (sorting && d.change != Change::Envelope) return d.element;
      return ElementText(d);
    case kOld: return value(d.oldValue);
    case kNew: return value(d.newValue);
    case kKey: return Latin1(d.key);
    default: return {};
  }
}

QVariant DifferencesModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns) return {};
  return kTitles[section];
}

// --- the page -------------------------------------------------------------------

DifferencesPage::DifferencesPage(QWidget* parent) : QWidget(parent) {
  setObjectName("Differences");
  model_ = new DifferencesModel(this);
  filter_ = new QSortFilterProxyModel(this);
  filter_->setSourceModel(model_);
  filter_->setSortRole(DifferencesModel::kSortRole);
  filter_->setFilterKeyColumn(DifferencesModel::kChange);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  auto* bar = new QHBoxLayout;
  cmbChange = new QComboBox(this);
  cmbChange->setObjectName("cmbChange");
  cmbChange->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cmbChange->addItem(differences_text::kAllChanges, QString());
  for (const Change change : kChanges) {
    const QString name = Latin1(std::string(compare::ChangeName(change)));
    cmbChange->addItem(name, name);
  }
  labSummary = new QLabel(this);
  labSummary->setObjectName("labDifferencesSummary");
  bar->addWidget(cmbChange);
  bar->addWidget(labSummary, 1);
  layout->addLayout(bar);

  DifferencesGrid = new QTableView(this);
  DifferencesGrid->setObjectName("DifferencesGrid");
  SetUpResultTable(*DifferencesGrid, *filter_, kWidths);
  layout->addWidget(DifferencesGrid, 1);

  connect(cmbChange, &QComboBox::currentIndexChanged, this, [this] {
    const QString change = cmbChange->currentData().toString();
    filter_->setFilterRegularExpression(change.isEmpty() ? QRegularExpression()
                                                         : QRegularExpression("^" + QRegularExpression::escape(change) + "$"));
    ShowSummary();
  });
  CopyDifferences = new QAction(differences_text::kCopy, DifferencesGrid);
  CopyDifferences->setObjectName("CopyDifferences");
  CopyDifferences->setShortcut(QKeySequence::Copy);
  CopyDifferences->setShortcutContext(Qt::WidgetShortcut);
  connect(CopyDifferences, &QAction::triggered, this,
          [this] { QGuiApplication::clipboard()->setText(selectionAsTsv()); });
  DifferencesGrid->addAction(CopyDifferences);
  DifferencesGrid->setContextMenuPolicy(Qt::ActionsContextMenu);

  // The old file's columns open the old file's message; the others the new
  // file's, or the old one's for a record that has no new side.
  connect(DifferencesGrid, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    const QModelIndex source = filter_->mapToSource(index);
    if (!source.isValid()) return;
    const Difference& d = model_->differences()[static_cast<std::size_t>(source.row())];
    const int column = source.column();
    const bool oldColumn =
        column == DifferencesModel::kOldRecord || column == DifferencesModel::kOldOffset || column == DifferencesModel::kOld;
    const bool old = d.newRecord == compare::kNoRecord || (oldColumn && d.oldRecord != compare::kNoRecord);
    const std::int64_t record = old ? d.oldRecord : d.newRecord;
    if (record == compare::kNoRecord) return;
    emit differenceActivated(old, record, old ? d.oldOffset : d.newOffset, d.element);
  });
}

QString DifferencesPage::selectionAsTsv() const {
  return TableTextsAsTsv(ShownTableTexts(*DifferencesGrid, kTitles, true));
}

void DifferencesPage::show(DifferencesRun run) {
  model_->setDifferences(std::move(run.differences));
  run.differences.clear();
  last_ = std::move(run);
  ShowSummary();
  emit captionChanged(caption());
}

void DifferencesPage::clear() { show(DifferencesRun{}); }

QString DifferencesPage::caption() const {
  if (!last_.read || last_.stopped) return differences_text::kCaption;
  QStringList counts;
  for (const Change change : kChanges) {
    const std::int64_t count = CountOf(last_.summary, change);
    if (count != 0) counts << QStringLiteral("%1 %2").arg(count).arg(Latin1(std::string(compare::ChangeName(change))));
  }
  if (counts.isEmpty()) return differences_text::kCaption;
  return QString(differences_text::kCaptionCounts).arg(counts.join(QStringLiteral(", ")));
}

void DifferencesPage::ShowSummary() {
  const compare::Summary& s = last_.summary;
  QString text;
  if (last_.oldPath.empty()) {
    text.clear();
  } else if (!last_.read) {
    text = QString(differences_text::kNotRead).arg(Latin1(last_.error));
  } else if (last_.stopped) {
    text = differences_text::kStopped;
  } else if (s.Records() == 0) {
    text = QString(differences_text::kNone).arg(s.pairs);
  } else {
    text = QString(differences_text::kCounts).arg(s.oldMessages).arg(s.newMessages).arg(s.pairs).arg(s.equal);
    if (filter_->rowCount() != model_->rowCount()) text += QStringLiteral(" (%1 shown)").arg(filter_->rowCount());
  }
  labSummary->setText(text);
}

DifferencesRun CompareForPage(const std::string& oldPath, const std::string& newPath, bool maskCardNumbers,
                              const verify::ProgressCallback& progress) {
  DifferencesRun run;
  run.oldPath = oldPath;
  run.newPath = newPath;
  compare::CompareOptions options;
  options.maskCardNumbers = maskCardNumbers;
  options.progress = progress;
  Gathering sink(run.differences);
  const compare::CompareResult result = compare::CompareFiles(oldPath, newPath, options, sink);
  run.read = result.read;
  run.stopped = result.stopped;
  run.summary = result.summary;
  if (!result.read) run.error = result.errorPath + ": " + result.error;
  // A stopped comparison's records are of a part of the files: none is kept.
  if (run.stopped) run.differences.clear();
  return run;
}

}  // namespace kalvrin
