// The Findings page and the inspector past the grid, offscreen: a finding
// double-clicked opens its message wherever verify framed it, Tool > Go to
// offset opens the message that starts at an offset or says why none does,
// and the findings leave the window as text: copied rows and a CSV file.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <deque>
#include <optional>

#include "app/inspector/inspector.h"
#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "support/test_files.h"
#include "support/window_start.h"
#include "testgen/filegen.h"

using namespace kalvrin;

namespace {

using Started = test::StartedWindow;

Started Start(const QTemporaryDir& dir) { return test::StartWindow(dir); }

// Records 1 to 3 are in the grid, which stops at record 3's bad prefix;
// verify reads on to records 4 (at 968), 5 (1270), 6 (1572) and the trailer
// 7 (1874); the file holds 2176 bytes.
QString BadPrefixSample() { return QString::fromStdString(test::SamplePath("batch-bad-prefix.dat").string()); }

QByteArray BytesOf(const QString& path, FileSpan span) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || !file.seek(span.offset)) return {};
  return file.read(span.bytes);
}

void VerifyOn(TMainForm& form, const QString& path) {
  form.txtINFile->setText(path);
  form.Verify->trigger();
}

// The Findings page's row, as it is shown now, of the finding on `element`
// of `record`; -1 when none is shown.
int ShownFindingRow(const TMainForm& form, int record, const QString& element) {
  const QAbstractItemModel* shown = form.Findings->FindingsGrid->model();
  for (int row = 0; row < shown->rowCount(); ++row) {
    if (shown->data(shown->index(row, 2)).toInt() == record && shown->data(shown->index(row, 4)).toString() == element) {
      return row;
    }
  }
  return -1;
}

bool DoubleClickFinding(TMainForm& form, int record, const QString& element) {
  const int row = ShownFindingRow(form, record, element);
  if (row < 0) return false;
  form.pgResult->setCurrentWidget(form.Findings);
  QTableView* grid = form.Findings->FindingsGrid;
  const QModelIndex index = grid->model()->index(row, 1);
  grid->scrollTo(index);
  // As a mouse gives it: press, release, then the second press arrives as the double-click.
  const QPoint at = grid->visualRect(index).center();
  QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, at);
  QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
  return true;
}

// The Rec# of the grid's current row, empty when no cell is current.
QString CurrentGridRecord(const TMainForm& form) {
  const QModelIndex current = form.FormatGrid->currentIndex();
  if (!current.isValid()) return {};
  return form.FormatGrid->model()->index(current.row(), 0).data().toString();
}

QString InspectorHead(const TMainForm& form) { return form.Inspector->labMessage->text().section(QLatin1Char('\n'), 0, 0); }

// Tool > Go to offset with `typed` entered one after the other and OK
// pressed after each; what the dialog said after each that it kept.
QStringList GoToOffset(TMainForm& form, const QStringList& typed) {
  QStringList said;
  QAction* go = form.findChild<QAction*>("GoToOffset");
  if (go == nullptr) return {"<no Go to offset command>"};
  QTimer::singleShot(0, &form, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    auto* edit = dialog->findChild<QLineEdit*>("txtOffset");
    auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    for (const QString& text : typed) {
      edit->clear();
      edit->insert(text);  // typed or pasted
      ok->click();
      if (!dialog->isVisible()) return;
      const QLabel* refusal = dialog->findChild<QLabel*>("labRefusal");
      said << (refusal != nullptr && refusal->isVisible() ? refusal->text() : QString("<nothing said>"));
    }
    dialog->reject();
  });
  go->trigger();
  return said;
}

// Answers the next save-file dialog with `path`.
void AnswerSaveDialog(QObject* context, const QString& path) {
  QTimer::singleShot(0, context, [path] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) return;
    dialog->selectFile(path);
    QMetaObject::invokeMethod(dialog, "accept");
  });
}

QStringList CsvLines(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {"<no file>"};
  QStringList lines = QString::fromUtf8(file.readAll()).split("\r\n");
  if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

const QString kBadPrefixFinding =
    "length prefix '1A' of P35 is not a number; the format check stops here with \"Error Process P 35 Len: '1A'\"";

}  // namespace

class FindingsWindowTest : public QObject {
  Q_OBJECT

 private slots:
  // A finding's message opens whether the grid holds it or not: past the
  // format check's stop, the inspector alone shows it, as verify framed it.
  void findingPastTheGridOpensItsMessage() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    VerifyOn(form, BadPrefixSample());
    QCOMPARE(form.pgResult->currentWidget(), form.Findings);

