// The Summary page, offscreen: filled by Tool > Verify with a chart per
// figure and a bar per batch, MTI and rule; a click on a batch's bar selects
// the batch's first message in the grid, one on a rule's bar filters the
// Findings page to it; Tool > Save report... writes the HTML report and a
// chart copies as an image.
#include <QAction>
#include <QApplication>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "report/summary.h"
#include "support/test_files.h"
#include "support/window_start.h"
#include "testgen/filegen.h"

using namespace kalvrin;

namespace {

using Started = test::StartedWindow;

Started Start(const QTemporaryDir& dir) { return test::StartWindow(dir); }

QString Generated(const QTemporaryDir& dir, std::vector<filegen::Fault> faults = {}, std::uint64_t* messages = nullptr) {
  const QString path = dir.filePath("batch.dat");
  filegen::FileOptions options;
  options.size = 60 * 1024;
  options.seed = 27;
  options.faults = std::move(faults);
  filegen::FileSummary made;
  filegen::WriteGeneratedFile(path.toStdString(), options, &made);
  if (messages != nullptr) *messages = made.messages;
  return path;
}

QBarSeries* Bars(QChartView* view) {
  if (view == nullptr || view->chart()->series().isEmpty()) return nullptr;
  return qobject_cast<QBarSeries*>(view->chart()->series().front());
}

// Clicks the middle of a bar of the chart's first set.
void ClickBar(QChartView* view, int index) {
  QBarSeries* series = Bars(view);
  QBarSet* set = series->barSets().front();
  const QPointF inChart = view->chart()->mapToPosition(QPointF(index, set->at(index) / 2), series);
  const QPoint at = view->mapFromScene(view->chart()->mapToScene(inChart));
  // the sets' bars share half of the category's width: the first stands left of its middle
  const qreal category = view->chart()->plotArea().width() / static_cast<qreal>(std::max<qsizetype>(1, set->count()));
  const qreal sets = static_cast<qreal>(series->count());
  const QPoint left = at - QPoint(static_cast<int>(category * 0.5 * (sets - 1) / (2 * sets)), 0);
  QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, left);
}

QString CurrentGridRecord(const TMainForm& form) {
  const QModelIndex current = form.FormatGrid->currentIndex();
  if (!current.isValid()) return {};
  return form.FormatGrid->model()->index(current.row(), 0).data().toString();
}

}  // namespace

class SummaryWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void verifyFillsTheChartsWithABarPerBatch() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.resize(1400, 1000);
    form.show();
    QVERIFY(form.pgResult->indexOf(form.Summary) >= 0);
    QCOMPARE(form.Summary->chart(kSummaryCharts[0]), nullptr);
    form.txtINFile->setText(Generated(dir, {{"element.date", 0}}));
    form.Verify->trigger();

    const report::FileSummary* summary = form.Summary->summary();
    QVERIFY(summary != nullptr);
    for (const char* name : kSummaryCharts) QVERIFY2(Bars(form.Summary->chart(name)) != nullptr, name);
    QBarSeries* batches = Bars(form.Summary->chart("chartBatches"));
    QCOMPARE(batches->count(), 2);  // credits and debits
    QVERIFY(summary->batchCount > 3);
    QCOMPARE(batches->barSets().front()->count(), static_cast<int>(summary->batchCount));
    QCOMPARE(Bars(form.Summary->chart("chartMessages"))->barSets().front()->count(),
             static_cast<int>(summary->verify.messagesByType.size()));
    QCOMPARE(Bars(form.Summary->chart("chartRules"))->barSets().front()->count(), 1);
    QCOMPARE(Bars(form.Summary->chart("chartCurrencies"))->barSets().front()->count(),
             static_cast<int>(summary->currencies.size()));
    QVERIFY(form.Summary->labFigures->text().contains(QString::fromStdString(summary->identity.sha256)));

    // a click on the third batch's bar: its first message in the grid
    form.pgResult->setCurrentWidget(form.Summary);
    QChartView* batchChart = form.Summary->chart("chartBatches");
    form.Summary->findChild<QWidget*>()->ensurePolished();
    QTest::qWait(50);
    ClickBar(batchChart, 2);
    QTRY_COMPARE(CurrentGridRecord(form), QString::number(summary->batchBars[2].firstRecord));

    // a click on the rule's bar: the Findings page, filtered to it
    form.pgResult->setCurrentWidget(form.Summary);
    QTest::qWait(50);
    ClickBar(form.Summary->chart("chartRules"), 0);
    QCOMPARE(form.pgResult->currentWidget(), form.Findings);
    QCOMPARE(form.Findings->cmbRule->currentData().toString(), QString("element.date"));

    // Clear empties the page
    form.bbtnClear->click();
    QCOMPARE(form.Summary->summary(), nullptr);
    QCOMPARE(form.Summary->chart(kSummaryCharts[0]), nullptr);
  }

  void saveReportAndCopyChart() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.SaveReport->trigger();
    QCOMPARE(s.dialogs->errors.size(), 1);  // nothing verified yet

    // a format check shows what it has: the messages by MTI of its rows, but no report to save
    std::uint64_t messages = 0;
    form.txtINFile->setText(Generated(dir, {}, &messages));
    form.bbtnCheckFormatClick();
    const report::FileSummary* checked = form.Summary->summary();
    QVERIFY(checked != nullptr);
    QCOMPARE(checked->verify.messages, static_cast<std::int64_t>(messages));
    QVERIFY(checked->verify.messagesByType.contains("1240"));
    QCOMPARE(Bars(form.Summary->chart("chartMessages"))->barSets().front()->count(),
             static_cast<int>(checked->verify.messagesByType.size()));
    QVERIFY(checked->identity.sha256.empty());
    form.SaveReport->trigger();
    QCOMPARE(s.dialogs->errors.size(), 2);

    const auto checkedTypes = checked->verify.messagesByType;  // the page lets go of the check's figures
    form.Verify->trigger();
    QCOMPARE(form.Summary->summary()->verify.messagesByType, checkedTypes);
    const QString target = dir.filePath("report.html");
    QTimer::singleShot(0, &form, [target] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->selectFile(target);
      QMetaObject::invokeMethod(dialog, "accept");
    });
    form.SaveReport->trigger();
    QFile html(target);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QByteArray page = html.readAll();
    QVERIFY(page.startsWith("<!DOCTYPE html>"));
    QVERIFY(page.contains(QByteArray::fromStdString(form.Summary->summary()->identity.sha256)));
    QCOMPARE(s.dialogs->errors.size(), 2);

    QChartView* chart = form.Summary->chart("chartMessages");
    QAction* copy = chart->findChild<QAction*>("CopyChart");
    QVERIFY(copy != nullptr);
    QApplication::clipboard()->clear();
    copy->trigger();
    QCOMPARE(QApplication::clipboard()->image().size(), chart->size());
  }
};

int main(int argc, char** argv) {
  KalvrinApplication app(argc, argv);
  SummaryWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "summary_window_test.moc"
