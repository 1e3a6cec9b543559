// The window's test copies, offscreen: edits from the grid's rows and the
// inspector's elements listed on the Edits page, undone with Ctrl+Z, and
// written by Save test copy as... with its options; the file itself stays
// as it was.
#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTableView>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

#include "app/inspector/inspector.h"
#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "app/tools/test_copy.h"
#include "support/test_files.h"
#include "support/window_start.h"
#include "testgen/filegen.h"
#include "verify/message_reader.h"

using namespace kalvrin;

namespace {

constexpr char kKey[] = "A4F1C07B3E9D2658";  // the generator's key

QStringList Listed(const TestCopyTools& tools) {
  QStringList lines;
  for (int i = 0; i < tools.Page->List->count(); ++i) lines << tools.Page->List->item(i)->text();
  return lines;
}

}  // namespace

class TestCopyWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void editsAreListedUndoneAndSaved() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("in.dat");
    filegen::FileOptions options;
    options.size = 12000;
    QVERIFY(filegen::WriteGeneratedFile(path.toStdString(), options));
    const std::string before = test::ReadFileBytes(path.toStdString());

    KalvrinWindows windows = CreateWindows(dir.filePath("kalvrin"), std::make_unique<test::QuietDialogs>());
    TMainForm& form = *windows.mainForm;
    form.show();
    form.txtINFile->setText(path);
    form.txtCHECKKey->setText(kKey);
    form.bbtnCheckFormatClick();
    TestCopyTools& tools = *form.TestCopy;
    QCOMPARE(form.pgResult->tabText(form.pgResult->indexOf(tools.Page)), QString("Edits"));
    QCOMPARE(Listed(tools), QStringList{test_copy_text::kNoEdits});
    QVERIFY(!tools.UndoAction->isEnabled());

    // the grid's third row: its message copied, then the fourth's deleted
    form.FormatGrid->setCurrentIndex(form.FormatGrid->model()->index(2, 1));
    tools.CopyAction->trigger();
    form.FormatGrid->setCurrentIndex(form.FormatGrid->model()->index(3, 1));
    tools.DeleteAction->trigger();
    tools.Edits.add({rewrite::EditKind::Set, 3, 11, "917253"});
    QCOMPARE(Listed(tools), (QStringList{"copy 3", "delete 4", "set 3:P11=917253"}));
    QVERIFY(tools.Edits.touches(3, 11));
    QVERIFY(tools.Edits.touches(4, 2));
    QVERIFY(!tools.Edits.touches(5, 2));
    // the grid shows them in another colour: the edited element's cell, every cell of a whole message
    const QAbstractItemModel& grid = *form.FormatGrid->model();
    auto marked = [&](int row, int column) { return grid.index(row, column).data(Qt::BackgroundRole).isValid(); };
    int p11 = -1;
    for (int column = 0; column < grid.columnCount(); ++column) {
      if (grid.headerData(column, Qt::Horizontal).toString().startsWith("P11")) p11 = column;
    }
    QVERIFY(p11 > 0);
    QVERIFY(marked(2, p11));
    QVERIFY(!marked(1, p11));
    QVERIFY(marked(3, 1));
    QVERIFY(!marked(4, 1));
    tools.Edits.add({rewrite::EditKind::Set, 5, 11, "000001"});
    QVERIFY(marked(4, p11));
    QVERIFY(!marked(4, 1));
    QVERIFY(tools.Edits.undo());
    QVERIFY(!marked(4, p11));

    // Ctrl+Z on the Edits page takes back the last edit
    QVERIFY(tools.UndoAction->isEnabled());
    form.pgResult->setCurrentWidget(tools.Page);
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    tools.Page->List->setFocus();
    QTest::keyClick(tools.Page->List, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(Listed(tools), (QStringList{"copy 3", "delete 4"}));

    TestCopyChoice choice;
    choice.out = dir.filePath("copy.dat").toStdString();
    choice.renumber = choice.retotal = choice.remac = true;
    bool written = false;
    const QString status = tools.save(choice, written);
    QVERIFY2(written, qPrintable(status));
    QVERIFY(status.startsWith("Test copy written: "));
    QCOMPARE(test::ReadFileBytes(path.toStdString()), before);
    const std::string copy = test::ReadFileBytes(choice.out);
    QCOMPARE(copy.size(), before.size());  // one message more, one less

    // a refusal is the status text, and nothing is written
    choice.out = path.toStdString();
    QCOMPARE(tools.save(choice, written), QString("OUT is the input file itself; a test copy goes to another file"));
    QVERIFY(!written);
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  TestCopyWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_copy_window_test.moc"