    QVERIFY(DoubleClickFinding(form, 2, "P7"));
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QCOMPARE(form.gridRowCount(), 4);  // the title and records 1 to 3
    QCOMPARE(CurrentGridRecord(form), QString("2"));
    QCOMPARE(form.Inspector->record(), 2);

    QVERIFY(DoubleClickFinding(form, 4, "P7"));
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QVERIFY(form.Inspector->isVisible());
    QVERIFY(form.FormatSplitter->sizes().value(1) > 0);
    QCOMPARE(form.Inspector->record(), 4);
    QVERIFY2(InspectorHead(form).startsWith("Message 4 at 968 (0x3C8)"), qPrintable(InspectorHead(form)));
    QVERIFY2(InspectorHead(form).endsWith("MTI 1542"), qPrintable(InspectorHead(form)));
    QVERIFY(form.Inspector->labMessage->text().contains("Not in the grid"));
    QCOMPARE(BytesOf(BadPrefixSample(), form.Inspector->highlighted()), QByteArray("1208661099"));
    QCOMPARE(CurrentGridRecord(form), QString());  // no grid row stands for it
    QCOMPARE(form.gridRowCount(), 4);
    QVERIFY(s.dialogs->errors.isEmpty());
  }

  // Go to offset takes a decimal or a 0x offset and refuses other texts in
  // the dialog; an offset where no message starts is refused with the
  // messages around it, and an offset past the end with the file's size.
  void goToOffsetOpensAnyFramedMessage() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(BadPrefixSample());
    QAction* go = form.findChild<QAction*>("GoToOffset");
    QVERIFY(go != nullptr);
    QVERIFY(form.menuBar()->findChild<QMenu*>("Tool1")->actions().contains(go));

    const QStringList unreadable = {"", "-968", "+968", "0x", "96 8", "0x3G8", "9e2",
                                    QString::fromUtf8("\u0669\u0666\u0668"), "99999999999999999999"};
    const QStringList said = GoToOffset(form, unreadable + QStringList{" 0X3c8 "});
    QCOMPARE(said.size(), unreadable.size());
    for (qsizetype i = 0; i < said.size(); ++i) {
      QVERIFY2(said[i].startsWith("\"" + unreadable[i] + "\" is not an offset: give a decimal number"), qPrintable(said[i]));
    }
    // The file in the file edit was checked first; its message 4 lies past the grid.
    QCOMPARE(form.gridRowCount(), 4);
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QVERIFY(form.Inspector->isVisible());
    QVERIFY2(InspectorHead(form).startsWith("Message 4 at 968 (0x3C8)"), qPrintable(InspectorHead(form)));
    QCOMPARE(BytesOf(BadPrefixSample(), form.Inspector->highlighted()), QByteArray("1542"));  // the MTI

    QCOMPARE(GoToOffset(form, {"1874"}), QStringList());  // the trailer
    QVERIFY2(InspectorHead(form).startsWith("Message 7 at 1874 (0x752)"), qPrintable(InspectorHead(form)));

    QCOMPARE(GoToOffset(form, {"364"}), QStringList());  // a message in the grid: its row
    QCOMPARE(CurrentGridRecord(form), QString("2"));
    QVERIFY2(InspectorHead(form).startsWith("Message 2 at 364 (0x16C)"), qPrintable(InspectorHead(form)));

    const struct {
      const char* typed;
      const char* refusal;
    } refused[] = {
        {"1000",
         "No message starts at offset 1000 (0x3E8). Message 4 starts before it, at 968 (0x3C8). "
         "Message 5 starts after it, at 1270 (0x4F6)."},
        {"0", "No message starts at offset 0 (0x0). Message 1 starts after it, at 62 (0x3E)."},
        {"2175", "No message starts at offset 2175 (0x87F). Message 7 starts before it, at 1874 (0x752)."},
        {"0x880", "Offset 2176 (0x880) is past the end of the file, which holds 2176 bytes."},
    };
    for (const auto& [typed, refusal] : refused) {
      QCOMPARE(GoToOffset(form, {typed}), QStringList());
      QCOMPARE(form.Inspector->labMessage->text(), QString(refusal));
      QCOMPARE(form.Inspector->record(), 0);
      QCOMPARE(CurrentGridRecord(form), QString());
    }
    QCOMPARE(form.gridRowCount(), 4);
    QVERIFY(s.dialogs->errors.isEmpty());
  }

  // Looking for a message past the grid is a command like the others: the
  // buttons rest while the file is read, and Escape stops it, keeping the
  // grid and saying so in the inspector.
  void escapeStopsTheSearchForAMessage() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    const QString path = dir.filePath("generated.dat");
    QVERIFY(filegen::WriteGeneratedFile(QFile::encodeName(path).toStdString(), {.size = 30'000'000, .seed = 9}));
    form.txtINFile->setText(path);
    form.bbtnCheckFormatClick();
    const int rows = form.gridRowCount();
    QVERIFY(rows > 1000);
    form.setEventPumpInterval(0);
    bool buttonsRested = false;
    QTimer escape;
    escape.setInterval(0);
    connect(&escape, &QTimer::timeout, &form, [&] {
      if (form.runningCommand() != Command::Locate) return;
      buttonsRested = !form.bbtnCheckFormat->isEnabled() && !form.Verify->isEnabled();
      QApplication::setActiveWindow(&form);  // the dialog that asked for the offset has just closed
      QTest::keyClick(&form, Qt::Key_Escape);
    });
    escape.start();
    // The file's last byte: no message starts there, so the whole file would be read.
    QCOMPARE(GoToOffset(form, {QString::number(QFileInfo(path).size() - 1)}), QStringList());
    escape.stop();
    QVERIFY(buttonsRested);
    QCOMPARE(form.Inspector->labMessage->text(), QString("Search for the message stopped"));
    QCOMPARE(form.gridRowCount(), rows);
    QVERIFY(form.bbtnCheckFormat->isEnabled() && form.Verify->isEnabled());
    QCOMPARE(form.runningCommand(), Command::None);
  }

  // Ctrl+C on the Findings page copies the selected rows in the order shown,
  // the column titles first, as tab-separated text.
  void copiedFindingsAreTabSeparatedWithTitles() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    VerifyOn(form, BadPrefixSample());
    QTableView* grid = form.Findings->FindingsGrid;
    grid->sortByColumn(2, Qt::DescendingOrder);  // by record, the last first
    const int pan = ShownFindingRow(form, 2, "P2");
    const int prefix = ShownFindingRow(form, 3, "P35");
    QVERIFY(pan >= 0 && prefix >= 0 && prefix < pan);
    grid->selectionModel()->select(grid->model()->index(pan, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    grid->selectionModel()->select(grid->model()->index(prefix, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QApplication::setActiveWindow(&form);
    grid->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(grid, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             "Severity\tRule\tRecord\tOffset\tElement\tMessage\n"
             "error\tmessage.bad-prefix\t3\t789\tP35\t" + kBadPrefixFinding + "\n"
             "warning\telement.pan-luhn\t2\t417\tP2\tcard number '4398259791907483' fails the Luhn check\n");
  }

  // Export findings as CSV writes the rows the page shows, in the order it
  // shows them, titles first, quoted as CSV quotes; a file that cannot be
  // written is said so and nothing is left behind.
  void exportedFindingsFollowTheShownOrder() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    VerifyOn(form, BadPrefixSample());
    QAction* exportFindings = form.findChild<QAction*>("ExportFindings");
    QVERIFY(exportFindings != nullptr);
    form.Findings->cmbSeverity->setCurrentIndex(form.Findings->cmbSeverity->findData(QString("error")));
    form.Findings->FindingsGrid->sortByColumn(2, Qt::DescendingOrder);
    const QAbstractItemModel* shown = form.Findings->FindingsGrid->model();
    QVERIFY(shown->rowCount() > 2);

    const QString target = dir.filePath("errors.csv");
    AnswerSaveDialog(&form, target);
    exportFindings->trigger();
    const QStringList lines = CsvLines(target);
    QCOMPARE(lines.size(), shown->rowCount() + 1);
    QCOMPARE(lines.front(), QString("Severity,Rule,Record,Offset,Element,Message"));
    int lastRecord = INT_MAX;
    for (qsizetype i = 1; i < lines.size(); ++i) {
      QVERIFY2(lines[i].startsWith("error,"), qPrintable(lines[i]));
      const int record = lines[i].section(',', 2, 2).toInt();
      QVERIFY(record <= lastRecord);
      lastRecord = record;
    }
    QVERIFY(lines.contains("error,message.bad-prefix,3,789,P35,\"" + QString(kBadPrefixFinding).replace("\"", "\"\"") +
                           "\""));
    QVERIFY(s.dialogs->errors.isEmpty());

    const QString unwritable = dir.filePath("gone/findings.csv");
    AnswerSaveDialog(&form, unwritable);
    exportFindings->trigger();
    QCOMPARE(s.dialogs->errors.size(), 1);
    QVERIFY2(s.dialogs->errors.front().contains(unwritable), qPrintable(s.dialogs->errors.front()));
    QVERIFY(!QFile::exists(unwritable));
  }
};

int main(int argc, char** argv) {
  KalvrinApplication app(argc, argv);
  FindingsWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "findings_window_test.moc"
