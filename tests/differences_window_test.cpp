// The Differences page, offscreen: Tool > Compare with... on a pair of files
// with every kind of change shows what kalvrin-check diff --json writes, and
// a double-clicked record opens its message of either file in the inspector.
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/differences/differences_page.h"
#include "app/inspector/inspector.h"
#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "support/check_runner.h"
#include "support/test_files.h"
#include "support/window_start.h"
#include "testgen/filegen.h"

using namespace kalvrin;

namespace {

// A generated file (records 1644; 2-10 transactions; 11 a 1542; 12-13; 14 a
// 1542, ...) and a copy with a changed MAC header, record 4 gone, record 3
// moved behind record 11 into the next batch, record 11's S72 shortened, a
// new transaction after record 13, a bad prefix in record 16, and LF line ends.
struct Files {
  std::string before = filegen::GenerateFileBytes({.size = 12000, .seed = 7});
  std::string after;
  std::string s72 = "005RECON";

  Files() {
    const std::size_t first = filegen::kMacHeaderLength + 2;
    std::vector<std::string> records;
    for (std::size_t at = first; at < before.size(); at += filegen::kRecordLength) {
      records.push_back(before.substr(at, filegen::kRecordLength));
    }
    std::string& reconciliation = records[10];
    const std::size_t s72At = reconciliation.find("014RECONCILIATION");
    reconciliation.replace(s72At, 17, s72);
    reconciliation.insert(reconciliation.size() - 2, 9, ' ');
    std::string& broken = records[15];
    broken[broken.find("26SAMPLE SHOP") + 1] = 'X';
    std::string added = filegen::BuildMessage("1240", {{2, "4000000000000002"}, {4, "000000000100"}, {11, "424242"}});
    added.resize(510, ' ');
    std::vector<std::string> edited;
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (i == 2 || i == 3) continue;
      edited.push_back(records[i]);
      if (i == 10) edited.push_back(records[2]);
      if (i == 12) edited.push_back(added + "\r\n");
    }
    std::string envelope = before.substr(0, first);
    envelope[44] = envelope[44] == '0' ? '1' : '0';
    std::string joined = envelope;
    for (const std::string& record : edited) joined += record;
    for (const char c : joined) {
      if (c != '\r') after += c;
    }
  }
};

QString CellText(const QAbstractItemModel& model, int row, int column) {
  return model.index(row, column).data(Qt::DisplayRole).toString();
}

// A JSON field as the page shows it: null empty, numbers and texts as text.
QString Shown(const nlohmann::json& value) {
  if (value.is_null()) return {};
  if (value.is_string()) return QString::fromStdString(value.get<std::string>());
  return QString::number(value.get<long long>());
}

void DoubleClick(QTableView* grid, const QModelIndex& index) {
  grid->scrollTo(index);
  const QPoint at = grid->visualRect(index).center();
  QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
}

QByteArray BytesOf(const QString& path, FileSpan span) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(span.offset)) return {};
  return file.read(span.bytes);
}

}  // namespace

class DifferencesWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void pageEqualsTheCommandsJson() {
    QTemporaryDir dir;
    const Files files;
    const test::TempFile oldFile(files.before, "old.dat");
    const test::TempFile newFile(files.after, "new.dat");
    auto dialogs = std::make_unique<test::QuietDialogs>();
    dialogs->chosen = QString::fromStdString(newFile.str());
    KalvrinWindows windows = CreateWindows(dir.filePath("kalvrin"), std::move(dialogs));
    TMainForm& form = *windows.mainForm;
    form.show();
    form.txtINFile->setText(QString::fromStdString(oldFile.str()));
    form.CompareWith->trigger();
    QCOMPARE(form.pgResult->currentWidget(), form.Differences);
    QCOMPARE(form.runningCommand(), Command::None);

