// The Summary page's figures and charts, rebuilt for each verify.
#include "app/summary/summary_page.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QScrollArea>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "report/summary.h"

namespace kalvrin {

namespace {

struct BarSet {
  QString name;
  std::vector<qreal> values;
};

qreal Value(verify::Sum sum) { return static_cast<qreal>(static_cast<long double>(sum)); }

QString Latin1(const std::string& text) { return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())); }

// A bar chart of one or more sets over the categories; its sets, for their clicks.
QChart* BarChart(const QString& title, const QStringList& categories, const std::vector<BarSet>& sets,
                 std::vector<QBarSet*>& made) {
  auto* chart = new QChart;
  chart->setTitle(title);
  auto* series = new QBarSeries;
  for (const BarSet& set : sets) {
    auto* bars = new QBarSet(set.name);
    for (const qreal value : set.values) bars->append(value);
    series->append(bars);
    made.push_back(bars);
  }
  chart->addSeries(series);
  auto* axisX = new QBarCategoryAxis;
  axisX->append(categories);
  axisX->setLabelsVisible(categories.size() <= 24);
  chart->addAxis(axisX, Qt::AlignBottom);
  series->attachAxis(axisX);
  auto* axisY = new QValueAxis;
  axisY->setLabelFormat("%.0f");
  chart->addAxis(axisY, Qt::AlignLeft);
  series->attachAxis(axisY);
  // whole steps: a count of three reads 0 1 2 3, not 0 0.75 1.5
  qreal top = 1;
  for (const BarSet& set : sets) {
    for (const qreal value : set.values) top = std::max(top, value);
  }
  axisY->setRange(0, top);
  if (top < 5) {
    axisY->setTickCount(static_cast<int>(top) + 1);
  } else {
    axisY->applyNiceNumbers();
  }
  chart->legend()->setVisible(sets.size() > 1);
  return chart;
}

QString Figures(const report::FileSummary& summary) {
  const auto& id = summary.identity;
  QStringList lines;
  lines << QString("%1: %2 bytes").arg(QString::fromLocal8Bit(id.path.c_str())).arg(id.size) +
               (id.modified.empty() ? QString() : ", modified " + Latin1(id.modified));
  lines << "SHA-256 " + (id.sha256.empty() ? QString("not computed: Tool > Verify reads the whole file for it")
                                            : Latin1(id.sha256));
  lines << QString("%1 messages in %2 batch(es); %3 error(s), %4 warning(s)")
               .arg(summary.verify.messages)
               .arg(summary.batchCount)
               .arg(summary.verify.errors)
               .arg(summary.verify.warnings);
  lines << QString("MAC method %1, version %2, check value %3, declared MAC %4: %5")
               .arg(Latin1(summary.envelope.method), Latin1(summary.envelope.version), Latin1(summary.envelope.checkValue),
                    Latin1(summary.envelope.declaredMac), Latin1(summary.mac.text));
  return lines.join('\n');
}

}  // namespace

SummaryPage::SummaryPage(QWidget* parent) : QWidget(parent) {
  setObjectName("Summary");
  auto* layout = new QVBoxLayout(this);
  labFigures = new QLabel(summary_text::kEmpty, this);
  labFigures->setObjectName("labFigures");
  labFigures->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(labFigures);
  auto* scroll = new QScrollArea(this);
  scroll->setWidgetResizable(true);
  charts_ = new QWidget;
  new QGridLayout(charts_);
  scroll->setWidget(charts_);
  layout->addWidget(scroll, 1);
}

void SummaryPage::showSummary(std::shared_ptr<const report::FileSummary> summary) {
  summary_ = std::move(summary);
  Rebuild();
}

void SummaryPage::clear() { showSummary(nullptr); }

QChartView* SummaryPage::chart(const char* name) const { return charts_->findChild<QChartView*>(name); }

QChartView* SummaryPage::AddChart(const char* name, QWidget* view) {
  auto* grid = static_cast<QGridLayout*>(charts_->layout());
  const int at = grid->count();
  grid->addWidget(view, at / 2, at % 2);
  auto* chartView = static_cast<QChartView*>(view);
  chartView->setObjectName(name);
  chartView->setMinimumSize(360, 260);
  chartView->setContextMenuPolicy(Qt::ActionsContextMenu);
  auto* copy = new QAction(summary_text::kCopyChart, chartView);
  copy->setObjectName("CopyChart");
  connect(copy, &QAction::triggered, chartView,
          [chartView] { QGuiApplication::clipboard()->setImage(chartView->grab().toImage()); });
  chartView->addAction(copy);
  return chartView;
}

