// The Findings page and its model.
#include "app/findings/findings_page.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <set>
#include <string>

#include "app/findings/result_table.h"
#include "app/widget_helpers.h"
#include "iso/grid_csv.h"

namespace kalvrin {

namespace {
constexpr const char* kTitles[FindingsModel::kColumns] = {"Severity", "Rule", "Record", "Offset", "Element",
                                                          "Message"};
constexpr int kWidths[FindingsModel::kColumns] = {56, 150, 56, 72, 56, 600};

QString ElementText(int element) {
  if (element == kNoFindingElement) return {};
  return QStringLiteral("%1%2").arg(element < 65 ? 'P' : 'S').arg(element);
}
}  // namespace

// --- the model ---------------------------------------------------------------

void FindingsModel::setFindings(std::vector<FindingRow> findings) {
  beginResetModel();
  findings_ = std::move(findings);
  endResetModel();
}

int FindingsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(findings_.size());
}

int FindingsModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant FindingsModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const FindingRow& finding = findings_[static_cast<std::size_t>(index.row())];
  const bool sorting = role == kSortRole;
  if (role != Qt::DisplayRole && !sorting && role != Qt::ToolTipRole) return {};
  switch (index.column()) {
    case kSeverity: return finding.error ? findings_text::kError : findings_text::kWarning;
    case kRule: return Latin1(finding.rule);
    case kRecord:
      if (sorting) return static_cast<qlonglong>(finding.record);
      return finding.record == kNoFindingRecord ? QVariant() : QVariant(static_cast<qlonglong>(finding.record));
    case kOffset:
      if (sorting) return static_cast<qlonglong>(finding.offset);
      return finding.offset == kNoFindingOffset ? QVariant() : QVariant(static_cast<qlonglong>(finding.offset));
    case kElement:
      if (sorting) return finding.element;
      return ElementText(finding.element);
    case kMessage: return Latin1(finding.message);
    default: return {};
  }
}

QVariant FindingsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns) return {};
  return kTitles[section];
}

// --- the filter ----------------------------------------------------------------

void FindingsFilter::setRule(const QString& rule) {
  rule_ = rule;
  invalidateFilter();
}

void FindingsFilter::setSeverity(const QString& severity) {
  severity_ = severity;
  invalidateFilter();
}

bool FindingsFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  const auto* findings = static_cast<const FindingsModel*>(sourceModel());
  const FindingRow& finding = findings->findings()[static_cast<std::size_t>(sourceRow)];
  if (!rule_.isEmpty() && Latin1(finding.rule) != rule_) return false;
  if (!severity_.isEmpty() && severity_ != (finding.error ? findings_text::kError : findings_text::kWarning)) {
    return false;
  }
  return true;
}

// --- the page -------------------------------------------------------------------

FindingsPage::FindingsPage(QWidget* parent) : QWidget(parent) {
  setObjectName("Findings");
  model_ = new FindingsModel(this);
  filter_ = new FindingsFilter(this);
  filter_->setSourceModel(model_);
  filter_->setSortRole(FindingsModel::kSortRole);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 8, 8, 8);
  auto* bar = new QHBoxLayout;
  cmbRule = new QComboBox(this);
  cmbRule->setObjectName("cmbRule");
  cmbRule->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  cmbSeverity = new QComboBox(this);
  cmbSeverity->setObjectName("cmbSeverity");
  cmbSeverity->addItem(findings_text::kAllSeverities, QString());
  cmbSeverity->addItem(findings_text::kError, QString(findings_text::kError));
  cmbSeverity->addItem(findings_text::kWarning, QString(findings_text::kWarning));
  labSummary = new QLabel(this);
  labSummary->setObjectName("labSummary");
  bar->addWidget(cmbRule);
  bar->addWidget(cmbSeverity);
  bar->addWidget(labSummary, 1);
  layout->addLayout(bar);

  FindingsGrid = new QTableView(this);
  FindingsGrid->setObjectName("FindingsGrid");
  SetUpResultTable(*FindingsGrid, *filter_, kWidths);
  layout->addWidget(FindingsGrid, 1);

  connect(cmbRule, &QComboBox::currentIndexChanged, this, [this] {
    filter_->setRule(cmbRule->currentData().toString());
    ShowSummary();
  });
  connect(cmbSeverity, &QComboBox::currentIndexChanged, this, [this] {
    filter_->setSeverity(cmbSeverity->currentData().toString());
    ShowSummary();
  });
  BuildActions();
  auto* exportButton = new QToolButton(this);
  exportButton->setObjectName("btnExportFindings");
  exportButton->setDefaultAction(ExportFindings);
  bar->addWidget(exportButton);

  connect(FindingsGrid, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& index) {
    const QModelIndex source = filter_->mapToSource(index);
    if (!source.isValid()) return;
    const FindingRow& finding = model_->findings()[static_cast<std::size_t>(source.row())];
    emit findingActivated(finding.record, finding.element);
  });
  FillRules();
}