    const test::Printed printed = test::Check({"diff", oldFile.str(), newFile.str(), "--json"});
    QCOMPARE(printed.exitCode, 1);
    std::vector<nlohmann::json> lines;
    std::istringstream in(printed.out);
    for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
    lines.pop_back();  // the summary
    const QAbstractItemModel& shown = *form.Differences->DifferencesGrid->model();
    QCOMPARE(static_cast<std::size_t>(shown.rowCount()), lines.size());
    QStringList kinds;
    const char* fields[] = {"change", "oldRecord", "newRecord", "oldOffset", "newOffset", "element", "old", "new", "key"};
    for (int row = 0; row < shown.rowCount(); ++row) {
      const nlohmann::json& line = lines[static_cast<std::size_t>(row)];
      kinds << Shown(line["change"]);
      for (int column = 0; column < 9; ++column) {
        QString expected = Shown(line[fields[column]]);
        if (column == DifferencesModel::kElement) {
          expected = line.contains("field") ? Shown(line["field"])
                     : line["element"].is_null() ? QString()
                     : QString("%1%2").arg(line["element"].get<int>() < 65 ? 'P' : 'S').arg(line["element"].get<int>());
        }
        QCOMPARE(CellText(shown, row, column), expected);
      }
    }
    kinds.removeDuplicates();  // record 4 follows the partner of record 3, which moved
    QCOMPARE(kinds, QStringList({"line-ends", "envelope", "changed", "moved", "removed", "added", "unreadable"}));
    QVERIFY2(form.pgResult->tabText(form.pgResult->indexOf(form.Differences)).contains("1 moved"),
             qPrintable(form.pgResult->tabText(form.pgResult->indexOf(form.Differences))));

    // the changed S72: the new file's message, its S72 selected
    int changedRow = -1;
    for (int row = 0; row < shown.rowCount(); ++row) {
      if (CellText(shown, row, DifferencesModel::kElement) == "S72") changedRow = row;
    }
    QVERIFY(changedRow >= 0);
    DoubleClick(form.Differences->DifferencesGrid, shown.index(changedRow, DifferencesModel::kNew));
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QCOMPARE(form.Inspector->record(), CellText(shown, changedRow, DifferencesModel::kNewRecord).toInt());
    QCOMPARE(BytesOf(QString::fromStdString(newFile.str()), form.Inspector->highlighted()),
             QByteArray::fromStdString(files.s72));
    // and the old file's, from its column
    form.pgResult->setCurrentWidget(form.Differences);
    DoubleClick(form.Differences->DifferencesGrid, shown.index(changedRow, DifferencesModel::kOld));
    QCOMPARE(form.Inspector->record(), CellText(shown, changedRow, DifferencesModel::kOldRecord).toInt());
    QCOMPARE(BytesOf(QString::fromStdString(oldFile.str()), form.Inspector->highlighted()),
             QByteArray("014RECONCILIATION"));

    // filtered by kind
    form.Differences->cmbChange->setCurrentIndex(form.Differences->cmbChange->findData("removed"));
    QCOMPARE(shown.rowCount(), 2);  // record 4, and record 16 whose partner is unreadable
    QCOMPARE(CellText(shown, 0, DifferencesModel::kOldRecord), QString("4"));
    QCOMPARE(CellText(shown, 1, DifferencesModel::kOldRecord), QString("16"));
  }

  // Escape stops the comparison as it stops the other commands: the window
  // is free again, the status says so and the page keeps no partial records.
  void escapeStopsTheComparison() {
    QTemporaryDir dir;
    const std::string bytes = filegen::GenerateFileBytes({.size = 4'000'000, .seed = 11});
    const test::TempFile oldFile(bytes, "old.dat");
    const test::TempFile newFile(bytes + "\n", "new.dat");
    auto dialogs = std::make_unique<test::QuietDialogs>();
    dialogs->chosen = QString::fromStdString(newFile.str());
    KalvrinWindows windows = CreateWindows(dir.filePath("kalvrin"), std::move(dialogs));
    TMainForm& form = *windows.mainForm;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));  // Escape is the window's shortcut
    form.setEventPumpInterval(0);
    form.txtINFile->setText(QString::fromStdString(oldFile.str()));
    int stops = 0;
    bool menuOff = false;
    auto* timer = new QTimer(&form);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, &form, [&] {
      if (form.runningCommand() != Command::Compare || stops > 0) return;
      ++stops;
      menuOff = !form.CompareWith->isEnabled() && !form.Verify->isEnabled();
      QTest::keyClick(&form, Qt::Key_Escape);
    });
    timer->start();
    form.CompareWith->trigger();
    QCOMPARE(stops, 1);
    QVERIFY(menuOff);
    QCOMPARE(form.runningCommand(), Command::None);
    QVERIFY(form.CompareWith->isEnabled());
    QCOMPARE(form.StatusPanels[2]->text(), QString(differences_text::kCompareStopped));
    QVERIFY(form.Differences->last().stopped);
    QCOMPARE(form.Differences->model().rowCount(), 0);
    QCOMPARE(form.Differences->labSummary->text(), QString(differences_text::kStopped));
  }
};

QTEST_MAIN(DifferencesWindowTest)
#include "differences_window_test.moc"