void SummaryPage::Rebuild() {
  // a click on a bar may lead here while the click is still being handled: the old charts go later
  const QList<QChartView*> old = charts_->findChildren<QChartView*>(Qt::FindDirectChildrenOnly);
  for (QChartView* view : old) {
    view->hide();
    view->setParent(nullptr);
    view->deleteLater();
  }
  if (!summary_) {
    labFigures->setText(summary_text::kEmpty);
    return;
  }
  const report::FileSummary& summary = *summary_;
  labFigures->setText(Figures(summary));
  std::vector<QBarSet*> sets;

  QStringList mtis;
  BarSet messages{"messages", {}};
  for (const auto& [mti, count] : summary.verify.messagesByType) {
    mtis << Latin1(mti);
    messages.values.push_back(static_cast<qreal>(count));
  }
  AddChart(kSummaryCharts[0], new QChartView(BarChart("Messages by MTI", mtis, {messages}, sets)));

  QStringList batches;
  BarSet credits{"credits", {}};
  BarSet debits{"debits", {}};
  for (const auto& bar : summary.batchBars) {
    batches << (bar.firstBatch == bar.lastBatch ? QString::number(bar.firstBatch)
                                                : QString("%1-%2").arg(bar.firstBatch).arg(bar.lastBatch));
    credits.values.push_back(Value(bar.credits));
    debits.values.push_back(Value(bar.debits));
  }
  sets.clear();
  AddChart(kSummaryCharts[1], new QChartView(BarChart("Amount per batch", batches, {credits, debits}, sets)));
  std::vector<qint64> firstRecords;
  for (const auto& bar : summary.batchBars) firstRecords.push_back(bar.firstRecord);
  for (QBarSet* set : sets) {
    connect(set, &QBarSet::clicked, this, [this, firstRecords](int index) {
      if (index >= 0 && static_cast<std::size_t>(index) < firstRecords.size()) emit batchChosen(firstRecords[index]);
    });
  }

  const auto& totals = summary.fileTotals.values;
  sets.clear();
  AddChart(kSummaryCharts[2],
           new QChartView(BarChart("Credits against debits (amounts)", {"credits", "debits"},
                                   {{"amount", {Value(totals[verify::kCreditAmount]), Value(totals[verify::kDebitAmount])}}},
                                   sets)));

  QStringList currencies;
  BarSet creditAmounts{"credits", {}};
  BarSet debitAmounts{"debits", {}};
  for (const auto& [code, currency] : summary.currencies) {
    currencies << (code.empty() ? QString("none") : Latin1(code));
    creditAmounts.values.push_back(Value(currency.totals.values[verify::kCreditAmount]));
    debitAmounts.values.push_back(Value(currency.totals.values[verify::kDebitAmount]));
  }
  sets.clear();
  AddChart(kSummaryCharts[3],
           new QChartView(BarChart("Amounts by currency", currencies, {creditAmounts, debitAmounts}, sets)));

  QStringList rules;
  BarSet found{"findings", {}};
  for (const report::RuleFigures& rule : summary.rules) {
    if (rule.count == 0) continue;
    rules << QString::fromLatin1(rule.info.id.data(), static_cast<qsizetype>(rule.info.id.size()));
    found.values.push_back(static_cast<qreal>(rule.count));
  }
  sets.clear();
  AddChart(kSummaryCharts[4], new QChartView(BarChart("Findings by rule", rules, {found}, sets)));
  for (QBarSet* set : sets) {
    connect(set, &QBarSet::clicked, this, [this, rules](int index) {
      if (index >= 0 && index < rules.size()) emit ruleChosen(rules[index]);
    });
  }

  QStringList bins;
  BarSet along{"findings", {}};
  const report::RecordHistogram& histogram = summary.findingsAlongFile;
  for (std::size_t i = 0; i < histogram.bins.size(); ++i) {
    const qint64 first = static_cast<qint64>(i) * histogram.width + 1;
    if (first > std::max<qint64>(summary.verify.messages, 1)) break;
    bins << QString::number(first);
    along.values.push_back(static_cast<qreal>(histogram.bins[i]));
  }
  sets.clear();
  AddChart(kSummaryCharts[5], new QChartView(BarChart("Findings along the file (by record)", bins, {along}, sets)));
}

}  // namespace kalvrin