void FindingsPage::BuildActions() {
  CopyFindings = new QAction(findings_text::kCopy, FindingsGrid);
  CopyFindings->setObjectName("CopyFindings");
  CopyFindings->setShortcut(QKeySequence::Copy);
  CopyFindings->setShortcutContext(Qt::WidgetShortcut);
  connect(CopyFindings, &QAction::triggered, this,
          [this] { QGuiApplication::clipboard()->setText(selectionAsTsv()); });
  ExportFindings = new QAction(findings_text::kExport, this);
  ExportFindings->setObjectName("ExportFindings");
  connect(ExportFindings, &QAction::triggered, this, &FindingsPage::exportRequested);
  FindingsGrid->addAction(CopyFindings);
  FindingsGrid->addAction(ExportFindings);
  FindingsGrid->setContextMenuPolicy(Qt::ActionsContextMenu);
}

std::vector<std::vector<QString>> FindingsPage::ShownTexts(bool selectedOnly) const {
  return ShownTableTexts(*FindingsGrid, kTitles, selectedOnly);
}

QString FindingsPage::selectionAsTsv() const { return TableTextsAsTsv(ShownTexts(true)); }

QString FindingsPage::exportCsv(const QString& path) const {
  return WriteTableTextsCsv(ShownTexts(false), path, findings_text::kCannotWrite);
}

bool FindingsPage::run(const VerifyRunner& runner, const std::string& path, const std::string& key,
                       const VerifyControl& control) {
  FindingsRun result = runner(path, key, control);
  const bool read = result.read;
  show(std::move(result), path);
  return read;
}

void FindingsPage::show(FindingsRun run, const std::string& path) {
  path_ = path;
  model_->setFindings(std::move(run.findings));
  run.findings.clear();
  last_ = std::move(run);
  FillRules();
  ShowSummary();
}

void FindingsPage::clear() { show(FindingsRun{}, {}); }

void FindingsPage::FillRules() {
  const QString chosen = cmbRule->currentData().toString();
  std::set<std::string> rules;
  for (const FindingRow& finding : model_->findings()) rules.insert(finding.rule);
  const QSignalBlocker quiet(cmbRule);
  cmbRule->clear();
  cmbRule->addItem(findings_text::kAllRules, QString());
  for (const std::string& rule : rules) cmbRule->addItem(Latin1(rule), Latin1(rule));
  const int at = cmbRule->findData(chosen);
  cmbRule->setCurrentIndex(at >= 0 ? at : 0);
  filter_->setRule(cmbRule->currentData().toString());
}

void FindingsPage::ShowSummary() {
  long long errors = 0;
  for (const FindingRow& finding : model_->findings()) errors += finding.error ? 1 : 0;
  const long long warnings = static_cast<long long>(model_->findings().size()) - errors;
  QString text;
  if (path_.empty()) {
    text.clear();
  } else if (!last_.read) {
    text = QString(findings_text::kNotRead).arg(Latin1(last_.error));
  } else if (last_.stopped) {
    text = QString(findings_text::kStopped).arg(errors).arg(warnings);
  } else if (errors + warnings == 0) {
    text = findings_text::kNone;
  } else if (filter_->rowCount() != model_->rowCount()) {
    text = QString(findings_text::kShown).arg(errors).arg(warnings).arg(filter_->rowCount());
  } else {
    text = QString(findings_text::kCounts).arg(errors).arg(warnings);
  }
  if (!text.isEmpty() && last_.read && !last_.note.empty()) text += "; " + Latin1(last_.note);
  labSummary->setText(text);
}

}  // namespace kalvrin
