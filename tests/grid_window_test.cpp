// The result grid as a tool, offscreen: copy of a block and of a row, find
// and filter on a generated file, export against kalvrin-check --csv, the
// columns chosen in the configuration dialog, fitting and hand-set widths,
// the frozen Rec# and TCode, sorting by a column and the tools on it;
// and the Findings page of Tool > Verify, down to a double-click on a finding.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QStyle>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTemporaryDir>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <optional>
#include <set>
#include <sstream>
#include <tuple>

#include <nlohmann/json.hpp>

#include "app/grid/card_number_mask.h"
#include "app/dialogs/config_form.h"
#include "app/grid/find_bar.h"
#include "app/grid/frozen_columns.h"
#include "app/findings/findings_page.h"
#include "app/form_surface.h"
#include "app/grid/grid_export.h"
#include "app/grid/grid_columns.h"
#include "app/grid/grid_rows.h"
#include "app/grid/grid_search.h"
#include "app/grid/grid_tools.h"
#include "app/inspector/inspector.h"
#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "app/dialogs/user_dialogs.h"
#include "testgen/filegen.h"
#include "support/check_runner.h"
#include "support/test_files.h"

using namespace kalvrin;

namespace {

struct QuietDialogs : UserDialogs {
  std::optional<QString> chooseFile(QWidget*, const QString&) override { return std::nullopt; }
  void showError(QWidget*, const QString& text) override { QFAIL(qPrintable("an error escaped: " + text)); }
  bool closeWithoutSaving(QWidget*, const QString&) override { return true; }
};

KalvrinWindows Start(const QTemporaryDir& dir) {
  return CreateWindows(dir.filePath("kalvrin"), std::make_unique<QuietDialogs>());
}

QString Sample(const char* name) { return QString::fromStdString(test::SamplePath(name).string()); }

QString Cell(const TMainForm& form, int col, int row) { return QString::fromLatin1(form.gridCell(col, row)); }

void RunIso(TMainForm& form, const QString& path) {
  form.txtINFile->setText(path);
  form.bbtnCheckFormatClick();
}

// A generated batch file of about `records` messages.
QString Generated(const QTemporaryDir& dir, int records, std::uint32_t seed = 7) {
  filegen::FileOptions options;
  options.size = static_cast<std::uint64_t>(records) * filegen::kRecordLength;
  options.seed = seed;
  const QString path = dir.filePath("generated.dat");
  if (!filegen::WriteGeneratedFile(path.toStdString(), options)) return {};
  return path;
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every cell of the grid holding `text`, in reading order, found the plain
// way: the order the find bar must visit them in.
QList<QPair<int, int>> CellsHolding(const TMainForm& form, const QString& text) {
  QList<QPair<int, int>> cells;
  for (int row = 1; row < form.gridRowCount(); ++row) {
    for (int col = 0; col < form.gridColCount(); ++col) {
      if (!form.FormatGrid->isColumnHidden(col) && Cell(form, col, row).contains(text, Qt::CaseInsensitive)) {
        cells.append({row, col});
      }
    }
  }
  return cells;
}

QPair<int, int> CurrentCell(const TMainForm& form) {
  const QModelIndex current = form.FormatGrid->currentIndex();
  return {form.gridTools().rows().gridRowOf(current.row()), current.column()};
}

void Select(const TMainForm& form, int top, int left, int bottom, int right,
            QItemSelectionModel::SelectionFlags how = QItemSelectionModel::ClearAndSelect) {
  const QAbstractItemModel* model = form.FormatGrid->model();
  form.FormatGrid->selectionModel()->select(QItemSelection(model->index(top, left), model->index(bottom, right)), how);
}

// A double-click as a mouse gives it: press, release, then the second press
// arrives as the double-click.
void DoubleClick(QTableView& view, const QModelIndex& index) {
  const QPoint at = view.visualRect(index).center();
  QTest::mousePress(view.viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, at);
}

// A mouse drag of the column's right edge on the grid's own header.
void DragColumnEdge(QTableView& grid, int column, int by) {
  QHeaderView* header = grid.horizontalHeader();
  const int edge = header->sectionViewportPosition(column) + header->sectionSize(column) - 1;
  const int y = header->height() / 2;
  QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(edge, y));
  QTest::mouseMove(header->viewport(), QPoint(edge + by, y));
  QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(edge + by, y));
}

// A click in the middle of a column's title.
void ClickTitle(QTableView& grid, int column) {
  QHeaderView* header = grid.horizontalHeader();
  grid.scrollTo(grid.model()->index(grid.rowAt(0) < 0 ? 0 : grid.rowAt(0), column));
  const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
}

void ShowAndWait(TMainForm& form) {
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
}

// The cells on screen whose shown text the column cuts ("col:row text"):
// the text, the delegate's margins on both sides and the grid line, in
// the fractional widths that the view lays text out in.
QStringList CutCells(const TMainForm& form) {
  const QTableView& grid = *form.FormatGrid;
  const QAbstractItemModel& view = *grid.model();
  const QFontMetricsF metrics(grid.font());
  const int margin = 2 * (grid.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &grid) + 1) + 1;
  QStringList cut;
  const int first = std::max(grid.rowAt(0), 0);
  int last = grid.rowAt(grid.viewport()->height() - 1);
  if (last < 0) last = view.rowCount() - 1;
  for (int row = first; row <= last; ++row) {
    for (int col = 0; col < view.columnCount(); ++col) {
      if (grid.isColumnHidden(col)) continue;
      const QString text = view.index(row, col).data().toString();
      const double needed = metrics.horizontalAdvance(text) + margin;
      if (!text.isEmpty() && needed > grid.columnWidth(col) && needed <= GridColumns::kMaxFitWidth) {
        cut.append(QString("%1:%2 %3").arg(col).arg(row).arg(text));
      }
    }
  }
  return cut;
}

}  // namespace

class GridWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // ---- copy ------------------------------------------------------------

  void copyBlockAsTabSeparatedTextWithTitles() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.show();
    RunIso(form, Sample("batch-nsp.dat"));
    QClipboard* clipboard = QGuiApplication::clipboard();

    // Rows 2 to 3, columns TCode to PMAP, by Ctrl+C on the grid itself.
    Select(form, 1, 1, 2, 3);
    QApplication::setActiveWindow(&form);
    form.FormatGrid->setFocus();
    QTest::keyClick(form.FormatGrid, Qt::Key_C, Qt::ControlModifier);
    const QString expected = "TCode\tFCode=P24\tPMAP\n" + Cell(form, 1, 2) + "\t" + Cell(form, 2, 2) + "\t" +
                             Cell(form, 3, 2) + "\n" + Cell(form, 1, 3) + "\t" + Cell(form, 2, 3) + "\t" +
                             Cell(form, 3, 3) + "\n";
    QCOMPARE(clipboard->text(), expected);

    // A hidden column is left out; cells of the block outside the selection stay empty.
    w.configForm->columnBoxes[2]->setChecked(false);
    Select(form, 0, 0, 0, 1);
    Select(form, 1, 3, 1, 3, QItemSelectionModel::Select);
    form.gridTools().copyAction->trigger();
    QCOMPARE(clipboard->text(), "Rec#\tTCode\tPMAP\n1\t1644\t\n\t\t" + Cell(form, 3, 2) + "\n");

    // The row as the CSV export writes it: one line of kalvrin-check --csv.
    form.FormatGrid->setCurrentIndex(form.FormatGrid->model()->index(7, 5));
    form.gridTools().copyRowCsvAction->trigger();
    const std::string csv = test::Check({"iso", Sample("batch-nsp.dat").toStdString(), "--csv"}).out;
    const std::size_t lastRow = csv.rfind("\r\n", csv.size() - 3) + 2;
    QCOMPARE(clipboard->text(), QString::fromStdString(csv.substr(lastRow)));
  }

  void showInInspectorFollowsTheFilteredRow() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.show();
    RunIso(form, Sample("batch-nsp.dat"));
    form.gridTools().findBar->filterColumn->setCurrentIndex(form.gridTools().findBar->filterColumn->findData(1));
    form.gridTools().findBar->filterEdit->setText("1844");
    form.gridTools().applyFilter();
    QCOMPARE(form.FormatGrid->model()->rowCount(), 1);
    // The one row shown is the grid's last; the inspector must show that message.
    form.FormatGrid->selectionModel()->setCurrentIndex(form.FormatGrid->model()->index(0, 37),
                                                       QItemSelectionModel::ClearAndSelect);
    QCOMPARE(form.Inspector->record(), 8);
    QCOMPARE(form.Inspector->message().mti, std::string("1844"));
    form.Inspector->clear();
    form.gridTools().showInInspectorAction->trigger();
    QCOMPARE(form.Inspector->record(), 8);
    QVERIFY(form.Inspector->isVisible());
  }

  // ---- masked card numbers -------------------------------------------------

  // Tool > Mask card numbers: the view, the export, a copied row and the
  // inspector show what kalvrin-check --mask-pan prints; the grid keeps the
  // clear numbers, and the settings file keeps the choice beside the seven
  // entries.
  void maskedCardNumbersEverywhereTheUserLooks() {
    QTemporaryDir dir;
    const QString file = Sample("batch-nsp.dat");
    const int panColumn = 5;  // "P2 (cardnum.)"
    {
      KalvrinWindows w = Start(dir);
      TMainForm& form = *w.mainForm;
      form.show();
      RunIso(form, file);
      const QString clear = Cell(form, panColumn, 2);
      QCOMPARE(clear.size(), 16);
      QVERIFY(!form.cardNumberMask().on());  // off by default
      QCOMPARE(form.FormatGrid->model()->index(1, panColumn).data().toString(), clear);

      form.cardNumberMask().maskAction->trigger();
      QVERIFY(form.cardNumberMask().on());
      const QString masked = clear.left(6) + "******" + clear.right(4);
      QCOMPARE(form.FormatGrid->model()->index(1, panColumn).data().toString(), masked);
      QCOMPARE(Cell(form, panColumn, 2), clear);  // what the check wrote stays
      QVERIFY(!(form.FormatGrid->model()->flags(form.FormatGrid->model()->index(1, panColumn)) & Qt::ItemIsEditable));

      const QString target = dir.filePath("grid.csv");
      form.gridTools().chooseExportFile = [&](QWidget*) { return std::optional<QString>(target); };
      form.gridTools().exportAction->trigger();
      const std::string expected = test::Check({"iso", file.toStdString(), "--csv", "--mask-pan"}).out;
      QCOMPARE(ReadBytes(target), QByteArray::fromStdString(expected));
      QVERIFY(!ReadBytes(target).contains(clear.toLatin1()));

      form.FormatGrid->selectionModel()->setCurrentIndex(form.FormatGrid->model()->index(1, panColumn),
                                                         QItemSelectionModel::ClearAndSelect);
      form.gridTools().copyCurrentRowAsCsv();
      QVERIFY(QGuiApplication::clipboard()->text().contains(masked));
      QVERIFY(!QGuiApplication::clipboard()->text().contains(clear));

      // The inspector: the element's value, and its bytes in the hex view.
      QCOMPARE(form.Inspector->record(), 2);
      const QString hex = form.Inspector->HexView->toPlainText();
      QVERIFY(hex.count(QStringLiteral("2A ")) >= 6);
      QVERIFY(!hex.contains(clear.mid(6, 6)));
      bool shown = false;
      const QAbstractItemModel* parts = form.Inspector->ElementGrid->model();
      for (int row = 0; row < parts->rowCount(); ++row) {
        for (int col = 0; col < parts->columnCount(); ++col) {
          const QString text = parts->index(row, col).data().toString();
          QVERIFY2(!text.contains(clear), qPrintable(text));
          shown = shown || text == masked;
        }
      }
      QVERIFY(shown);
      QVERIFY(form.close());
    }
    const QByteArray saved = ReadBytes(dir.filePath("kalvrin.ini"));
    QVERIFY(saved.contains("[View]\nMaskCardNumbers=1\n"));
    QVERIFY(saved.contains("[Form]\nTop=100\nLeft=100\n"));
    QVERIFY(saved.contains("[SDES-KEYS]\nTESTKEY=A4F1C07B3E9D2658\n"));
    KalvrinWindows again = Start(dir);
    QVERIFY(again.mainForm->cardNumberMask().on());
    again.mainForm->cardNumberMask().maskAction->trigger();  // and off again, the clear numbers back
    RunIso(*again.mainForm, file);
    QCOMPARE(again.mainForm->FormatGrid->model()->index(1, panColumn).data().toString(), Cell(*again.mainForm, panColumn, 2));
  }

  // ---- find and filter ---------------------------------------------------

  void matcherFindsTextsWhateverTheirCase_data() {
    QTest::addColumn<QString>("needle");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("found");
    QTest::newRow("digits inside") << "4567" << QByteArray("1234567890") << true;
    QTest::newRow("digits at the very end") << "890" << QByteArray("1234567890") << true;
    QTest::newRow("digits cut by the end") << "8901" << QByteArray("1234567890") << false;
    QTest::newRow("longer than the text") << "12345" << QByteArray("1234") << false;
    QTest::newRow("lower case finds capitals") << "vienna" << QByteArray("SHOP   VIENNA    AT") << true;
    QTest::newRow("capitals find lower case") << "SHOP" << QByteArray("a shop") << true;
    QTest::newRow("rare letter after digits") << "12G4" << QByteArray("0012g40") << true;
    QTest::newRow("rare letter at the start of the text") << "x99" << QByteArray("X99") << true;
    QTest::newRow("rare letter too near the start") << "9x9" << QByteArray("x99") << false;
    QTest::newRow("repeated beginning") << "aab" << QByteArray("aaab") << true;
    QTest::newRow("hex digits either case") << "4f47f843" << QByteArray("S128=4F47F843") << true;
    QTest::newRow("Latin-1 letters") << QString::fromLatin1("caf\xC9") << QByteArray("CAF\xE9") << true;
    QTest::newRow("not a fold of a different letter") << "b" << QByteArray("aAcC") << false;
    QTest::newRow("beyond Latin-1 holds nowhere") << QString::fromUtf8("\u20AC") << QByteArray("\xAC \x20") << false;
    QTest::newRow("empty holds everywhere") << "" << QByteArray("") << true;
  }

  void matcherFindsTextsWhateverTheirCase() {
    QFETCH(QString, needle);
    QFETCH(QByteArray, text);
    QFETCH(bool, found);
    const TextMatcher matcher = TextMatcher::FromTyped(needle);
    QCOMPARE(matcher.In(std::string_view(text.constData(), static_cast<std::size_t>(text.size()))), found);
  }

  void findVisitsEveryMatchInOrderBothWays() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.show();
    RunIso(form, Generated(dir, 300));
    QVERIFY(form.gridRowCount() > 250);
    GridTools& tools = form.gridTools();
    FindBar& bar = *tools.findBar;
    tools.findAction->trigger();
    QVERIFY(bar.isVisible());

    // Letters match whatever their case; the cells come in reading order, then round again.
    bar.findEdit->setText("vienna");
    const QList<QPair<int, int>> cells = CellsHolding(form, "vienna");
    QVERIFY(cells.size() > 100);
    for (const auto& cell : cells) {
      QVERIFY(tools.find(true));
      QCOMPARE(CurrentCell(form), cell);
      QVERIFY(form.FormatGrid->selectionModel()->isSelected(form.FormatGrid->currentIndex()));
    }
    QVERIFY(bar.findStatus->text().isEmpty());
    QVERIFY(tools.find(true));
    QCOMPARE(CurrentCell(form), cells.first());
    QCOMPARE(bar.findStatus->text(), QString(grid_text::kWrapped));
    QVERIFY(tools.find(false));
    QCOMPARE(CurrentCell(form), cells.last());
    QVERIFY(tools.find(false));
    QCOMPARE(CurrentCell(form), cells.at(cells.size() - 2));

    // Digits, from a cell in the middle: the next cell holding them, not the first.
    const QString amount = Cell(form, 7, 150);
    QVERIFY(!amount.isEmpty());
    bar.findEdit->setText(amount);
    form.FormatGrid->setCurrentIndex(form.FormatGrid->model()->index(148, 0));
    const QList<QPair<int, int>> holding = CellsHolding(form, amount);
    QPair<int, int> next = holding.first();
    for (const auto& cell : holding) {
      if (cell.first > 149) {
        next = cell;
        break;
      }
    }
    QVERIFY(tools.find(true));
    QCOMPARE(CurrentCell(form), next);

    // Masked card numbers are found as they show, by their stars.
    QAction* mask = form.findChild<QAction*>("MaskCardNumbers");
    QVERIFY(mask != nullptr);
    mask->trigger();
    bar.findEdit->setText("******");
    form.FormatGrid->setCurrentIndex({});
    QVERIFY(tools.find(true));
    QCOMPARE(CurrentCell(form).second, 5);
    mask->trigger();

    // A hidden column is not searched; a text nowhere is said to be nowhere.
    w.configForm->columnBoxes[21]->setChecked(false);
    bar.findEdit->setText("VIENNA");
    form.FormatGrid->setCurrentIndex(form.FormatGrid->model()->index(148, 0));
    QVERIFY(!tools.find(true));
    QCOMPARE(bar.findStatus->text(), QString(grid_text::kNotFound));
    QCOMPARE(CurrentCell(form), qMakePair(149, 0));  // the current cell stays
  }

  void filterKeepsMatchingRowsAndCountsThem() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.show();
    RunIso(form, Generated(dir, 300));
    GridTools& tools = form.gridTools();
    FindBar& bar = *tools.findBar;
    tools.findAction->trigger();
    const int total = form.gridRowCount() - 1;

    QList<int> transfers;
    for (int row = 1; row <= total; ++row) {
      if (Cell(form, 1, row) == "1240") transfers << row;
    }
    QVERIFY(transfers.size() > 10 && transfers.size() < total);
    bar.filterColumn->setCurrentIndex(bar.filterColumn->findData(1));
    bar.filterEdit->setText("1240");
    QTest::keyClick(bar.filterEdit, Qt::Key_Return);
    QCOMPARE(form.FormatGrid->model()->rowCount(), transfers.size());
    for (int viewRow = 0; viewRow < transfers.size(); ++viewRow) {
      QCOMPARE(form.FormatGrid->model()->index(viewRow, 0).data().toString(),
               QString::number(transfers[viewRow]));
    }
    QCOMPARE(bar.filterCount->text(), QString("%1 of %2 rows").arg(transfers.size()).arg(total));

    // Find walks the rows shown only.
    bar.findEdit->setText("VIENNA");
    form.FormatGrid->setCurrentIndex({});
    QVERIFY(tools.find(true));
    QCOMPARE(CurrentCell(form).first, transfers.first());

    // An edit that takes a row's text away takes the row out of the filter.
    QAbstractItemModel* shown = form.FormatGrid->model();
    QVERIFY(shown->setData(shown->index(0, 1), "9999", Qt::EditRole));
    QCOMPARE(shown->rowCount(), transfers.size() - 1);
    QCOMPARE(bar.filterCount->text(), QString("%1 of %2 rows").arg(transfers.size() - 1).arg(total));

    // A new check fills the filtered view as it reads; closing the bar shows every row.
    RunIso(form, Generated(dir, 300));
    QCOMPARE(shown->rowCount(), transfers.size());
    QTest::keyClick(bar.filterEdit, Qt::Key_Escape);
    QVERIFY(bar.isHidden());
    QCOMPARE(shown->rowCount(), total);
    QVERIFY(bar.filterCount->text().isEmpty());
  }

  // ---- export --------------------------------------------------------------

  void exportIsKalvrinCheckCsvByteForByte_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("generated") << "generated";
    QTest::newRow("stopped at a bad prefix") << "bad-prefix";
    QTest::newRow("quotes, commas and Latin-1") << "quoted";
  }

  void exportIsKalvrinCheckCsvByteForByte() {
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QString file;
    if (kind == "generated") file = Generated(dir, 200);
    if (kind == "bad-prefix") file = Sample("batch-bad-prefix.dat");
    if (kind == "quoted") {
      file = dir.filePath("quoted.dat");
      QFile out(file);
      QVERIFY(out.open(QIODevice::WriteOnly));
      out.write(QByteArray::fromStdString(filegen::BuildMessage("1644", {{24, "961"}})));
      out.write(QByteArray::fromStdString(
          filegen::BuildMessage("1240", {{24, "200"}, {43, "Caf\xE9 \"Zum Stern\", Wien"}, {2, "4000001234567899"}})));
    }
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    RunIso(form, file);
    QVERIFY(form.gridRowCount() > 1);
    // What the user sees changes nothing of what is written: hidden columns, a filter.
    w.configForm->columnBoxes[5]->setChecked(false);
    form.gridTools().rows().setFilter(1, "1644");

    const QString target = dir.filePath("grid.csv");
    form.gridTools().chooseExportFile = [&](QWidget*) { return std::optional<QString>(target); };
    form.gridTools().exportAction->trigger();
    const std::string expected = test::Check({"iso", file.toStdString(), "--csv"}).out;
    QCOMPARE(ReadBytes(target), QByteArray::fromStdString(expected));
  }

  void exportThatCannotBeWrittenSaysWhyAndLeavesNothing() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    RunIso(form, Sample("batch-nsp.dat"));
    const QString target = dir.filePath("no-such-folder/grid.csv");
    QStringList errors;
    form.gridTools().chooseExportFile = [&](QWidget*) { return std::optional<QString>(target); };
    form.gridTools().showError = [&](const QString& text) { errors << text; };
    form.gridTools().exportGrid();
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().startsWith("Cannot write " + target + ": "), qPrintable(errors.first()));
    QVERIFY(!QFile::exists(target));

    // A cancelled export leaves an existing file as it was.
    const QString existing = dir.filePath("kept.csv");
    QFile keep(existing);
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("kept");
    keep.close();
    RunIso(form, Generated(dir, 9000));
    int reports = 0;
    const ExportResult result = ExportGridCsv(form.gridTools().rows().grid(), existing, [&](int done, int total) {
      ++reports;
      return done < total / 2;  // Cancel pressed half way
    });
    QVERIFY(result.cancelled);
    QVERIFY(!result.written);
    QVERIFY(reports >= 2);
    QCOMPARE(ReadBytes(existing), QByteArray("kept"));
  }

  // ---- columns -------------------------------------------------------------

  void configDialogChoosesTheColumnsAndTheSettingsKeepThem() {
    QTemporaryDir dir;
    {
      KalvrinWindows w = Start(dir);
      TMainForm& form = *w.mainForm;
      TConfigForm* config = w.configForm;
      // Today's grid by default: every column ticked and shown.
      for (int col = 0; col < 41; ++col) {
        QVERIFY(config->columnBoxes[static_cast<std::size_t>(col)]->isChecked());
      }
      QCOMPARE(config->columnBoxes[5], config->checkBoxes[0]);  // "P2 - Sec.map"
      QVERIFY(!config->checkBoxes[3]->isEnabled());            // P5 has no column
      RunIso(form, Sample("batch-nsp.dat"));
      for (int col = 0; col < 41; ++col) QVERIFY(!form.FormatGrid->isColumnHidden(col));

      // Through the menu, as a user reaches the dialog.
      QTimer::singleShot(0, config, [config] {
        config->checkBoxes[0]->setChecked(false);
        config->columnBoxes[30]->setChecked(false);
        config->btnExit->click();
      });
      form.ISO85831->trigger();
      QVERIFY(form.FormatGrid->isColumnHidden(5));
      QVERIFY(form.FormatGrid->isColumnHidden(30));
      // The next check lays the grid out anew; the choice stays.
      RunIso(form, Sample("batch-nhd.dat"));
      QVERIFY(form.FormatGrid->isColumnHidden(5));
      QVERIFY(!form.FormatGrid->isColumnHidden(6));
      form.close();
    }
    const QByteArray saved = ReadBytes(dir.filePath("kalvrin.ini"));
    QVERIFY2(saved.contains("[Grid]\nHiddenColumns=5,30\n"), saved.constData());
    QVERIFY(saved.startsWith("[Form]\nTop=100\nLeft=100\nHeight=460\nWidth=770\nCaption=KALVRIN " KALVRIN_TEST_VERSION "\nInitMax=0\n"));
    {
      KalvrinWindows w = Start(dir);
      QVERIFY(w.mainForm->FormatGrid->isColumnHidden(5));
      QVERIFY(!w.configForm->checkBoxes[0]->isChecked());
      QVERIFY(!w.configForm->columnBoxes[30]->isChecked());
      w.configForm->columnBoxes[5]->setChecked(true);
      w.configForm->columnBoxes[30]->setChecked(true);
      QVERIFY(!w.mainForm->FormatGrid->isColumnHidden(5));
      w.mainForm->close();
    }
    QVERIFY(ReadBytes(dir.filePath("kalvrin.ini")).contains("[Grid]\nHiddenColumns=\n"));
  }

  void hiddenColumnsTextReadsWhatAPersonMayType() {
    const std::vector<bool> hidden = GridColumns::ParseHidden(" 5, x,300,-1,, 7 ,40");
    QCOMPARE(GridColumns::HiddenText(hidden), std::string("5,7,40"));
    QCOMPARE(GridColumns::HiddenText(GridColumns::ParseHidden("")), std::string());
  }

  // After each check the columns fit the rows on screen as they are shown;
  // Rec# holds the highest record number; a width dragged by hand stays
  // over the fit and the set-up, across a restart, until Fit columns or a
  // reset; the Tool menu's switch turns the fit off, and the settings keep it.
  void fitAfterEachCheckAndHandWidthsAcrossRestarts() {
    QTemporaryDir dir;
    const QString file = Generated(dir, 300);
    {
      KalvrinWindows w = Start(dir);
      TMainForm& form = *w.mainForm;
      ShowAndWait(form);
      QTableView& grid = *form.FormatGrid;
      RunIso(form, file);
      QVERIFY2(CutCells(form).isEmpty(), qPrintable(CutCells(form).join(", ")));
      QVERIFY(grid.columnWidth(21) > 100);  // P43, set up at 32
      QVERIFY(grid.columnWidth(21) <= GridColumns::kMaxFitWidth);
      const QFontMetrics metrics = grid.fontMetrics();
      QVERIFY(grid.columnWidth(0) > metrics.horizontalAdvance(QString::number(form.gridRowCount() - 1)));

      // A far row, off the screen, with a longer text than any row on it.
      const int last = form.gridRowCount() - 1;
      form.surface().setGridCell(21, last, std::string(40, 'W'));
      form.surface().flush();
      grid.scrollToTop();
      QVERIFY(grid.rowAt(grid.viewport()->height() - 1) < last - 1);
      form.gridTools().fitAction->trigger();
      QVERIFY(grid.columnWidth(21) < metrics.horizontalAdvance(QString(40, 'W')));
      QVERIFY(CutCells(form).isEmpty());
      // Rec# holds the highest record number, not only those on screen.
      form.surface().setGridRowCount(2'000'001);
      form.surface().flush();
      form.gridTools().fitAction->trigger();
      QVERIFY(grid.columnWidth(0) > metrics.horizontalAdvance("2000000"));
      form.surface().setGridRowCount(last + 1);
      form.surface().flush();

      // A width dragged by hand; the next check's set-up and fit keep it.
      const int fitted = grid.columnWidth(1);
      DragColumnEdge(grid, 1, 40);
      QCOMPARE(grid.columnWidth(1), fitted + 40);
      RunIso(form, Sample("batch-nsp.dat"));
      QCOMPARE(grid.columnWidth(1), fitted + 40);
      QVERIFY(grid.columnWidth(3) != 104);  // PMAP fitted, not left at its set-up width
      QVERIFY(form.close());
    }
    QVERIFY(ReadBytes(dir.filePath("kalvrin.ini")).contains("\nColumnWidths=1:"));
    {
      // The next start keeps the hand width; Fit columns gives it up.
      KalvrinWindows again = Start(dir);
      TMainForm& form = *again.mainForm;
      ShowAndWait(form);
      QTableView& grid = *form.FormatGrid;
      const int hand = grid.columnWidth(1);
      QVERIFY(hand > 36);
      RunIso(form, file);
      QCOMPARE(grid.columnWidth(1), hand);
      form.gridTools().fitAction->trigger();
      QVERIFY(grid.columnWidth(1) < hand);
      QVERIFY(!form.gridTools().columns().setByHand(1));

      // Reset: the set-up widths; with the switch off a check leaves them.
      DragColumnEdge(grid, 1, 30);
      form.gridTools().resetWidthsAction->trigger();
      QCOMPARE(grid.columnWidth(1), 36);
      QCOMPARE(grid.columnWidth(3), 104);
      QVERIFY(form.gridTools().fitAfterCheckAction->isChecked());
      form.gridTools().fitAfterCheckAction->trigger();
      RunIso(form, file);
      QCOMPARE(grid.columnWidth(21), 32);
      QCOMPARE(grid.columnWidth(3), 104);
      QVERIFY(form.close());
    }
    const QByteArray saved = ReadBytes(dir.filePath("kalvrin.ini"));
    QVERIFY(saved.contains("\nFitAfterCheck=0\n"));
    QVERIFY(saved.contains("\nColumnWidths=\n"));
    KalvrinWindows third = Start(dir);
    QVERIFY(!third.mainForm->gridTools().fitAfterCheckAction->isChecked());
  }

  void columnWidthsTextReadsWhatAPersonMayType() {
    const std::vector<int> widths = GridColumns::ParseWidths(" 1:80,x,5:190,300:20,2:0,3:-4,4:9x,7:120,,0:99999,6:70");
    QCOMPARE(GridColumns::WidthsText(widths), std::string("5:190,6:70,7:120"));
    QCOMPARE(GridColumns::WidthsText(GridColumns::ParseWidths("")), std::string());
  }

  // Fit measures what the grid shows: masked card numbers and the rows a
  // filter leaves.
  void fitMeasuresMaskedAndFilteredRows() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    ShowAndWait(form);
    RunIso(form, Generated(dir, 300));
    form.cardNumberMask().maskAction->trigger();
    form.gridTools().findAction->trigger();
    FindBar& bar = *form.gridTools().findBar;
    bar.filterColumn->setCurrentIndex(bar.filterColumn->findData(1));  // TCode
    bar.filterEdit->setText("1240");
    form.gridTools().applyFilter();
    QVERIFY(form.gridTools().rows().filtering());
    QVERIFY(form.FormatGrid->model()->rowCount() > 0);
    form.gridTools().fitAction->trigger();
    QVERIFY2(CutCells(form).isEmpty(), qPrintable(CutCells(form).join(", ")));
    RunIso(form, Sample("batch-nsp.dat"));  // the fit after a check, with both still on
    QVERIFY2(CutCells(form).isEmpty(), qPrintable(CutCells(form).join(", ")));
  }

  // Rec# and TCode stay at the left edge while the grid scrolls right, over
  // the same rows as the grid, at the grid's widths.
  void recordNumberAndTCodeStayWhenScrollingRight() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    ShowAndWait(form);
    RunIso(form, Generated(dir, 300));
    QTableView& grid = *form.FormatGrid;
    QTableView& frozen = form.gridTools().frozen().view();
    QCoreApplication::processEvents();  // the grid's delayed layout, which would scroll back to the top
    grid.horizontalScrollBar()->setValue(grid.horizontalScrollBar()->maximum());
    grid.verticalScrollBar()->setValue(40);
    QCoreApplication::processEvents();
    QVERIFY(grid.horizontalScrollBar()->value() > 0);
    QVERIFY(frozen.isVisible());
    QCOMPARE(frozen.width(), grid.columnWidth(0) + grid.columnWidth(1));
    QCOMPARE(frozen.verticalScrollBar()->value(), 40);
    // What shows at the grid's left edge: the frozen record number of the grid's top row.
    const QPoint left(3, frozen.horizontalHeader()->height() + 3);
    const QModelIndex shown = frozen.indexAt(frozen.viewport()->mapFrom(&frozen, left));
    QCOMPARE(shown.column(), 0);
    QCOMPARE(shown.row(), grid.rowAt(0));
    QVERIFY(grid.columnAt(3) >= 2);  // the grid itself has scrolled on
    QVERIFY(!frozen.isColumnHidden(1));
    QVERIFY(frozen.isColumnHidden(2));

    // Widths and hidden columns follow the grid.
    DragColumnEdge(grid, 0, 25);  // at the grid's own header, under the frozen one
    QCOMPARE(frozen.columnWidth(0), grid.columnWidth(0));
    form.gridTools().columns().setShown(0, false);
    QCoreApplication::processEvents();
    QCOMPARE(frozen.width(), grid.columnWidth(1));
    QVERIFY(frozen.isColumnHidden(0));

    // A current cell in a scrolled column comes out from under the frozen ones.
    grid.setCurrentIndex(grid.model()->index(40, 3));
    QVERIFY(grid.visualRect(grid.currentIndex()).left() >= frozen.width());
  }

  // ---- sorting -----------------------------------------------------------

  // A title click sorts by the column, numbers as numbers; a second click
  // turns the order round, a third (or the Tool menu) returns to record
  // order. Find, filter, copy, Show in inspector and export work on the
  // sorted rows; the next check shows its rows in record order.
  void titleClickSortsAndTheToolsFollowTheOrder() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    ShowAndWait(form);
    const QString file = Generated(dir, 300);
    RunIso(form, file);
    QTableView& grid = *form.FormatGrid;
    const QAbstractItemModel& view = *grid.model();
    const GridRowFilter& rows = form.gridTools().rows();
    const int records = form.gridRowCount() - 1;
    QVERIFY(records > 100);
    auto shown = [&](int row, int col) { return view.index(row, col).data().toString(); };

    ClickTitle(grid, 0);  // Rec#, ascending: as it was
    QVERIFY(rows.sorted());
    ClickTitle(grid, 0);  // descending, by value: the highest record first, not "99"
    QCOMPARE(grid.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
    QCOMPARE(shown(0, 0), QString::number(records));
    QCOMPARE(shown(records - 1, 0), QString("1"));
    ClickTitle(grid, 0);
    QVERIFY(!rows.sorted());
    QCOMPARE(shown(0, 0), QString("1"));

    // The frozen TCode's title, which lies over the grid's own, sorts too; both show it.
    QTableView& frozen = form.gridTools().frozen().view();
    ClickTitle(frozen, 1);
    QCOMPARE(rows.sortColumn(), 1);
    QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), 1);
    int lowest = 9999;
    for (int row = 1; row <= records; ++row) lowest = std::min(lowest, Cell(form, 1, row).toInt());
    QCOMPARE(shown(0, 1), QString::number(lowest));
    ClickTitle(frozen, 1);
    ClickTitle(frozen, 1);
    QVERIFY(!rows.sorted());
    QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), -1);

    const int sizeColumn = 40;
    grid.setCurrentIndex(view.index(5, 3));
    const int currentRecord = rows.gridRowOf(5);
    ClickTitle(grid, sizeColumn);
    QVERIFY(form.gridTools().recordOrderAction->isEnabled());
    for (int row = 1; row < view.rowCount(); ++row) {
      const QString above = shown(row - 1, sizeColumn), here = shown(row, sizeColumn);
      if (here.isEmpty()) continue;  // empty cells last
      QVERIFY2(!above.isEmpty() && above.toLongLong() <= here.toLongLong(), qPrintable(above + " > " + here));
    }
    QCOMPARE(rows.gridRowOf(grid.currentIndex().row()), currentRecord);  // the current cell stays on its row
    QCOMPARE(grid.currentIndex().column(), 3);

    // Export keeps the file's order, as kalvrin-check writes it.
    const QString target = dir.filePath("sorted.csv");
    form.gridTools().chooseExportFile = [&](QWidget*) { return std::optional<QString>(target); };
    form.gridTools().exportAction->trigger();
    QCOMPARE(ReadBytes(target), QByteArray::fromStdString(test::Check({"iso", file.toStdString(), "--csv"}).out));

    // Find walks the rows as shown; a cell written stays on its row.
    const int thirdShown = rows.gridRowOf(2);
    form.surface().setGridCell(21, thirdShown, "ZQXJ here");
    form.surface().flush();
    QCOMPARE(shown(2, 21), QString("ZQXJ here"));
    grid.setCurrentIndex(view.index(1, 0));
    form.gridTools().findAction->trigger();
    form.gridTools().findBar->findEdit->setText("zqxj");
    QVERIFY(form.gridTools().find(true));
    QCOMPARE(grid.currentIndex().row(), 2);
    QCOMPARE(grid.currentIndex().column(), 21);

    // Copy: the rows as shown.
    Select(form, 0, 0, 2, 1);
    form.gridTools().copySelection();
    const QStringList lines = QGuiApplication::clipboard()->text().split('\n');
    QCOMPARE(lines.value(3), Cell(form, 0, rows.gridRowOf(2)) + "\t" + Cell(form, 1, rows.gridRowOf(2)));

    // Reveal (a finding's row) lands on that record wherever it is sorted to.
    const QModelIndex revealed = form.gridTools().reveal(7, 0);
    QCOMPARE(rows.gridRowOf(revealed.row()), 7);

    // A filter keeps the order.
    FindBar& bar = *form.gridTools().findBar;
    bar.filterColumn->setCurrentIndex(bar.filterColumn->findData(1));
    bar.filterEdit->setText("1240");
    form.gridTools().applyFilter();
    QVERIFY2(view.rowCount() > 1 && view.rowCount() < records, qPrintable(QString::number(view.rowCount())));
    for (int row = 1; row < view.rowCount(); ++row) {
      QCOMPARE(shown(row, 1), QString("1240"));
      QVERIFY(shown(row - 1, sizeColumn).toLongLong() <= shown(row, sizeColumn).toLongLong());
    }
    bar.filterEdit->clear();
    form.gridTools().applyFilter();
    QCOMPARE(view.rowCount(), records);
    QVERIFY(rows.sorted());

    // The menu item, then a new check: record order.
    form.gridTools().recordOrderAction->trigger();
    QVERIFY(!rows.sorted());
    QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), -1);
    ClickTitle(grid, 7);
    QVERIFY(rows.sorted());
    RunIso(form, file);
    QVERIFY(!rows.sorted());
    QCOMPARE(grid.horizontalHeader()->sortIndicatorSection(), -1);
    QCOMPARE(shown(0, 0), QString("1"));
    QCOMPARE(shown(records - 1, 0), QString::number(records));
  }

  // ---- findings --------------------------------------------------------------

  void verifyRunsBusyWithProgressAndListsItsFindings() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.show();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtCHECKKey->setText("0123456789ABCDEF");
    std::string seenPath, seenKey;
    bool busyInside = false;
    form.setVerifyRunner([&](const std::string& path, const std::string& key, const VerifyControl& control) {
      seenPath = path;
      seenKey = key;
      busyInside = !form.bbtnCheckFormat->isEnabled() && !form.bbtnExit->isEnabled() &&
                   QApplication::overrideCursor() != nullptr;
      control.progress(VerifyPhase::Messages, 1000, 2478);
      control.progress(VerifyPhase::Messages, 2478, 2478);
      FindingsRun run;
      run.read = true;
      run.findings = {{false, "batch.message-number", 6, 1900, 71, "S71 is 5, expected 4"},
                      {true, "element.date", 3, 700, 12, "P12 261399120000 is not a date"},
                      {true, "envelope.trailer-missing", kNoFindingRecord, kNoFindingOffset, kNoFindingElement,
                       "no trailer"},
                      {true, "element.date", 2, 420, 7, "P7 1332000000 is not a date"}};
      return run;
    });
    form.Verify->trigger();
    QCOMPARE(seenPath, Sample("batch-nsp.dat").toStdString());
    QCOMPARE(seenKey, std::string("0123456789ABCDEF"));
    QVERIFY(busyInside);
    QVERIFY(form.bbtnCheckFormat->isEnabled());
    QCOMPARE(form.ProgressBar1->maximum(), 2478);
    QCOMPARE(form.ProgressBar1->value(), 2478);
    QCOMPARE(form.StatusPanels[2]->text(), QString(findings_text::kVerified));
    QCOMPARE(form.pgResult->currentWidget(), form.Findings);
    QCOMPARE(form.pgResult->tabText(2), QString("Findings"));

    FindingsPage& page = *form.Findings;
    const QAbstractItemModel* shown = page.FindingsGrid->model();
    QCOMPARE(shown->rowCount(), 4);
    QCOMPARE(page.labSummary->text(), QString("3 errors, 1 warnings"));
    QCOMPARE(shown->headerData(0, Qt::Horizontal).toString(), QString("Severity"));
    QCOMPARE(shown->index(1, 0).data().toString(), QString("error"));
    QCOMPARE(shown->index(1, 4).data().toString(), QString("P12"));
    QCOMPARE(shown->index(0, 4).data().toString(), QString("S71"));
    QVERIFY(shown->index(2, 2).data().toString().isEmpty());  // a finding of the file has no record

    // Sorted by record as numbers, the file's own finding first.
    page.FindingsGrid->sortByColumn(FindingsModel::kRecord, Qt::AscendingOrder);
    QStringList records;
    for (int row = 0; row < 4; ++row) records << shown->index(row, 2).data().toString();
    QCOMPARE(records, QStringList({"", "2", "3", "6"}));

    // One rule, then one severity.
    page.cmbRule->setCurrentIndex(page.cmbRule->findData("element.date"));
    QCOMPARE(shown->rowCount(), 2);
    QCOMPARE(page.labSummary->text(), QString("3 errors, 1 warnings (2 shown)"));
    page.cmbRule->setCurrentIndex(0);
    page.cmbSeverity->setCurrentIndex(page.cmbSeverity->findData("warning"));
    QCOMPARE(shown->rowCount(), 1);
    QCOMPARE(shown->index(0, 1).data().toString(), QString("batch.message-number"));

    // A file that cannot be read says so, with no findings left from before.
    form.setVerifyRunner([](const std::string&, const std::string&, const auto&) {
      FindingsRun run;
      run.error = "No such file or directory";
      return run;
    });
    form.Verify->trigger();
    QCOMPARE(page.model().rowCount(), 0);
    QCOMPARE(page.labSummary->text(), QString("Not verified: No such file or directory"));
    QCOMPARE(form.StatusPanels[2]->text(), QString(findings_text::kVerifyFailed));
  }

  void verifyInTheWindowFindsWhatKalvrinCheckFinds() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.show();
    // Faults of three kinds at known messages, and a key that is not the file's.
    filegen::FileOptions options;
    options.size = 200 * filegen::kRecordLength;
    options.seed = 11;
    options.faults = {{"element.date", 40}, {"element.pan-luhn", 77}, {"batch.message-number", 120}};
    const QString file = dir.filePath("faults.dat");
    filegen::FileSummary made;
    QVERIFY(filegen::WriteGeneratedFile(file.toStdString(), options, &made));
    QCOMPARE(made.injected.size(), std::size_t{3});
    form.txtCHECKKey->setText("1C587F1C13924FEF");
    form.txtINFile->setText(file);
    form.Verify->trigger();
    QVERIFY(form.Verify->isEnabled());
    QCOMPARE(form.StatusPanels[2]->text(), QString(findings_text::kVerified));
    const std::string key = form.txtCHECKKey->text().toStdString();

    using Seen = std::tuple<std::string, long long, long long, int>;  // rule, record, offset, element
    std::multiset<Seen> window;
    for (const FindingRow& finding : form.Findings->model().findings()) {
      window.insert({finding.rule, finding.record, finding.offset, finding.element});
    }
    std::multiset<Seen> command;
    std::istringstream lines(test::Check({"verify", file.toStdString(), "--key", key, "--json"}).out);
    for (std::string line; std::getline(lines, line);) {
      const nlohmann::json object = nlohmann::json::parse(line);
      if (object.contains("summary")) continue;
      command.insert({object["rule"].get<std::string>(),
                      object["record"].is_null() ? 0LL : object["record"].get<long long>(),
                      object["offset"].is_null() ? -1LL : object["offset"].get<long long>(),
                      object["element"].is_null() ? 0 : object["element"].get<int>()});
    }
    QVERIFY(window == command);
    for (const filegen::Injected& fault : made.injected) {
      QVERIFY2(window.count({fault.rule, fault.record, fault.offset, fault.element}) == 1, fault.rule.c_str());
    }
    QVERIFY(std::any_of(window.begin(), window.end(), [](const Seen& seen) { return std::get<0>(seen) == "mac.kcv"; }));
    // With card numbers masked, the Luhn finding's text shows the number as kalvrin-check --mask-pan does.
    const auto luhnMessage = [&form] {
      for (const FindingRow& finding : form.Findings->model().findings()) {
        if (finding.rule == "element.pan-luhn") return finding.message;
      }
      return std::string();
    };
    const std::string clear = luhnMessage();
    form.cardNumberMask().setOn(true);
    form.Verify->trigger();
    const std::string masked = luhnMessage();
    form.cardNumberMask().setOn(false);
    QVERIFY2(masked != clear && masked.find('*') != std::string::npos, masked.c_str());
    std::istringstream maskedLines(test::Check({"verify", file.toStdString(), "--json", "--mask-pan"}).out);
    bool sameAsCommand = false;
    for (std::string line; std::getline(maskedLines, line);) {
      const nlohmann::json object = nlohmann::json::parse(line);
      if (object.value("rule", "") == "element.pan-luhn") sameAsCommand = object["message"].get<std::string>() == masked;
    }
    QVERIFY(sameAsCommand);
    // A key that is not 16 hex digits: the other rules still run, and the page says why the MAC was not.
    form.txtCHECKKey->setText("XYZ");
    form.Verify->trigger();
    QVERIFY2(form.Findings->labSummary->text().contains(findings_text::kKeyUnusable),
             qPrintable(form.Findings->labSummary->text()));
  }

  void doubleClickOnAFindingShowsItsMessage() {
    QTemporaryDir dir;
    KalvrinWindows w = Start(dir);
    TMainForm& form = *w.mainForm;
    form.resize(1000, 700);
    form.show();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.setVerifyRunner([](const std::string&, const std::string&, const auto&) {
      FindingsRun run;
      run.read = true;
      run.findings = {{true, "element.not-numeric", 5, 1500, 4, "P4 holds a letter"},
                      {true, "message.stray-text", 7, 2000, kNoFindingElement, "text between messages"}};
      return run;
    });
    form.Verify->trigger();
    QCOMPARE(form.gridRowCount(), 2);  // verify leaves the grid alone
    // The user changes the file edit meanwhile; the finding is still of the verified file.
    form.txtINFile->setText(Sample("batch-nhd.dat"));
    // A filter that hides the row gives way.
    form.gridTools().rows().setFilter(1, "1644");

    QTableView& findings = *form.Findings->FindingsGrid;
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const QModelIndex first = findings.model()->index(0, 5);
    QVERIFY(findings.isVisible());
    DoubleClick(findings, first);
    QCOMPARE(form.txtINFile->text(), Sample("batch-nsp.dat"));
    QCOMPARE(form.StatusPanels[2]->text(), QString("Format processed"));  // the grid was empty: checked first
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QCOMPARE(CurrentCell(form), qMakePair(5, 7));  // record 5, P4's column
    QCOMPARE(form.Inspector->record(), 5);
    QVERIFY(form.Inspector->isVisible());
    const FileSpan highlighted = form.Inspector->highlighted();
    bool p4 = false;
    for (const DecodedElement& element : form.Inspector->message().elements) {
      if (element.number == 4) p4 = element.span.offset == highlighted.offset;
    }
    QVERIFY(p4);

    // A finding without an element: the row's first shown cell; the grid is not checked again.
    form.Findings->FindingsGrid->setFocus();
    w.configForm->columnBoxes[0]->setChecked(false);
    form.StatusPanels[2]->clear();
    const QModelIndex second = findings.model()->index(1, 5);
    form.pgResult->setCurrentWidget(form.Findings);
    DoubleClick(findings, second);
    QVERIFY(form.StatusPanels[2]->text().isEmpty());
    QCOMPARE(CurrentCell(form), qMakePair(7, 1));
    QCOMPARE(form.Inspector->record(), 7);

    // Verify reads past a bad length prefix, where the format check stops.
    form.txtINFile->setText(Sample("batch-bad-prefix.dat"));
    form.Verify->trigger();
    const std::vector<FindingRow>& found = form.Findings->model().findings();
    const auto beyond = std::find_if(found.begin(), found.end(), [](const FindingRow& f) { return f.record > 3; });
    QVERIFY(beyond != found.end());
    form.Findings->FindingsGrid->sortByColumn(FindingsModel::kRecord, Qt::DescendingOrder);
    DoubleClick(findings, findings.model()->index(0, 5));
    QCOMPARE(form.gridRowCount(), 4);  // checked, and stopped at message 3
    // Past the grid, the inspector alone shows the message, as verify framed it.
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    const auto last = std::max_element(found.begin(), found.end(),
                                       [](const FindingRow& a, const FindingRow& b) { return a.record < b.record; });
    QCOMPARE(form.Inspector->record(), static_cast<int>(last->record));
    QVERIFY(form.Inspector->labMessage->text().contains("Not in the grid"));
  }
};

QTEST_MAIN(GridWindowTest)
#include "grid_window_test.moc"
