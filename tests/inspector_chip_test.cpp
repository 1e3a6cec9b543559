// The inspector's P55, offscreen: its EMV tags as child rows under it with
// their names, lengths and values, the set bits of the TVR and of 9F27 as
// rows of their own, a malformed P55's fault, and the bytes of the selected
// tag highlighted in the hex view.
#include <QAbstractItemModel>
#include <QTableView>
#include <QTest>

#include <string>

#include "app/inspector/chip_rows.h"
#include "app/inspector/inspector.h"
#include "support/test_files.h"
#include "testgen/filegen.h"

using namespace kalvrin;

namespace {

// The row whose first column reads `label`, -1 when none.
int RowOf(const QAbstractItemModel& model, const QString& label) {
  for (int row = 0; row < model.rowCount(); ++row) {
    if (model.index(row, 0).data().toString() == label) return row;
  }
  return -1;
}

QString Cell(const QAbstractItemModel& model, int row, int column) { return model.index(row, column).data().toString(); }

constexpr int kTitle = 1;
constexpr int kLength = 4;
constexpr int kValue = 7;

}  // namespace

class InspectorChipTest : public QObject {
  Q_OBJECT

 private slots:
  void tagsAreChildRowsAndTheirBytesHighlight() {
    const std::string chip = "5A084761739001010119" "9F0206000000012345" "700A" "9504" "80000080" "9B02" "E800" "9F270140";
    const std::string message = filegen::BuildMessage("1240", {{2, "4761739001010119"}, {4, "000000012345"}, {55, chip}});
    // a line end in the middle of P55 is skipped by the offsets
    std::string bytes = message;
    const std::size_t p55 = bytes.find(chip);
    bytes.insert(p55 + 24, "\r\n");
    const test::TempFile file(bytes + "\r\n");

    MessageInspector inspector;
    inspector.showMessage(file.str(), 1, 0);
    const QAbstractItemModel& model = *inspector.ElementGrid->model();
    const int p55Row = RowOf(model, "P55");
    QVERIFY(p55Row >= 0);
    QCOMPARE(Cell(model, p55Row + 1, 0), QString("  5A"));
    QCOMPARE(Cell(model, p55Row + 1, kTitle), QString("Application Primary Account Number (PAN)"));
    QCOMPARE(Cell(model, p55Row + 1, kValue), QString("4761739001010119"));
    const int amount = RowOf(model, "  9F02");
    QCOMPARE(amount, p55Row + 2);
    QCOMPARE(Cell(model, amount, kLength), QString("6"));
    QCOMPARE(Cell(model, amount, kValue), QString("12345"));
    const int tvr = RowOf(model, "    95");  // inside 70
    QVERIFY(tvr > amount);
    QCOMPARE(Cell(model, tvr + 1, kTitle), QString("offline data authentication was not performed"));
    QCOMPARE(Cell(model, tvr + 2, kTitle), QString("transaction exceeds floor limit"));
    QCOMPARE(Cell(model, RowOf(model, "  9F27") + 1, kTitle), QString("TC"));

    // selecting 9F02 highlights its bytes: tag to value, across the line end
    inspector.ElementGrid->setCurrentIndex(model.index(amount, 0));
    const FileSpan highlighted = inspector.highlighted();
    QCOMPARE(highlighted.offset, static_cast<std::int64_t>(p55 + 20));
    QCOMPARE(highlighted.bytes, static_cast<std::int64_t>(18 + 2));
    // the element itself still selects as before
    QVERIFY(inspector.selectPart(55));
    QCOMPARE(inspector.highlighted().offset, static_cast<std::int64_t>(p55 - 3));

    inspector.setMaskCardNumbers(true);
    QCOMPARE(Cell(model, RowOf(model, "  5A"), kValue), QString("476173******0119"));
    for (int row = 0; row < model.rowCount(); ++row) {
      for (int column = 0; column < model.columnCount(); ++column) {
        QVERIFY2(!Cell(model, row, column).contains("4761739001010119"), qPrintable(Cell(model, row, column)));
      }
    }
  }

  void aMalformedP55ShowsItsFault() {
    const std::string message = filegen::BuildMessage("1240", {{2, "4761739001010119"}, {55, "9A03261208" "9F02"}});
    const test::TempFile file(message + "\r\n");
    MessageInspector inspector;
    inspector.showMessage(file.str(), 1, 0);
    const QAbstractItemModel& model = *inspector.ElementGrid->model();
    const int error = RowOf(model, "  error");
    QVERIFY(error > RowOf(model, "  9A"));
    QCOMPARE(Cell(model, error, kTitle), QString("tag 9F02 at byte 6 has no length"));
    inspector.ElementGrid->setCurrentIndex(model.index(error, 0));
    QCOMPARE(inspector.highlighted().offset, static_cast<std::int64_t>(message.find("9F02")));
  }
};

QTEST_MAIN(InspectorChipTest)
#include "inspector_chip_test.moc"
