// The desktop window, offscreen: start-up and settings, the commands on the
// sample files, Clear, Open, the dialogs, the grid's row store and the grid
// against the headless surface's, the message inspector, errors that
// escape a handler, the MAC check's verdict, the desktop habits (a file from
// the command line or a drop, the keyboard, recent files, help, why a file
// cannot be opened), and what happens when the window closes or clears
// during a format check.
#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <new>
#include <numeric>
#include <optional>
#include <random>
#include <stdexcept>
#include <thread>

#include "app/dialogs/about_form.h"
#include "app/dialogs/config_form.h"
#include "app/grid/find_bar.h"
#include "app/grid/grid_model.h"
#include "app/grid/grid_tools.h"
#include "app/dialogs/help_form.h"
#include "app/findings/verify_runner.h"
#include "app/kalvrin_application.h"
#include "app/inspector/inspector.h"
#include "app/main_form.h"
#include "grid/row_store.h"
#include "app/widget_helpers.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "testgen/filegen.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"
#include "mac/mac_explain.h"
#include "support/grid_texts.h"
#include "support/test_files.h"

using namespace kalvrin;

namespace {

const QColor kBlack(0, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
// The caption the window takes when it closes: the program's name and its configured version.
const QString kCaptionAtClose = QStringLiteral("KALVRIN " KALVRIN_TEST_VERSION);

// Answers the window's questions in place of a person.
struct FakeDialogs : UserDialogs {
  std::deque<std::optional<QString>> files;  // next answers of the open-file dialog
  QStringList startFolders;
  QStringList errors;
  QStringList unwritable;
  bool closeAnyway = false;
  std::function<void()> onChooseFile;

  std::optional<QString> chooseFile(QWidget*, const QString& initialFolder) override {
    startFolders << initialFolder;
    if (onChooseFile) onChooseFile();
    std::optional<QString> answer = files.empty() ? std::nullopt : files.front();
    if (!files.empty()) files.pop_front();
    return answer;
  }
  void showError(QWidget*, const QString& text) override { errors << text; }
  bool closeWithoutSaving(QWidget*, const QString& text) override {
    unwritable << text;
    return closeAnyway;
  }
};

// One start of the program in a folder of its own: the executable stands at
// <folder>/kalvrin, its settings at <folder>/kalvrin.ini.
struct Started {
  FakeDialogs* dialogs = nullptr;
  KalvrinWindows windows;
  TMainForm& form() const { return *windows.mainForm; }
};

QString ExecutableIn(const QTemporaryDir& dir) { return dir.filePath("kalvrin"); }
QString SettingsIn(const QTemporaryDir& dir) { return dir.filePath("kalvrin.ini"); }

// Shows the window and waits until it is the active one, as a user's
// window is when keys reach it.
bool ShownActive(QWidget& form) {
  form.show();
  form.activateWindow();
  return QTest::qWaitForWindowActive(&form);
}

Started Start(const QTemporaryDir& dir) {
  Started started;
  auto dialogs = std::make_unique<FakeDialogs>();
  started.dialogs = dialogs.get();
  started.windows = CreateWindows(ExecutableIn(dir), std::move(dialogs));
  return started;
}

void WriteText(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(text);
}

QByteArray ReadText(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

QString Sample(const char* name) { return QString::fromStdString(test::SamplePath(name).string()); }

QString Status(const TMainForm& form, int panel) { return form.StatusPanels[static_cast<std::size_t>(panel)]->text(); }

QString Cell(const TMainForm& form, int col, int row) { return QString::fromStdString(form.gridCell(col, row)); }

QColor TextColourOf(const QLineEdit* edit) { return edit->palette().color(QPalette::Text); }

bool CommandButtonsEnabled(const TMainForm& form) {
  return form.bbtnFileOpen->isEnabled() && form.bbtnCheckFormat->isEnabled() && form.bbtnCheckMac->isEnabled() &&
         form.bbtnExit->isEnabled();
}

bool CommandButtonsDisabled(const TMainForm& form) {
  return !form.bbtnFileOpen->isEnabled() && !form.bbtnCheckFormat->isEnabled() && !form.bbtnCheckMac->isEnabled() &&
         !form.bbtnExit->isEnabled();
}

// A transaction file of `copies` times the sample, big enough that a format
// check is still running after many pumps of the event loop.
QString RepeatedSample(const QTemporaryDir& dir, int copies) {
  const QByteArray sample = ReadText(Sample("batch-nsp.dat"));
  QByteArray bytes;
  for (int i = 0; i < copies; ++i) bytes += sample;
  const QString path = dir.filePath("big.dat");
  WriteText(path, bytes);
  return path;
}

// A generated transaction file of about `size` bytes.
QString GeneratedFile(const QTemporaryDir& dir, std::uint64_t size) {
  const QString path = dir.filePath("generated.dat");
  const bool written = filegen::WriteGeneratedFile(QFile::encodeName(path).toStdString(), {.size = size, .seed = 9});
  if (!written) qWarning("cannot write %s", qPrintable(path));
  return path;
}

// Calls `action` at every turn of the event loop while `command` runs.
QTimer* WhileCommandRuns(TMainForm& form, Command command, std::function<void()> action) {
  auto* timer = new QTimer(&form);
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, &form, [&form, command, action] {
    if (form.runningCommand() == command) action();
  });
  timer->start();
  return timer;
}

// The bytes the inspector's hex view highlights, read back from its hex
// digits, and the same bytes as its character column shows them.
struct Highlight {
  QByteArray bytes;
  QString chars;
};

Highlight HighlightOf(const MessageInspector& inspector) {
  Highlight seen;
  for (const QTextEdit::ExtraSelection& selection : inspector.HexView->extraSelections()) {
    const QString text = selection.cursor.selectedText();
    QTextCursor start = selection.cursor;
    start.setPosition(selection.cursor.selectionStart());
    // A line is its offset and two spaces (12), 16 hex bytes (48), a space, then the characters.
    if (start.positionInBlock() < 60) {
      seen.bytes += QByteArray::fromHex(QString(text).remove(QLatin1Char(' ')).toLatin1());
    } else {
      seen.chars += text;
    }
  }
  return seen;
}

// The element table's column, found by its title as a user reads it.
QString PartCell(const MessageInspector& inspector, int row, const QString& title) {
  const QAbstractItemModel* model = inspector.ElementGrid->model();
  for (int col = 0; col < model->columnCount(); ++col) {
    if (model->headerData(col, Qt::Horizontal).toString() == title) return model->data(model->index(row, col)).toString();
  }
  return QStringLiteral("<no column %1>").arg(title);
}

// Where an edit draws its text: inside its frame.
QRect TextRoom(const QLineEdit* edit) {
  QStyleOptionFrame frame;
  frame.initFrom(edit);
  frame.lineWidth = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &frame, edit);
  return edit->style()->subElementRect(QStyle::SE_LineEditContents, &frame, edit);
}

// The edit shows its whole text on one line: no part of it is scrolled
// out of sight or cut with an ellipsis. QLineEdit keeps two pixels free at
// either side of its text and one for the cursor.
bool ShownWhole(const QLineEdit* edit) {
  if (const auto* eliding = dynamic_cast<const ElidingEdit*>(edit); eliding != nullptr && !edit->hasFocus()) {
    return eliding->shownText() == edit->text();
  }
  return edit->fontMetrics().horizontalAdvance(edit->text()) + 1 <= TextRoom(edit).width() - 4;
}

void ClickGridCell(const TMainForm& form, int viewRow, int column) {
  const QModelIndex index = form.FormatGrid->model()->index(viewRow, column);
  form.FormatGrid->scrollTo(index);
  QTest::mouseClick(form.FormatGrid->viewport(), Qt::LeftButton, {}, form.FormatGrid->visualRect(index).center());
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  // ---- start-up and the settings file ----------------------------------

  void firstStartWithoutSettingsFile() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    QCOMPARE(form.pos(), QPoint(100, 100));
    QCOMPARE(form.size(), QSize(770, 460));
    QVERIFY(!form.isMaximized());
    QCOMPARE(form.windowTitle(), QString("KALVRIN "));
    QCOMPARE(form.txtCHECKKey->text(), QString("A4F1C07B3E9D2658"));
    QCOMPARE(form.txtINFile->text(), ExecutableIn(dir));
    QCOMPARE(form.txtINFile->palette().color(QPalette::Text), QColor(128, 128, 128));
    // The hidden check-value edit holds the default key's KCV in parentheses.
    QCOMPARE(form.txtCHECKKcv->text(), QString("(B690D735)"));
    QVERIFY(form.txtCHECKKcv->isHidden());
    QVERIFY(!form.txtCHECKKcv->isEnabled());
    QVERIFY(form.btnConfig->isHidden());
    QCOMPARE(form.cmbShortName->currentText(), QString("testkey"));
    QCOMPARE(form.cmbShortName->count(), 0);
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QCOMPARE(form.pgResult->tabPosition(), QTabWidget::South);
    for (int e = 0; e < kEditCount; ++e) QVERIFY2(form.edit(static_cast<Edit>(e))->text().isEmpty(), kEditNames[e].data());
    for (int panel = 0; panel < 3; ++panel) QVERIFY(Status(form, panel).isEmpty());
    QCOMPARE(form.ProgressBar1->minimum(), 0);
    QCOMPARE(form.ProgressBar1->maximum(), 100);
    QCOMPARE(form.ProgressBar1->value(), 0);
    // The grid: title row shown as the fixed header, one empty row below it.
    QCOMPARE(form.gridRowCount(), 2);
    QCOMPARE(form.FormatGrid->model()->rowCount(), 1);
    QCOMPARE(form.FormatGrid->model()->columnCount(), 41);
    QCOMPARE(form.FormatGrid->model()->headerData(0, Qt::Horizontal).toString(), QString("Rec#"));
    QCOMPARE(form.FormatGrid->model()->headerData(6, Qt::Horizontal).toString(), QString("P3 (proc.code"));
    QCOMPARE(form.FormatGrid->model()->headerData(40, Qt::Horizontal).toString(), QString("SIZE"));
    const int widths[][2] = {{0, 32}, {1, 36}, {2, 36}, {3, 104}, {4, 104}, {5, 32}, {40, 32}};
    for (const auto& w : widths) QCOMPARE(form.FormatGrid->columnWidth(w[0]), w[1]);
    QVERIFY(!QFile::exists(SettingsIn(dir)));

    QVERIFY(form.close());
    QCOMPARE(form.windowTitle(), kCaptionAtClose);
    QCOMPARE(ReadText(SettingsIn(dir)),
             "[Form]\nTop=100\nLeft=100\nHeight=460\nWidth=770\nCaption=" + kCaptionAtClose.toLatin1() +
                 "\nInitMax=0\n\n\n[SDES-KEYS]\nTESTKEY=A4F1C07B3E9D2658\n");
    Started again = Start(dir);
    QCOMPARE(again.form().windowTitle(), kCaptionAtClose);
  }

  // What the status panels say after each command is read whole, and the
  // MAC group's edits take no more characters than their values have.
  void statusTextsFitTheirPanelsAndTypingLimits() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    const std::pair<const char*, std::function<void()>> commands[] = {
        {"ISO", [&] { form.bbtnCheckFormatClick(); }},
        {"MAC", [&] { form.bbtnCheckMacClick(); }},
        {"Verify", [&] { form.Verify->trigger(); }},
        {"ISO on a missing file", [&] {
           form.txtINFile->setText(dir.filePath("missing.dat"));
           form.bbtnCheckFormatClick();
         }}};
    for (const auto& [name, run] : commands) {
      run();
      QStringList said;
      for (const QLabel* panel : form.StatusPanels) {
        said << panel->text();
        QVERIFY2(panel->fontMetrics().horizontalAdvance(panel->text()) <= panel->contentsRect().width(),
                 qPrintable(QStringLiteral("%1: \"%2\" is cut").arg(name, panel->text())));
      }
      QVERIFY2(!said.join("").isEmpty(), name);
    }
    const struct {
      QLineEdit* edit;
      int limit;
    } limits[] = {{form.txtINFileKcv, 8}, {form.txtINFileMacVer, 2}, {form.txtINFileMacMeth, 1}, {form.txtINFileMac, 8}};
    for (const auto& [edit, limit] : limits) {
      QTest::keyClicks(edit, "1234567890");
      QCOMPARE(edit->text().size(), limit);
    }
  }

  // From the key edit, the keyboard reaches every edit and button a person
  // can see beside the results, each once and none that is hidden: Tab on
  // to the result pages, Shift+Tab back round to those after them.
  void keyboardReachesEveryVisibleControlOnce() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    QWidget* results = form.Result;
    QSet<QWidget*> visible;
    for (QWidget* widget : form.centralWidget()->findChildren<QWidget*>()) {
      const bool control = qobject_cast<QLineEdit*>(widget) != nullptr || qobject_cast<QPushButton*>(widget) != nullptr ||
                           qobject_cast<QComboBox*>(widget) != nullptr;
      if (control && widget->isVisible() && widget->isEnabled() && !results->isAncestorOf(widget) &&
          qobject_cast<QComboBox*>(widget->parentWidget()) == nullptr) {
        visible << widget;
      }
    }
    const auto focused = [] {
      QWidget* widget = QApplication::focusWidget();
      if (widget != nullptr && qobject_cast<QComboBox*>(widget->parentWidget()) != nullptr) return widget->parentWidget();
      return widget;
    };
    const auto walk = [&](Qt::Key key) {
      QList<QWidget*> seen{form.txtCHECKKey};
      form.txtCHECKKey->setFocus();
      for (int press = 0; press < 40; ++press) {
        QTest::keyClick(QApplication::focusWidget(), key);
        QWidget* now = focused();
        if (now == nullptr || results->isAncestorOf(now) || now == form.txtCHECKKey) break;
        seen << now;
      }
      return seen;
    };
    const QList<QWidget*> forward = walk(Qt::Key_Tab);
    const QList<QWidget*> backward = walk(Qt::Key_Backtab);
    QList<QWidget*> reached = forward;
    for (QWidget* widget : backward) {
      if (!reached.contains(widget)) reached << widget;
    }
    QCOMPARE(QSet<QWidget*>(forward.begin(), forward.end()).size(), forward.size());  // none twice
    QCOMPARE(QSet<QWidget*>(backward.begin(), backward.end()).size(), backward.size());
    QCOMPARE(QSet<QWidget*>(reached.begin(), reached.end()), visible);
    QVERIFY(forward.contains(form.txtINFile) && forward.contains(form.bbtnFileOpen));
  }

  // Controls keep their distances to the edges they are anchored to.
  void anchorsFollowTheWindow() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    QWidget* controls[] = {form.Keys, form.File, form.Result, form.pgResult, form.FormatGrid,
                           form.bbtnCheckMac, form.bbtnFileOpen, form.txtINFile, form.ProgressBar1};
    QList<QRect> before;
    for (QWidget* c : controls) before << c->geometry();
    form.resize(form.width() + 100, form.height() + 50);
    QList<QRect> after;
    for (QWidget* c : controls) after << c->geometry();
    QCOMPARE(after[0], before[0]);                                    // Keys: left and top only
    QCOMPARE(after[1], before[1]);                                    // File
    for (int i : {2, 3, 4}) {                                         // Result, pgResult, FormatGrid: all four sides
      QCOMPARE(after[i].topLeft(), before[i].topLeft());
      QCOMPARE(after[i].size(), before[i].size() + QSize(100, 50));
    }
    for (int i : {5, 6}) QCOMPARE(after[i], before[i].translated(0, 50));  // buttons: left and bottom
    for (int i : {7, 8}) {                                                  // file edit, progress bar
      QCOMPARE(after[i].topLeft(), before[i].topLeft() + QPoint(0, 50));
      QCOMPARE(after[i].size(), before[i].size() + QSize(100, 0));
    }
  }

  // Bytes above 0x7F from the file show as their Latin-1 characters.
  void singleByteTextsShowAsLatin1() {
    QTemporaryDir dir;
    const QString path = dir.filePath("latin1.dat");
    WriteText(path, QByteArray::fromStdString(filegen::BuildMessage("1140", {{41, "CAF\xC9 TERMINAL 01"}}) + "  "));
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(path);
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Format processed"));
    const QModelIndex cell = form.FormatGrid->model()->index(0, 19);
    QCOMPARE(form.FormatGrid->model()->data(cell).toString(), QString::fromUtf8("CAF\u00C9 TERMINAL 01"));
  }

  void settingsSurviveARun() {
    QTemporaryDir dir;
    WriteText(SettingsIn(dir), "; kept by hand\n[Other]\nname=value\n[Form]\nCaption=Hand made\n");
    {
      Started s = Start(dir);
      TMainForm& form = s.form();
      QCOMPARE(form.windowTitle(), QString("Hand made"));
      form.move(37, 21);
      form.resize(701, 502);
      form.txtCHECKKey->clear();  // an empty key is stored, not left out
      QVERIFY(form.close());
    }
    const QByteArray text = ReadText(SettingsIn(dir));
    QVERIFY(text.contains("; kept by hand"));
    QVERIFY(text.contains("[Other]\nname=value"));
    QVERIFY(text.contains("TESTKEY=\n"));
    Started s = Start(dir);
    TMainForm& form = s.form();
    QCOMPARE(form.pos(), QPoint(37, 21));
    QCOMPARE(form.size(), QSize(701, 502));
    QCOMPARE(form.windowTitle(), kCaptionAtClose);
    QCOMPARE(form.txtCHECKKey->text(), QString());
  }

  // Bounds from a larger screen or typed by hand are kept on this screen
  // (and written back so); a file too large to be a settings file is not
  // read, and the status line says so.
  void settingsThatCannotBeUsedAsTheyStand() {
    QTemporaryDir dir;
    WriteText(SettingsIn(dir), "[Form]\nTop=-5000\nLeft=70000\nHeight=99999\nWidth=99999\nCaption=Far away\n");
    {
      Started s = Start(dir);
      TMainForm& form = s.form();
      const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
      QVERIFY(room.contains(form.geometry().topLeft()));
      QVERIFY(form.width() <= room.width() && form.height() <= room.height());
      QCOMPARE(form.windowTitle(), QString("Far away"));
      QVERIFY(Status(form, 2).isEmpty());
      QVERIFY(form.close());
    }
    QVERIFY(!ReadText(SettingsIn(dir)).contains("99999"));

    QByteArray huge = "[Form]\nCaption=Never read\n";
    huge.append(QByteArray(2 * 1024 * 1024, ';'));
    WriteText(SettingsIn(dir), huge);
    Started s = Start(dir);
    TMainForm& form = s.form();
    QCOMPARE(form.windowTitle(), QString("KALVRIN "));
    QCOMPARE(form.txtCHECKKey->text(), QString("A4F1C07B3E9D2658"));
    QVERIFY2(Status(form, 2).contains(SettingsIn(dir)), qPrintable(Status(form, 2)));
  }

  void settingsEncodings_data() {
    QTest::addColumn<QByteArray>("form");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("left");
    QTest::addColumn<bool>("maximised");
    QTest::newRow("0x hexadecimal") << QByteArray("Top=0x64\nLeft=0X20\n") << 100 << 32 << false;
    QTest::newRow("$ and x hexadecimal") << QByteArray("Top=$1F\nLeft=xa\n") << 31 << 10 << false;
    QTest::newRow("blanks and signs") << QByteArray("Top=  -40\nLeft=+7\n") << -40 << 7 << false;
    QTest::newRow("not a number gives the default") << QByteArray("Top=12abc\nLeft=\n") << 100 << 100 << false;
    QTest::newRow("beyond 32 bits gives the default") << QByteArray("Top=2147483648\n") << 100 << 100 << false;
    QTest::newRow("InitMax 0x1") << QByteArray("InitMax=0x1\n") << 100 << 100 << true;
    QTest::newRow("InitMax 5") << QByteArray("InitMax=5\n") << 100 << 100 << true;
    QTest::newRow("InitMax abc") << QByteArray("InitMax=abc\n") << 100 << 100 << false;
    QTest::newRow("InitMax 0") << QByteArray("InitMax=0\n") << 100 << 100 << false;
  }
  void settingsEncodings() {
    QFETCH(QByteArray, form);
    QFETCH(int, top);
    QFETCH(int, left);
    QFETCH(bool, maximised);
    QTemporaryDir dir;
    WriteText(SettingsIn(dir), "[Form]\n" + form);
    Started s = Start(dir);
    QCOMPARE(s.form().isMaximized(), maximised);
    if (!maximised) QCOMPARE(s.form().pos(), QPoint(left, top));
  }

  void longAndBlankTextsFromTheFile() {
    QTemporaryDir dir;
    const QByteArray longKey(3000, 'K');
    WriteText(SettingsIn(dir), "[Form]\nCaption=\"  two blanks  \"\n[SDES-KEYS]\nTESTKEY=" + longKey + "\n");
    Started s = Start(dir);
    QCOMPARE(s.form().windowTitle(), QString("  two blanks  "));
    // Longer than the edit's typing limit, shown in full up to the file's cut.
    QCOMPARE(s.form().txtCHECKKey->text(), QString(2047, 'K'));
  }

  void maximisedAtCloseStartsMaximised() {
    QTemporaryDir dir;
    {
      Started s = Start(dir);
      s.form().showMaximized();
      QVERIFY(s.form().close());
    }
    QVERIFY(ReadText(SettingsIn(dir)).contains("InitMax=1\n"));
    Started s = Start(dir);
    QVERIFY(s.form().isMaximized());
  }

  // A copy whose folder takes no new files keeps its settings in the user's
  // configuration folder, readable by its owner only; and while the window
  // holds a key, the process makes no core dump.
  void settingsInTheUsersFolderWhenTheProgramFolderIsReadOnly() {
    QTemporaryDir config;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    const bool hadConfig = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const int dumpableBefore = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
    {
      KalvrinWindows windows = CreateWindows("/proc/self/kalvrin", std::make_unique<FakeDialogs>());
      TMainForm& form = *windows.mainForm;
      QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
      form.show();
      form.txtCHECKKey->setText("1C587F1C13924FEF");
      QVERIFY(form.close());
    }
    QCOMPARE(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), dumpableBefore);
    const QString file = config.filePath("kalvrin/kalvrin.ini");
    QVERIFY(ReadText(file).contains("TESTKEY=1C587F1C13924FEF\n"));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, 0600U);
    {
      KalvrinWindows windows = CreateWindows("/proc/self/kalvrin", std::make_unique<FakeDialogs>());
      QCOMPARE(windows.mainForm->txtCHECKKey->text(), QString("1C587F1C13924FEF"));
    }
    if (hadConfig) {
      qputenv("XDG_CONFIG_HOME", oldConfig);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }

  // The settings file cannot be written: the user chooses to stay or to go.
  void unwritableSettingsFileDoesNotTrapTheUser() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("kalvrin.ini"));  // a folder where the file should be
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QCOMPARE(s.dialogs->unwritable, QStringList{"Unable to write to " + SettingsIn(dir)});
    QVERIFY(CommandButtonsEnabled(form));

    s.dialogs->closeAnyway = true;
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
    QCOMPARE(s.dialogs->unwritable.size(), 2);
  }

  // ---- the commands ------------------------------------------------------

  void isoOnSampleFiles() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();

    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Format processed"));
    QCOMPARE(Status(form, 1), QString("2478"));
    QCOMPARE(form.gridRowCount(), 9);
    QCOMPARE(form.FormatGrid->model()->rowCount(), 8);
    for (int row = 1; row <= 8; ++row) QCOMPARE(Cell(form, 0, row), QString::number(row));
    QCOMPARE(Cell(form, 1, 1), QString("1644"));
    QCOMPARE(Cell(form, 1, 8), QString("1844"));
    QCOMPARE(Cell(form, 2, 8), QString("971"));
    QCOMPARE(Cell(form, 14, 8), QString("971"));
    QCOMPARE(Cell(form, 37, 8), QString("4F47F843"));
    // The view shows what the grid holds.
    const QModelIndex macCell = form.FormatGrid->model()->index(7, 37);
    QCOMPARE(form.FormatGrid->model()->data(macCell).toString(), QString("4F47F843"));
    QCOMPARE(form.txtINFileMac->text(), QString("4F47F843"));
    QCOMPARE(form.ProgressBar1->value(), form.ProgressBar1->maximum());
    QVERIFY(CommandButtonsEnabled(form));
    QVERIFY(QApplication::overrideCursor() == nullptr);

    form.txtINFile->setText(Sample("batch-bad-prefix.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Error Process P 35 Len: '1A'"));
    QCOMPARE(form.gridRowCount(), 4);
    QCOMPARE(Cell(form, 0, 3), QString("3"));
    QVERIFY(Cell(form, 16, 3).isEmpty());
    QVERIFY(CommandButtonsEnabled(form));

    form.txtINFile->clear();
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Processing format"));
    QCOMPARE(Status(form, 1), QString("Cannot open file"));
    QCOMPARE(form.gridRowCount(), 2);
    QVERIFY(CommandButtonsEnabled(form));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void macOnSampleFiles_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("macs");     // MACALL, MACNHD, MACNSP
    QTest::addColumn<QStringList>("colours");  // r or g for each
    QTest::addColumn<QString>("declared");
    QTest::newRow("batch-nsp") << Sample("batch-nsp.dat") << "A4F1C07B3E9D2658"
                               << QStringList{"022E4A9E", "46B45CB2", "4F47F843"} << QStringList{"r", "r", "g"}
                               << "4F47F843";
    QTest::newRow("batch-nhd") << Sample("batch-nhd.dat") << "1C587F1C13924FEF"
                               << QStringList{"FAC76B4A", "7AAE5FFA", "480F0E01"} << QStringList{"r", "g", "r"}
                               << "7AAE5FFA";
  }
  void macOnSampleFiles() {
    QFETCH(QString, file);
    QFETCH(QString, key);
    QFETCH(QStringList, macs);
    QFETCH(QStringList, colours);
    QFETCH(QString, declared);
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(file);
    form.txtCHECKKey->setText(key);
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 2), QString("MAC processed"));
    QCOMPARE(form.txtINFileMac->text(), declared);
    QCOMPARE(form.txtINFileMacMeth->text(), QString("1"));
    QCOMPARE(form.txtINFileMacVer->text(), QString("01"));
    const QLineEdit* results[3] = {form.txtCalcMacAll, form.txtCalcMacNHD, form.txtCalcMacNSP};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(results[i]->text(), macs[i]);
      QCOMPARE(TextColourOf(results[i]), colours[i] == "g" ? kGreen : kRed);
    }
    QCOMPARE(form.txtCHECKKcv->text(), QString("(B690D735)"));  // only a copy reaches the check
    QVERIFY(CommandButtonsEnabled(form));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  void macWithEmptyPath() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->clear();
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 2), QString("DORV open error"));
    QCOMPARE(Status(form, 1), QString("MAC Records error"));
    QVERIFY(CommandButtonsEnabled(form));
    QVERIFY(QApplication::overrideCursor() == nullptr);
  }

  // A key text with a letter O for a zero is refused like one of the wrong
  // length, not taken for another key that makes every MAC red.
  void macRefusesAKeyThatIsNotHex() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtCHECKKey->setText("A4F1C07B3E9D265O");
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 1), QString("Create KCV error "));
    QCOMPARE(form.txtCalcMacNSP->text(), QString());
    QCOMPARE(TextColourOf(form.txtCalcMacNSP), kBlack);
    QVERIFY(CommandButtonsEnabled(form));
  }

  // A named pipe and a folder: one text each in the status bar, and the
  // window free again at once. Opening a pipe used to wait for a writer,
  // freezing the window; should it wait again, a writer turns up after 5 s
  // so that the test fails instead of hanging.
  void unreadableFilesShowOneTextWithoutWaiting() {
    QTemporaryDir dir;
    const QByteArray fifo = dir.filePath("pipe.dat").toLocal8Bit();
    QVERIFY(::mkfifo(fifo.constData(), 0644) == 0);
    std::atomic<bool> done{false};
    std::thread writer([&] {
      for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      while (!done) {
        const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
    Started s = Start(dir);
    TMainForm& form = s.form();
    QElapsedTimer clock;
    clock.start();
    for (const QString& path : {QString::fromLocal8Bit(fifo), dir.path()}) {
      form.txtINFile->setText(path);
      form.bbtnCheckFormatClick();
      QCOMPARE(Status(form, 1), QString("Cannot open file"));
      QCOMPARE(Status(form, 2), QString("Processing format"));
      form.bbtnCheckMacClick();
      QCOMPARE(Status(form, 1), QString("MAC Records error"));
      QCOMPARE(Status(form, 2), QString("DORV open error"));
      QVERIFY(CommandButtonsEnabled(form));
    }
    const qint64 elapsed = clock.elapsed();
    done = true;
    writer.join();
    QVERIFY2(elapsed < 5000, "a check waited for the pipe's writer");
  }

  // The settings file changes when the window closes and at no other time:
  // not through the checks, Clear or a new key.
  void settingsFileIsWrittenOnlyAtClose() {
    QTemporaryDir dir;
    const QByteArray original("[Form]\nTop=120\n");
    WriteText(SettingsIn(dir), original);
    const QDateTime longAgo = QDateTime::fromSecsSinceEpoch(1'000'000'000);
    {
      QFile file(SettingsIn(dir));
      QVERIFY(file.open(QIODevice::ReadWrite));
      QVERIFY(file.setFileTime(longAgo, QFileDevice::FileModificationTime));
    }
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    form.bbtnCheckMacClick();
    form.txtCHECKKey->setText("1C587F1C13924FEF");
    form.bbtnCheckMacClick();
    form.bbtnClearClick();
    QCOMPARE(ReadText(SettingsIn(dir)), original);
    QCOMPARE(QFileInfo(SettingsIn(dir)).lastModified(), longAgo);
    QVERIFY(form.close());
    QVERIFY(ReadText(SettingsIn(dir)).contains("TESTKEY=1C587F1C13924FEF\n"));
  }

  // While a command runs: busy cursor, Open, ISO, MAC and Exit disabled.
  void busyStateWhileCommandsRun() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.setEventPumpInterval(0);
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    std::optional<bool> busyDuringIso;
    QTimer::singleShot(0, &form, [&] {
      busyDuringIso = CommandButtonsDisabled(form) && QApplication::overrideCursor() != nullptr &&
                      QApplication::overrideCursor()->shape() == Qt::WaitCursor &&
                      Status(form, 2) == "Processing format";
    });
    form.bbtnCheckFormatClick();
    QVERIFY(busyDuringIso.has_value());
    QVERIFY(*busyDuringIso);

    // The MAC check lets no event run; what it paints before it starts is
    // the busy window with "Processing MAC".
    struct PaintWatch : QObject {
      TMainForm* form;
      std::optional<bool> busy;
      bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && !busy) {
          busy = CommandButtonsDisabled(*form) && Status(*form, 2) == "Processing MAC";
        }
        return false;
      }
    } watch;
    watch.form = &form;
    form.StatusPanels[2]->installEventFilter(&watch);
    form.bbtnCheckMacClick();
    form.StatusPanels[2]->removeEventFilter(&watch);
    QVERIFY(watch.busy.has_value());
    QVERIFY(*watch.busy);
    QVERIFY(CommandButtonsEnabled(form));
  }

  // One command at a time: ISO, MAC or Verify called while another runs
  // (past the disabled buttons, or from the menu) neither runs nor ends the
  // busy state of the command in progress.
  void noSecondCommandInsideARunningOne() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.setEventPumpInterval(0);
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    int verifyRuns = 0;
    form.setVerifyRunner([&](const std::string&, const std::string&, const VerifyControl& control) {
      ++verifyRuns;
      control.progress(VerifyPhase::Messages, 1, 2);
      FindingsRun run;
      run.read = true;
      return run;
    });
    const auto others = [&form] {
      form.bbtnCheckFormatClick();
      form.bbtnCheckMacClick();
      form.Verify->trigger();
    };
    bool stillBusy = false;
    QTimer::singleShot(0, &form, [&] {
      others();
      stillBusy = CommandButtonsDisabled(form) && !form.Verify->isEnabled() && form.txtCalcMacNSP->text().isEmpty() &&
                  form.runningCommand() == Command::FormatCheck;
    });
    form.bbtnCheckFormatClick();
    QVERIFY(stillBusy);
    QCOMPARE(verifyRuns, 0);
    QCOMPARE(Status(form, 2), QString("Format processed"));
    QCOMPARE(form.gridRowCount(), 9);
    QVERIFY(CommandButtonsEnabled(form) && form.Verify->isEnabled());

    // Inside a running verify.
    form.bbtnClearClick();
    stillBusy = false;
    QTimer::singleShot(0, &form, [&] {
      others();
      stillBusy = CommandButtonsDisabled(form) && form.runningCommand() == Command::Verify;
    });
    form.Verify->trigger();
    QVERIFY(stillBusy);
    QCOMPARE(verifyRuns, 1);
    QCOMPARE(form.gridRowCount(), 2);
    QVERIFY(form.txtCalcMacNSP->text().isEmpty());
    QCOMPARE(Status(form, 2), QString(findings_text::kVerified));
    QVERIFY(CommandButtonsEnabled(form));
  }

  void clearEmptiesResultsAndKeepsInputs() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    form.bbtnCheckMacClick();
    form.setVerifyRunner([](const std::string&, const std::string&, const VerifyControl&) {
      FindingsRun run;
      run.read = true;
      run.findings = {{true, "element.date", 3, 700, 12, "P12 261399120000 is not a date"}};
      return run;
    });
    form.Verify->trigger();
    QCOMPARE(form.Findings->model().rowCount(), 1);
    QVERIFY(!form.Findings->labSummary->text().isEmpty());
    form.pgResult->setCurrentWidget(form.Mac);
    form.cmbShortName->setEditText("other");
    const int progressMax = form.ProgressBar1->maximum();
    QVERIFY(!form.txtCalcMacNSP->text().isEmpty());
    QVERIFY(form.gridRowCount() > 2);

    form.bbtnClearClick();
    for (int e = 0; e < kEditCount; ++e) QVERIFY2(form.edit(static_cast<Edit>(e))->text().isEmpty(), kEditNames[e].data());
    for (const QLineEdit* result : {form.txtCalcMacAll, form.txtCalcMacNHD, form.txtCalcMacNSP}) {
      QCOMPARE(TextColourOf(result), kBlack);
    }
    for (int panel = 0; panel < 3; ++panel) QVERIFY(Status(form, panel).isEmpty());
    QCOMPARE(form.ProgressBar1->value(), 0);
    QCOMPARE(form.ProgressBar1->maximum(), progressMax);
    QCOMPARE(form.gridRowCount(), 2);
    QVERIFY(Cell(form, 0, 1).isEmpty());
    QCOMPARE(Cell(form, 0, 0), QString("Rec#"));
    QCOMPARE(form.Findings->model().rowCount(), 0);
    QCOMPARE(form.Findings->FindingsGrid->model()->rowCount(), 0);
    QVERIFY(form.Findings->labSummary->text().isEmpty());
    // What Clear keeps.
    QCOMPARE(form.txtINFile->text(), Sample("batch-nsp.dat"));
    QCOMPARE(form.txtCHECKKey->text(), QString("A4F1C07B3E9D2658"));
    QCOMPARE(form.cmbShortName->currentText(), QString("other"));
    QCOMPARE(form.txtCHECKKcv->text(), QString("(B690D735)"));
    QCOMPARE(form.pgResult->currentWidget(), form.Mac);
  }

  void gridCellsAreEditableForDisplayOnly() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QAbstractItemModel* model = form.FormatGrid->model();
    QVERIFY(model->flags(model->index(0, 3)) & Qt::ItemIsEditable);
    QVERIFY(model->setData(model->index(0, 3), "edited"));
    QCOMPARE(Cell(form, 3, 1), QString("edited"));
    QCOMPARE(form.FormatGrid->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(form.FormatGrid->horizontalHeader()->sectionResizeMode(0), QHeaderView::Interactive);
    QVERIFY(form.FormatGrid->tabKeyNavigation());
    // A new check lays the grid out again.
    form.bbtnCheckFormatClick();
    QVERIFY(Cell(form, 3, 1) != "edited");
  }

  void openKeepsTheDialogsFileName() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    s.dialogs->files = {std::nullopt, QString("/data/first.dat"), std::nullopt};
    form.txtINFile->setText("/typed/by/hand.dat");
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), QString());  // cancelled, nothing chosen yet
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), QString("/data/first.dat"));
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), QString("/data/first.dat"));  // cancelled: the last choice
    QCOMPARE(s.dialogs->startFolders, QStringList(3, ExecutableIn(dir)));
  }

  void shortNameEnablesTheKeyEditsOnly() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtCHECKKey->setEnabled(false);
    QTest::keyClicks(form.cmbShortName->lineEdit(), "x");
    QVERIFY(form.txtCHECKKey->isEnabled());
    QVERIFY(form.txtCHECKKcv->isEnabled());
    QVERIFY(form.txtCHECKKcv->isHidden());
    QCOMPARE(form.txtCHECKKey->text(), QString("A4F1C07B3E9D2658"));
    QCOMPARE(form.txtCHECKKcv->text(), QString("(B690D735)"));
  }

  // The key edit takes a double-length key of 32 hex digits, typed or
  // pasted, and no more when typed; a longer key set by the program stays
  // whole and can be shortened. Under a 32-digit key whose halves are equal
  // the MAC check is the check under its left half; one whose halves differ
  // is refused as the key installation refuses it. The settings keep the
  // key as it was typed.
  void keyEditTakesADoubleLengthKey() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    form.txtCHECKKey->setFocus();
    form.txtCHECKKey->clear();
    QTest::keyClicks(form.txtCHECKKey, "0123456789ABCDEF0123456789abcdefGH");
    QCOMPARE(form.txtCHECKKey->text(), QString("0123456789ABCDEF0123456789abcdef"));
    const QString equalHalves = "A4F1C07B3E9D2658A4F1C07B3E9D2658";
    form.txtCHECKKey->clear();
    QGuiApplication::clipboard()->setText(equalHalves);
    QTest::keyClick(form.txtCHECKKey, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(form.txtCHECKKey->text(), equalHalves);
    form.txtCHECKKey->setText(QString(40, 'A'));  // a longer key from the file stays whole ...
    form.txtCHECKKey->end(false);
    QTest::keyClick(form.txtCHECKKey, Qt::Key_Backspace);  // ... and can still be shortened
    QCOMPARE(form.txtCHECKKey->text(), QString(39, 'A'));

    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtCHECKKey->setText(equalHalves);
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 2), QString("MAC processed"));
    QCOMPARE(form.txtCalcMacNSP->text(), QString("4F47F843"));
    QCOMPARE(TextColourOf(form.txtCalcMacNSP), kGreen);
    QVERIFY2(form.labKcvVerdict->text().contains("B690D735"), qPrintable(form.labKcvVerdict->text()));
    const QString differingHalves = "A4F1C07B3E9D26580123456789ABCDEF";
    form.txtCHECKKey->setText(differingHalves);
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 1), QString("InstallKey error: 1"));
    QVERIFY(form.txtCalcMacNSP->text().isEmpty());
    QCOMPARE(form.txtCHECKKey->text(), differingHalves);
    QVERIFY(form.close());
    QVERIFY(ReadText(SettingsIn(dir)).contains("TESTKEY=" + differingHalves.toLatin1() + "\n"));
  }

  // ---- About, Config, errors ---------------------------------------------

  void aboutBoxIsOneAndDoesNotBlock() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    TAboutForm* about = s.windows.aboutForm;
    form.show();
    QVERIFY(about->isHidden());
    QCOMPARE(about->windowTitle(), QString("Info"));
    QCOMPARE(about->Label1->text(), QString(" KALVRIN"));
    QVERIFY(about->Label1->font().bold());
    QCOMPARE(about->labVer->text(), QStringLiteral("  Ver: " KALVRIN_TEST_VERSION));
    form.VELDRUM1->trigger();
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    form.VELDRUM1->trigger();
    QCOMPARE(form.findChildren<TAboutForm*>().size(), 1);
    QVERIFY(about->isVisible());
    // The main window works beside it.
    form.bbtnClearClick();
    QVERIFY(CommandButtonsEnabled(form));
    about->close();
    QVERIFY(about->isHidden());
    form.VELDRUM1->trigger();
    QCOMPARE(about->labVer->text(), QStringLiteral("  Ver: " KALVRIN_TEST_VERSION));
  }

  void configDialogIsModalAndKeepsItsTicks() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    TConfigForm* config = s.windows.configForm;
    form.show();
    QCOMPARE(config->windowTitle(), QString("Config"));
    QCOMPARE(config->checkBoxes[0]->text(), QString("P2 - Sec.map"));
    QCOMPARE(config->checkBoxes[5]->text(), QString("P5"));
    bool wasModal = false;
    QTimer::singleShot(0, config, [&] {
      wasModal = QApplication::activeModalWidget() == config;
      config->checkBoxes[1]->setChecked(true);
      config->btnSave->click();  // does nothing
      QVERIFY(config->isVisible());
      config->btnExit->click();
    });
    form.btnConfigClick();
    QVERIFY(wasModal);
    QVERIFY(config->isHidden());
    bool stillTicked = false;
    QTimer::singleShot(0, config, [&] {
      stillTicked = config->checkBoxes[1]->isChecked();
      config->btnExit->click();
    });
    form.btnConfigClick();
    QVERIFY(stillTicked);
  }

  void errorEscapingAHandlerIsShown() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    s.dialogs->onChooseFile = [] { throw std::runtime_error("file dialog failed"); };
    form.bbtnFileOpenClick();
    QCOMPARE(s.dialogs->errors, QStringList{"file dialog failed"});
    // The window goes on.
    s.dialogs->onChooseFile = nullptr;
    s.dialogs->files = {QString("/data/next.dat")};
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), QString("/data/next.dat"));

    // The application's net catches what a handler outside the window throws.
    auto* app = static_cast<KalvrinApplication*>(QCoreApplication::instance());
    QStringList caught;
    app->setErrorHandler([&caught](const QString& text) { caught << text; });
    struct Throwing : QObject {
      bool event(QEvent*) override { throw std::runtime_error("handler failed"); }
    } throwing;
    QCoreApplication::postEvent(&throwing, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&throwing);
    QCOMPARE(caught, QStringList{"handler failed"});
  }

  // A failed allocation is named as such, and the window stays usable.
  void outOfMemoryIsShownAndTheWindowGoesOn() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    s.dialogs->onChooseFile = [] { throw std::bad_alloc(); };
    form.bbtnFileOpenClick();
    QCOMPARE(s.dialogs->errors, QStringList{"Out of memory"});
    QVERIFY(CommandButtonsEnabled(form));
    s.dialogs->onChooseFile = nullptr;
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Format processed"));
    QCOMPARE(form.gridRowCount(), 9);

    auto* app = static_cast<KalvrinApplication*>(QCoreApplication::instance());
    QStringList caught;
    app->setErrorHandler([&caught](const QString& text) { caught << text; });
    struct Throwing : QObject {
      bool event(QEvent*) override { throw std::bad_alloc(); }
    } throwing;
    QCoreApplication::postEvent(&throwing, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&throwing);
    QCOMPARE(caught, QStringList{"Out of memory"});
  }

  // ---- the message inspector --------------------------------------------------

  // A click on a grid cell decodes that row's message into the inspector,
  // with the cell's element selected and its bytes highlighted; the arrow
  // keys move through the elements.
  void inspectorShowsTheClickedRowsElements() {
    QTemporaryDir dir;
    std::string second = filegen::BuildMessage("1240", {{3, "000000"}, {4, "000000001000"}, {5, "000000000500"},
                                                         {71, "00000002"}});
    second.insert(36 + 6 + 5, "\r\n");  // a line end inside element 4
    const std::string head = "HDR\r\n" + filegen::BuildMessage("1644", {{24, "692"}}) + "  \r\n";
    const QString path = dir.filePath("inspect.dat");
    WriteText(path, QByteArray::fromStdString(head + second + "  "));
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.resize(1100, 700);
    form.show();
    form.txtINFile->setText(path);
    form.bbtnCheckFormatClick();
    QVERIFY(form.Inspector->isHidden());  // the window's layout until a row is selected

    ClickGridCell(form, 1, 7);  // row 2, "P4 (amt)"
    QVERIFY(form.Inspector->isVisible());
    const qint64 messageAt = static_cast<qint64>(head.size());
    QCOMPARE(form.Inspector->labMessage->text(), QStringLiteral("Message 2 at %1 (0x%2), %3 bytes, MTI 1240")
                                                     .arg(messageAt)
                                                     .arg(QString::number(messageAt, 16).toUpper())
                                                     .arg(second.size()));
    QStringList parts;
    for (int row = 0; row < form.Inspector->ElementGrid->model()->rowCount(); ++row) {
      parts << PartCell(*form.Inspector, row, "Element");
    }
    QCOMPARE(parts, QStringList({"MTI", "PMAP", "SMAP", "P3", "P4", "P5", "S71"}));
    QCOMPARE(PartCell(*form.Inspector, 4, "Title"), QString("P4 (amt)"));
    QCOMPARE(PartCell(*form.Inspector, 5, "Title"), QString());  // the grid has no column for element 5
    QCOMPARE(form.Inspector->ElementGrid->currentIndex().row(), 4);

    const qint64 elementAt = messageAt + 36 + 6;
    QCOMPARE(PartCell(*form.Inspector, 4, "Offset"),
             QStringLiteral("%1 (0x%2)").arg(elementAt).arg(QString::number(elementAt, 16).toUpper()));
    QCOMPARE(PartCell(*form.Inspector, 4, "Bytes"), QString("14"));
    Highlight seen = HighlightOf(*form.Inspector);
    QCOMPARE(seen.bytes, QByteArray("00000\r\n0001000"));
    QCOMPARE(seen.chars, QString("00000..0001000"));

    form.Inspector->ElementGrid->setFocus();
    QTest::keyClick(form.Inspector->ElementGrid, Qt::Key_Down);
    QCOMPARE(PartCell(*form.Inspector, form.Inspector->ElementGrid->currentIndex().row(), "Element"), QString("P5"));
    QCOMPARE(HighlightOf(*form.Inspector).bytes, QByteArray("000000000500"));

    // Another row: its own message, the clicked column's part.
    ClickGridCell(form, 0, 3);  // row 1, "PMAP"
    QVERIFY(form.Inspector->labMessage->text().startsWith("Message 1 at 5 (0x5)"));
    QCOMPARE(HighlightOf(*form.Inspector).bytes,
             QByteArray::fromStdString(filegen::EncodeBitmaps({{24, ""}}).substr(0, 16)));
  }

  // The check stopped on a bad prefix: the inspector names where it stands,
  // the status panel keeps its own text.
  void inspectorNamesTheBadPrefixsOffset() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.resize(1100, 700);
    form.show();
    form.txtINFile->setText(Sample("batch-bad-prefix.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Error Process P 35 Len: '1A'"));
    ClickGridCell(form, 2, 16);  // row 3, "P35 (track-2)"
    const QStringList lines = form.Inspector->labMessage->text().split('\n');
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[1], QString("Error Process P 35 Len: '1A' at offset 789 (0x315)"));
    const int last = form.Inspector->ElementGrid->model()->rowCount() - 1;
    QCOMPARE(PartCell(*form.Inspector, last, "Element"), QString("P35"));
    QCOMPARE(PartCell(*form.Inspector, last, "Prefix"), QString("1A"));
    QCOMPARE(form.Inspector->ElementGrid->currentIndex().row(), last);
    QCOMPARE(HighlightOf(*form.Inspector).bytes, QByteArray("1A"));
    QCOMPARE(Status(form, 2), QString("Error Process P 35 Len: '1A'"));
  }

  // Clear and a new check take the grid's rows, and their messages, away.
  void inspectorEmptiesWithTheGrid() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.resize(1100, 700);
    form.show();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    ClickGridCell(form, 7, 37);  // the trailer's MAC
    QCOMPARE(HighlightOf(*form.Inspector).bytes, QByteArray("4F47F843"));
    form.bbtnClearClick();
    QCOMPARE(form.Inspector->ElementGrid->model()->rowCount(), 0);
    QCOMPARE(form.Inspector->labMessage->text(), QString(inspector_text::kNoMessage));
    QCOMPARE(form.gridRowOffset(1), kNoRowOffset);
    ClickGridCell(form, 0, 3);  // the empty row Clear leaves
    QCOMPARE(form.Inspector->ElementGrid->model()->rowCount(), 0);
    QVERIFY(form.Inspector->HexView->toPlainText().isEmpty());
  }

  // ---- the grid's row store and its batched view updates -----------------

  void gridRowsReachTheViewInBatches() {
    GridModel model;
    QAbstractItemModelTester tester(&model);
    QTableView view;
    view.setModel(&model);
    view.show();
    model.setGridColCount(3);
    model.setGridRowCount(1);
    model.setGridFixedRows(1);
    model.setGridCell(0, 0, "Rec#");
    model.flush();
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    // Three batches of rows, each told to the view at its flush and not before.
    for (int batch = 0; batch < 3; ++batch) {
      const int first = model.gridRowCount();
      for (int row = first; row < first + 100; ++row) {
        model.setGridRowCount(row + 1);
        model.setGridCell(0, row, std::to_string(row));
        model.setGridCell(2, row, std::string(static_cast<std::size_t>(row % 7), 'x'));
        model.setGridRowOffset(row, row * 512);
      }
      QCOMPARE(model.rowCount(), first - 1);
      model.flush();
      QCOMPARE(model.rowCount(), first + 99);
      QCOMPARE(inserted.size(), batch + 1);
      QCOMPARE(inserted.back().at(1).toInt(), first - 1);
      QCOMPARE(inserted.back().at(2).toInt(), first + 98);
    }
    QCOMPARE(changed.size(), 0);  // new rows come whole with their insertion
    for (int row = 1; row < model.gridRowCount(); ++row) {
      QCOMPARE(model.data(model.index(row - 1, 0), Qt::DisplayRole).toString(), QString::number(row));
      QCOMPARE(model.gridCell(2, row), std::string(static_cast<std::size_t>(row % 7), 'x'));
      QCOMPARE(model.gridRowOffset(row), std::int64_t{row} * 512);
    }
    QCOMPARE(model.headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QString("Rec#"));

    // Cells of shown rows change in the view at the next flush, as one range.
    model.setGridCell(1, 20, "late");
    model.setGridCell(1, 250, "later");
    QCOMPARE(changed.size(), 0);
    model.flush();
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.back().at(0).toModelIndex().row(), 19);
    QCOMPARE(changed.back().at(1).toModelIndex().row(), 249);
    QCOMPARE(model.data(model.index(249, 1), Qt::DisplayRole).toString(), QString("later"));
    // Writes outside the grid go nowhere.
    model.setGridCell(3, 5, "outside");
    model.setGridCell(0, model.gridRowCount(), "outside");
    model.setGridRowOffset(-1, 7);
    QCOMPARE(model.gridCell(3, 5), std::string());
    QCOMPARE(model.gridRowOffset(model.gridRowCount()), kNoRowOffset);
  }

  void gridRowsRemovedWhileShown() {
    GridModel model;
    QAbstractItemModelTester tester(&model);
    QTableView view;
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    model.setGridColCount(4);
    model.setGridRowCount(1);
    model.setGridFixedRows(1);
    model.setGridCell(1, 0, "title");
    for (int row = 1; row <= 500; ++row) {
      model.setGridRowCount(row + 1);
      model.setGridCell(0, row, std::to_string(row));
      model.setGridRowOffset(row, row);
    }
    model.flush();
    const QModelIndex last = model.index(499, 2);
    view.setCurrentIndex(last);
    view.scrollTo(last);
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    // A shown row changed, then cut off before the flush: nothing may be said about it.
    model.setGridCell(2, 400, "gone");
    model.setGridCell(2, 10, "kept");
    model.setGridRowCount(101);
    QCOMPARE(removed.size(), 1);  // at once: the rows' data is gone
    QCOMPARE(removed.back().at(1).toInt(), 100);
    QCOMPARE(removed.back().at(2).toInt(), 499);
    QCOMPARE(model.rowCount(), 100);
    QVERIFY(view.currentIndex().row() < 100);
    QCoreApplication::processEvents();  // the view paints what is left
    model.flush();
    for (const QList<QVariant>& signal : changed) {
      QVERIFY(signal.at(1).toModelIndex().row() < model.rowCount());
    }
    QCOMPARE(model.gridCell(2, 10), std::string("kept"));

    // Rows that come back start empty and without a message.
    model.setGridRowCount(301);
    model.flush();
    QCOMPARE(model.rowCount(), 300);
    QCOMPARE(model.gridCell(0, 150), std::string());
    QCOMPARE(model.gridCell(2, 101 + 299), std::string());
    QCOMPARE(model.gridRowOffset(150), kNoRowOffset);
    QCOMPARE(model.gridRowOffset(100), std::int64_t{100});

    // Down to nothing, the title row included, and up again.
    model.setGridRowCount(0);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString().isEmpty());
    model.setGridRowCount(2);
    model.flush();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.gridCell(1, 0), std::string());
    QCoreApplication::processEvents();
  }

  void gridCellsLongerThanTheirColumn() {
    GridModel model;
    QAbstractItemModelTester tester(&model);
    QTableView view;
    view.setModel(&model);
    model.setGridColCount(6);
    model.setGridRowCount(2);
    model.setGridFixedRows(1);
    model.flush();
    view.setColumnWidth(1, 32);
    view.show();

    // Lengths around the edges of the packed length field, and a track-2 sized text.
    const std::string texts[] = {std::string(255, 'a'), std::string(256, 'b'), std::string(999, 'c'),
                                 std::string(65535, 'd'), "\xE9t\xE9 \xFF"};
    for (int col = 0; col < 5; ++col) model.setGridCell(col, 1, texts[col]);
    for (int col = 0; col < 5; ++col) {
      QCOMPARE(model.gridCell(col, 1), texts[col]);
      QCOMPARE(model.data(model.index(0, col), Qt::DisplayRole).toString(), Latin1(texts[col]));
    }
    // Rewritten longer, shorter, emptied and set again: the neighbours stay whole.
    model.setGridCell(1, 1, std::string(3000, 'B'));
    model.setGridCell(0, 1, "short");
    model.setGridCell(2, 1, "");
    model.setGridCell(5, 1, "last");
    model.setGridCell(2, 1, std::string(400, 'C'));
    QCOMPARE(model.gridCell(0, 1), std::string("short"));
    QCOMPARE(model.gridCell(1, 1), std::string(3000, 'B'));
    QCOMPARE(model.gridCell(2, 1), std::string(400, 'C'));
    QCOMPARE(model.gridCell(3, 1), texts[3]);
    QCOMPARE(model.gridCell(4, 1), texts[4]);
    QCOMPARE(model.gridCell(5, 1), std::string("last"));
    // A text beyond what a cell holds is cut there, not wrapped into the next cell.
    model.setGridCell(0, 1, std::string(70000, 'e'));
    QCOMPARE(model.gridCell(0, 1), std::string(65535, 'e'));
    QCOMPARE(model.gridCell(1, 1), std::string(3000, 'B'));
    // Fewer columns drop the cells beyond them; more columns come back empty.
    model.setGridColCount(2);
    model.setGridColCount(6);
    QCOMPARE(model.gridCell(5, 1), std::string());
    QCOMPARE(model.gridCell(1, 1), std::string(3000, 'B'));
    QCoreApplication::processEvents();
  }

  // A file that changes after the check is not shown as if it were the one
  // checked: the inspector says so instead of decoding the new bytes.
  void inspectorNoticesAFileChangedSinceTheCheck() {
    QTemporaryDir dir;
    const QString file = dir.filePath("batch.dat");
    QVERIFY(QFile::copy(Sample("batch-nsp.dat"), file));
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(file);
    form.bbtnCheckFormatClick();
    ClickGridCell(form, 1, 5);
    QVERIFY(form.Inspector->message().stop == DecodeStop::Complete);
    const QString shown = form.Inspector->labMessage->text();

    // Same size, other bytes, a later modification time.
    QByteArray bytes = ReadText(file);
    bytes.replace("1240", "1241");
    WriteText(file, bytes);
    QFile(file).setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    ClickGridCell(form, 2, 5);
    QVERIFY(form.Inspector->labMessage->text().contains(inspector_text::kFileChanged));
    QCOMPARE(form.Inspector->ElementGrid->model()->rowCount(), 0);
    QVERIFY(form.Inspector->HexView->toPlainText().isEmpty());

    // Gone altogether.
    QVERIFY(QFile::remove(file));
    ClickGridCell(form, 1, 5);
    QVERIFY(form.Inspector->labMessage->text().contains(inspector_text::kFileChanged));

    // A new check of the file as it now stands shows it again.
    WriteText(file, bytes);
    form.bbtnCheckFormatClick();
    ClickGridCell(form, 1, 5);
    QVERIFY(!form.Inspector->labMessage->text().contains(inspector_text::kFileChanged));
    QVERIFY(form.Inspector->ElementGrid->model()->rowCount() > 0);
  }

  // The window and kalvrin-check run the same check; their grids must agree
  // cell for cell, offsets included, also when the window's event loop runs
  // at every chance and its view hears of rows in many small batches.
  void windowAndHeadlessHoldTheSameGrid() {
    QTemporaryDir dir;
    const QString generated = dir.filePath("generated.dat");
    filegen::FileOptions options;
    options.size = 400 * 1024;
    options.seed = 11;
    QVERIFY(filegen::WriteGeneratedFile(generated.toStdString(), options));
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.setEventPumpInterval(0);
    for (const QString& file : {generated, Sample("batch-bad-prefix.dat"), Sample("batch-nhd.dat")}) {
      HeadlessSurface headless;
      FormatCheck check(headless);
      IsoCommand(check, headless, file.toStdString());
      form.txtINFile->setText(file);
      form.bbtnCheckFormatClick();
      QVERIFY2(headless.gridRowCount() > 2, qPrintable(file));
      QCOMPARE(form.gridRowCount(), headless.gridRowCount());
      QCOMPARE(form.gridColCount(), headless.gridColCount());
      const QAbstractItemModel* model = form.FormatGrid->model();
      QCOMPARE(model->rowCount(), headless.gridRowCount() - 1);
      for (int row = 0; row < headless.gridRowCount(); ++row) {
        QCOMPARE(form.gridRowOffset(row), headless.gridRowOffset(row));
        for (int col = 0; col < headless.gridColCount(); ++col) {
          const std::string expected = headless.cell(col, row);
          if (form.gridCell(col, row) != expected) {
            QFAIL(qPrintable(QStringLiteral("%1: cell %2,%3").arg(file).arg(col).arg(row)));
          }
          const QVariant shown = row == 0 ? model->headerData(col, Qt::Horizontal, Qt::DisplayRole)
                                          : model->data(model->index(row - 1, col), Qt::DisplayRole);
          QCOMPARE(shown.toString(), Latin1(expected));
        }
      }
      for (int panel = 0; panel < 3; ++panel) QCOMPARE(Status(form, panel), Latin1(headless.status(panel)));
    }
  }

  // ---- the verdict and the grid's tooltips -------------------------------

  void verdictAfterAMacCheck_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("marks");  // MACALL, MACNHD, MACNSP: y for the match mark, n for the other
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<bool>("keyIsTheFiles");
    QTest::newRow("right key") << "A4F1C07B3E9D2658" << QStringList{"n", "n", "y"}
                               << "MACNSP equals the file's MAC 4F47F843." << true;
    QTest::newRow("wrong key") << "1C587F1C13924FEF" << QStringList{"n", "n", "n"}
                               << "No computed MAC equals the file's MAC 4F47F843." << false;
  }
  void verdictAfterAMacCheck() {
    QFETCH(QString, key);
    QFETCH(QStringList, marks);
    QFETCH(QString, verdict);
    QFETCH(bool, keyIsTheFiles);
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.pgResult->setCurrentWidget(form.Format);
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtCHECKKey->setText(key);
    form.bbtnCheckMacClick();
    QCOMPARE(form.pgResult->currentWidget(), form.Mac);  // the results come to the front
    const QString match = QString::fromUtf8("\u2713");
    const QString mismatch = QString::fromUtf8("\u2717");
    const QLineEdit* results[3] = {form.txtCalcMacAll, form.txtCalcMacNHD, form.txtCalcMacNSP};
    for (int i = 0; i < 3; ++i) {
      // The mark says what the colour says.
      QCOMPARE(form.ResultMarks[static_cast<std::size_t>(i)]->text(), marks[i] == "y" ? match : mismatch);
      QCOMPARE(TextColourOf(results[i]), marks[i] == "y" ? kGreen : kRed);
      QVERIFY(form.ResultMarks[static_cast<std::size_t>(i)]->isVisible());
    }
    QVERIFY(form.labVerdict->text().endsWith(verdict));
    QVERIFY(form.labVerdict->text().startsWith(verdict.startsWith("No") ? mismatch : match));
    char kcv[17] = {};
    QVERIFY(CreateKCV(kcv, key.toStdString(), 8) != 0);
    const QString keyKcv = QString::fromLatin1(kcv, 8);
    if (keyIsTheFiles) {
      QCOMPARE(form.labKcvVerdict->text(), match + " The key's check value B690D735 is the file's.");
    } else {
      QCOMPARE(form.labKcvVerdict->text(), mismatch + " The key's check value " + keyKcv +
                                               " is not the file's B690D735: a wrong key, not a wrong file.");
    }
    // The specified results stand as they were.
    QCOMPARE(Status(form, 2), QString("MAC processed"));
    QCOMPARE(form.txtINFileKcv->text(), QString("B690D735"));

    form.bbtnClearClick();
    QVERIFY(form.labVerdict->text().isEmpty());
    QVERIFY(form.labKcvVerdict->text().isEmpty());
    for (QLabel* mark : form.ResultMarks) QVERIFY(mark->text().isEmpty());
  }

  // A red MAC under the right key: the verdict names the cause.
  void verdictExplainsARedMac() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    QByteArray bytes = ReadText(Sample("batch-nsp.dat"));
    MacRecords records;
    {
      TransactionFile sample(Sample("batch-nsp.dat").toStdString());
      QVERIFY(LookUpMacRecords(sample, records).found);
    }
    const auto size = static_cast<std::int64_t>(bytes.size());
    const MacFormLayout layout{records.headerLength, size - records.trailerLength, size};
    const std::optional<std::string> mac =
        CandidateMac(bytes.toStdString(), layout, {MacForm::AllZeros, MacCause::LineEndsLf}, "A4F1C07B3E9D2658");
    QVERIFY(mac.has_value());
    bytes.replace(static_cast<qsizetype>(layout.trailerStart + kTrailerMacAt), 8, QByteArray::fromStdString(*mac));
    const QString path = dir.filePath("explained.dat");
    WriteText(path, bytes);
    form.txtINFile->setText(path);
    form.txtCHECKKey->setText("A4F1C07B3E9D2658");
    form.bbtnCheckMacClick();
    QVERIFY(form.labVerdict->text().startsWith(QString::fromUtf8("\u2717 No computed MAC equals the file's MAC ")));
    QVERIFY(form.labVerdict->text().contains(
        "explained: MACALL-zeros with line-ends-lf: the declared MAC was computed over the file with LF line ends"));
    QVERIFY(form.labVerdict->toolTip().startsWith("explained: MACALL-zeros with line-ends-lf"));

    // under another key the file is only red: no explanation is looked for
    form.txtCHECKKey->setText("1C587F1C13924FEF");
    form.bbtnCheckMacClick();
    QVERIFY(!form.labVerdict->text().contains("explained"));
    form.bbtnClearClick();
    QVERIFY(form.labVerdict->toolTip().isEmpty());
  }

  // The check's Stop ends the explanation too.
  void stoppingTheExplanation() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    filegen::FileOptions options;
    options.size = 6u << 20;
    options.mac = "0BADC0DE";
    const QString path = dir.filePath("unexplained.dat");
    QVERIFY(filegen::WriteGeneratedFile(path.toStdString(), options));
    form.txtINFile->setText(path);
    form.txtCHECKKey->setText("A4F1C07B3E9D2658");
    int stops = 0;
    WhileCommandRuns(form, Command::MacCheck, [&] {
      if (stops > 0 || Status(form, 2) != "MAC processed") return;
      ++stops;
      QTest::keyClick(&form, Qt::Key_Escape);
    });
    form.bbtnCheckMacClick();
    QCOMPARE(stops, 1);
    QCOMPARE(form.runningCommand(), Command::None);
    QCOMPARE(Status(form, 2), QString("MAC check stopped"));
    QVERIFY(!form.labVerdict->text().contains("explained"));
  }

  void verdictWhenNoMacIsComputed() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->clear();
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 2), QString("DORV open error"));
    QCOMPARE(form.labVerdict->text(),
             QString::fromUtf8("\u2717 No MAC was computed: DORV open error, MAC Records error"));
    for (QLabel* mark : form.ResultMarks) QVERIFY(mark->text().isEmpty());
    QVERIFY(form.labKcvVerdict->text().contains("the file declares none"));
  }

  void badPrefixRowIsSelectedWithItsPrefixInspected() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(Sample("batch-bad-prefix.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Error Process P 35 Len: '1A'"));
    const QModelIndex current = form.FormatGrid->currentIndex();
    QCOMPARE(current.row(), 2);  // grid row 3, the broken message
    QCOMPARE(form.FormatGrid->model()->headerData(current.column(), Qt::Horizontal).toString(), QString("P35 (track-2)"));
    QVERIFY(form.Inspector->isVisible());
    QCOMPARE(form.Inspector->message().stop, DecodeStop::BadPrefix);
    QCOMPARE(form.Inspector->highlighted().offset, form.Inspector->message().errorOffset);
    QVERIFY(form.Inspector->labMessage->text().contains("Error Process P 35 Len: '1A'"));

    // A check without a bad prefix selects nothing of its own.
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QVERIFY(form.FormatGrid->currentIndex().row() <= 0);
    QVERIFY(form.Inspector->message().stop != DecodeStop::BadPrefix);
  }

  void focusReturnsToTheButtonThatRan() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    for (QPushButton* button : {form.bbtnCheckFormat, form.bbtnCheckMac}) {
      button->setFocus();
      QTest::keyClick(button, Qt::Key_Space);  // pressed from the keyboard
      QVERIFY(CommandButtonsEnabled(form));
      QCOMPARE(QApplication::focusWidget(), button);
      // The next keystroke goes to the button, not into the key.
      QTest::keyClicks(QApplication::focusWidget(), "zz");
      QCOMPARE(form.txtCHECKKey->text(), QString("A4F1C07B3E9D2658"));
    }
  }

  // Keystrokes while a command runs change neither the key nor the file:
  // the focus is on the result page, the two edits take no typing, and the
  // key that closing writes is the one typed before. The first run differs
  // from the later ones, which start with the focus on a button that goes
  // off; the command from the menu gives the focus back where it was.
  void typingDuringACommandChangesNoKey() {
    QTemporaryDir dir;
    const QString big = RepeatedSample(dir, 50);
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    form.setEventPumpInterval(0);
    form.txtINFile->setText(big);
    const QString key = form.txtCHECKKey->text();
    const auto click = [](QPushButton* button) { return [button] { QTest::mouseClick(button, Qt::LeftButton); }; };
    const struct {
      const char* name;
      Command command;
      std::function<void()> start;
      QWidget* focusAfter;
    } runs[] = {
        {"ISO 1", Command::FormatCheck, click(form.bbtnCheckFormat), form.bbtnCheckFormat},
        {"ISO 2", Command::FormatCheck, click(form.bbtnCheckFormat), form.bbtnCheckFormat},
        {"ISO 3", Command::FormatCheck, click(form.bbtnCheckFormat), form.bbtnCheckFormat},
        {"MAC 1", Command::MacCheck, click(form.bbtnCheckMac), form.bbtnCheckMac},
        {"MAC 2", Command::MacCheck, click(form.bbtnCheckMac), form.bbtnCheckMac},
        {"Verify", Command::Verify, [&form] { form.Verify->trigger(); }, form.bbtnCheckMac},
    };
    for (const auto& run : runs) {
      QWidget* focusInside = nullptr;
      bool typed = false;
      QTimer* typist = WhileCommandRuns(form, run.command, [&] {
        if (typed) return;
        typed = true;
        focusInside = QApplication::focusWidget();
        QTest::keyClicks(focusInside, "7");
        QTest::keyClicks(form.txtCHECKKey, "7");
        QTest::keyClick(form.txtCHECKKey, Qt::Key_Backspace);
        QTest::keyClicks(form.txtINFile, "x");
      });
      run.start();
      delete typist;
      QVERIFY2(typed, run.name);
      QVERIFY2(focusInside == form.FormatGrid || form.pgResult->isAncestorOf(focusInside), run.name);
      QVERIFY2(qobject_cast<QLineEdit*>(focusInside) == nullptr, run.name);
      QCOMPARE(form.txtCHECKKey->text(), key);
      QCOMPARE(form.txtINFile->text(), big);
      QVERIFY2(QApplication::focusWidget() == run.focusAfter, run.name);
      // Typing works again once the command is over.
      QVERIFY(!form.txtCHECKKey->isReadOnly() && !form.txtINFile->isReadOnly());
    }
    QCOMPARE(form.gridRowCount(), 401);
    QVERIFY(form.close());
    QVERIFY(ReadText(SettingsIn(dir)).contains("TESTKEY=" + key.toLatin1() + "\n"));
  }

  // At the window's default size the MAC page shows a large file's figures
  // whole (those of a file of 1 TiB: MACALL's calls and its byte count) and
  // its MACs and check values whatever their digits; the key edit shows a
  // single or a double-length key whole while it does not have the focus.
  // Nothing on the page runs past its edge. A figure longer still is cut
  // in the middle, never at its end, and its tooltip holds it whole.
  void macPageAndKeyShowTheirWholeValue() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    QCOMPARE(form.size(), QSize(770, 460));
    form.pgResult->setCurrentWidget(form.Mac);
    const std::pair<Edit, const char*> values[] = {
        {Edit::CalcMac1BNum, "409599*512+62"},    {Edit::CalcMac1BNum, "2147483647*512+512"},
        {Edit::CalcMac1FSize, "209715262"},       {Edit::CalcMac1FSize, "1099511627776"},
        {Edit::CalcMac2BNum, "2147483648"},       {Edit::CalcMac2FSize, "1099511627776"},
        {Edit::CalcMac3BNum, "2147483648"},       {Edit::CalcMac3FSize, "1099511627776"},
        {Edit::CalcMacAll, "DDDDDDDD"},           {Edit::CalcMacNHD, "BBBBBBBB"},
        {Edit::CalcMacNSP, "4F47F843"},           {Edit::INFileMac, "DDDDDDDD"},
        {Edit::INFileKcv, "DDDDDDDD"},
    };
    for (const auto& [which, value] : values) {
      QLineEdit* edit = form.edit(which);
      edit->setText(value);
      QCOMPARE(edit->text(), QString(value));
      QVERIFY2(ShownWhole(edit), qPrintable(QStringLiteral("%1: \"%2\" is cut").arg(edit->objectName(), value)));
    }
    const QList<QLabel*> labels = form.Mac->findChildren<QLabel*>();
    for (const QLabel* label : labels) {
      if (label->text().isEmpty()) continue;
      QVERIFY2(label->geometry().right() < form.Mac->width(), qPrintable(label->objectName()));
      for (const QLabel* other : labels) {
        QVERIFY2(label == other || other->text().isEmpty() || !label->geometry().intersects(other->geometry()),
                 qPrintable(label->objectName() + " " + other->objectName()));
      }
      for (const QLineEdit* edit : form.Mac->findChildren<QLineEdit*>()) {
        QVERIFY2(!label->geometry().intersects(edit->geometry()), qPrintable(label->objectName() + " " + edit->objectName()));
      }
    }

    auto* bytes = static_cast<ElidingEdit*>(form.edit(Edit::CalcMac1FSize));
    bytes->setText("18446744073709551615");  // the largest 64-bit count
    QCOMPARE(bytes->text(), QString("18446744073709551615"));
    QCOMPARE(bytes->toolTip(), QString("18446744073709551615"));
    const QString shown = bytes->shownText();
    QVERIFY2(shown.contains(QChar(0x2026)) && shown.startsWith("18") && shown.endsWith("15"), qPrintable(shown));

    form.bbtnClear->setFocus();
    for (const QString key : {"A4F1C07B3E9D2658", "DDDDDDDDDDDDDDDD", "A4F1C07B3E9D2658DDDDDDDDDDDDDDDD"}) {
      form.txtCHECKKey->setText(key);
      const QStringList lines = form.txtCHECKKey->property("shownLines").toStringList();
      QCOMPARE(lines.join(QString()), key);
      const QRect room = TextRoom(form.txtCHECKKey);
      for (const QString& line : lines) {
        QVERIFY2(form.txtCHECKKey->fontMetrics().horizontalAdvance(line) <= room.width(), qPrintable(line));
      }
      QVERIFY(lines.size() * form.txtCHECKKey->fontMetrics().lineSpacing() <= room.height());
      QVERIFY(form.Keys->contentsRect().contains(form.txtCHECKKey->geometry()));
      QCOMPARE(form.txtCHECKKey->toolTip(), key);
    }
    QCOMPARE(form.txtCHECKKey->property("shownLines").toStringList().size(), 2);
    form.txtCHECKKey->setText("A4F1C07B3E9D2658");
    QCOMPARE(form.txtCHECKKey->property("shownLines").toStringList().size(), 1);
    QCOMPARE(form.txtCHECKKey->height(), 21);  // back to its design height
  }

  void gridCellsAndTitlesHaveTooltips() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    const QAbstractItemModel* model = form.FormatGrid->model();
    int longCells = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
      for (int col = 0; col < model->columnCount(); ++col) {
        const QModelIndex index = model->index(row, col);
        QCOMPARE(model->data(index, Qt::ToolTipRole).toString(), Cell(form, col, row + 1));
        if (form.FormatGrid->columnWidth(col) < form.FormatGrid->fontMetrics().horizontalAdvance(Cell(form, col, row + 1))) {
          ++longCells;
        }
      }
    }
    QVERIFY(longCells > 0);  // the sample has cells wider than their columns
    auto title = [&](int col) { return model->headerData(col, Qt::Horizontal, Qt::ToolTipRole).toString(); };
    QVERIFY(title(16).startsWith("P35 (track-2)\n"));
    QVERIFY(title(16).contains("Track 2 data, LL, up to 37"));
    QVERIFY(title(17).contains("P37: Retrieval reference number, fixed 12"));
    QVERIFY(title(17).contains("P36: Track 3 data, LLL, up to 99"));  // shown in the same column
    QVERIFY(title(26).contains("LLL, up to 255"));
    QVERIFY(title(37).contains("S128: Message authentication code (MAC), fixed 8"));
    QVERIFY(title(0).contains("Record"));
    for (int col = 0; col < model->columnCount(); ++col) {
      QVERIFY2(title(col).contains('\n'), qPrintable(title(col)));  // every title has a note
    }
  }

  // ---- desktop habits ------------------------------------------------------

  void fileFromTheCommandLineAndFromADrop() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    ApplyStartArguments(form, {QStringLiteral("relative/batch.dat")});
    QCOMPARE(form.txtINFile->text(), QDir::current().absoluteFilePath("relative/batch.dat"));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Sample("batch-nhd.dat"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);
    QCOMPARE(form.txtINFile->text(), Sample("batch-nhd.dat"));
    QVERIFY(!form.txtINFile->acceptDrops());  // a drop on the edit is the window's too

    // Text that is not a file is not taken.
    QMimeData text;
    text.setText("not a file");
    QDropEvent textDrop(QPointF(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &textDrop);
    QCOMPARE(form.txtINFile->text(), Sample("batch-nhd.dat"));
  }

  void keyboardOpensRunsAndHelps() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    // Ctrl+O opens the dialog in the current file's folder.
    const QString folder = QFileInfo(Sample("batch-nsp.dat")).absolutePath();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    s.dialogs->files = {QString(Sample("batch-nhd.dat"))};
    QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(s.dialogs->startFolders, QStringList{folder});
    QCOMPARE(form.txtINFile->text(), Sample("batch-nhd.dat"));
    // With no usable file in the edit it starts where it always did.
    form.txtINFile->setText("/no/such/folder/x.dat");
    form.bbtnFileOpenClick();
    QCOMPARE(s.dialogs->startFolders.back(), ExecutableIn(dir));  // the executable's stem, as at start

    // Enter in the file edit runs the format check.
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtINFile->setFocus();
    QTest::keyClick(form.txtINFile, Qt::Key_Return);
    QCOMPARE(Status(form, 2), QString("Format processed"));
    QCOMPARE(form.gridRowCount(), 9);

    // F1 shows the help that ships with the program.
    QTest::keyClick(&form, Qt::Key_F1);
    QVERIFY(form.Help != nullptr && form.Help->isVisible());
    const QString help = form.Help->Text->toPlainText();
    QVERIFY(help.contains("MACNSP") && help.contains("format check") && help.contains("verify"));
  }

  void recentFilesAreKeptInTheirOwnSection() {
    QTemporaryDir dir;
    {
      Started s = Start(dir);
      TMainForm& form = s.form();
      QVERIFY(!form.RecentFilesMenu->isEnabled());
      for (const char* name : {"batch-nsp.dat", "batch-nhd.dat", "batch-nsp.dat"}) {
        form.txtINFile->setText(Sample(name));
        form.bbtnCheckFormatClick();
      }
      form.txtINFile->setText(dir.filePath("missing.dat"));  // never opened: not recent
      form.bbtnCheckMacClick();
      QCOMPARE(form.recentFiles().files(), (QStringList{Sample("batch-nsp.dat"), Sample("batch-nhd.dat")}));
      QCOMPARE(form.RecentFilesMenu->actions().size(), 2);
      form.close();
    }
    const QByteArray text = ReadText(SettingsIn(dir));
    QVERIFY(text.contains("[RecentFiles]"));
    QVERIFY(text.contains("File1=" + QFile::encodeName(Sample("batch-nsp.dat"))));
    // The window's own entries stand as they were, before the new section.
    QVERIFY(text.indexOf("TESTKEY=") < text.indexOf("[RecentFiles]"));

    Started again = Start(dir);
    TMainForm& form = again.form();
    QCOMPARE(form.recentFiles().files(), (QStringList{Sample("batch-nsp.dat"), Sample("batch-nhd.dat")}));
    form.RecentFilesMenu->actions().at(1)->trigger();
    QCOMPARE(form.txtINFile->text(), Sample("batch-nhd.dat"));
  }

  void openFailureNamesItsReason() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.txtINFile->setText(dir.filePath("missing.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 1), QString("Cannot open file"));  // the specified text stays
    QCOMPARE(form.StatusReason->text(), dir.filePath("missing.dat") + ": No such file or directory");
    QCOMPARE(form.StatusPanels[1]->toolTip(), form.StatusReason->text());

    form.txtINFile->setText(dir.path());
    form.bbtnCheckMacClick();
    QVERIFY(form.StatusReason->text().endsWith(": Is a directory"));

    // worded as kalvrin-check words it, and kept out of the recent files
    const QString pipe = dir.filePath("pipe");
    QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    form.txtINFile->setText(pipe);
    form.bbtnCheckMacClick();
    QCOMPARE(form.StatusReason->text(), pipe + ": a named pipe, not a file");
    QVERIFY(!form.recentFiles().files().contains(QFileInfo(pipe).absoluteFilePath()));

    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QVERIFY(form.StatusReason->text().isEmpty());
    QVERIFY(form.StatusPanels[1]->toolTip().isEmpty());

    form.txtINFile->setText(dir.filePath("missing.dat"));
    form.bbtnCheckFormatClick();
    form.bbtnClearClick();
    QVERIFY(form.StatusReason->text().isEmpty());
  }

  // ---- the window during a MAC check ---------------------------------------

  // The check reads the file once; while it does, the window takes its events
  // in the same busy state as during a format check.
  void macCheckKeepsTheWindowLive() {
    QTemporaryDir dir;
    const QString big = GeneratedFile(dir, 8'000'000);
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.setEventPumpInterval(0);
    form.txtINFile->setText(big);
    int busyPumps = 0;
    WhileCommandRuns(form, Command::MacCheck, [&] {
      const bool busy = !CommandButtonsEnabled(form) && QApplication::overrideCursor() != nullptr &&
                        QApplication::overrideCursor()->shape() == Qt::WaitCursor;
      busyPumps += busy ? 1 : 0;
    });
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 2), QString("MAC processed"));
    // a pump at least every 32 KiB of the file
    QVERIFY2(form.eventPumps() >= 8'000'000 / (32 * 1024), qPrintable(QString::number(form.eventPumps())));
    QVERIFY(busyPumps >= 100);
    QVERIFY(CommandButtonsEnabled(form));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QCOMPARE(form.txtCalcMacAll->text().size(), 8);
  }

  // ---- stopping a running command -----------------------------------------

  // With the find bar open, Escape stops a running command first; the next
  // Escape closes the bar.
  void escapeStopsACommandBeforeItClosesTheFindBar() {
    QTemporaryDir dir;
    const QString big = RepeatedSample(dir, 200);
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    form.setEventPumpInterval(0);
    form.txtINFile->setText(big);
    FindBar& bar = *form.gridTools().findBar;
    form.gridTools().findAction->trigger();
    QVERIFY(bar.isVisible());
    bool pressed = false;
    WhileCommandRuns(form, Command::FormatCheck, [&] {
      if (pressed || form.gridRowCount() <= 50) return;
      pressed = true;
      bar.findEdit->setFocus();
      QTest::keyClick(bar.findEdit, Qt::Key_Escape);
    });
    form.bbtnCheckFormatClick();
    QVERIFY(pressed);
    QCOMPARE(Status(form, 2), QString("Format check stopped"));
    QVERIFY(form.gridRowCount() < 1000);
    QVERIFY(bar.isVisible());
    bar.findEdit->setFocus();
    QTest::keyClick(bar.findEdit, Qt::Key_Escape);
    QVERIFY(!bar.isVisible());
  }

  // Clear, Escape or closing the window while ISO, MAC or Verify runs: the
  // command stops before its end. Clear then empties every result page,
  // Escape keeps what the window shows (the grid of the format check before
  // a MAC check or verify, the rows a stopped format check read, the
  // findings a stopped verify made), and both say which command was
  // stopped; closing writes the settings once and closes. The window is
  // idle afterwards, and the next command runs to its end.
  // A command on another file takes away what belonged to the file before:
  // the MAC page's results and verdict, the findings, the status bar's
  // figures; the title names the file the results are of.
  void resultsOfAnotherFileDoNotStay() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtCHECKKey->setText("A4F1C07B3E9D2658");
    form.bbtnCheckMacClick();
    QVERIFY(!form.txtCalcMacNSP->text().isEmpty());
    QVERIFY(!form.labVerdict->text().isEmpty());
    QVERIFY(form.windowTitle().endsWith("batch-nsp.dat"));
    const QString caption = form.windowTitle().chopped(QStringLiteral("batch-nsp.dat").size());

    form.txtINFile->setText(Sample("batch-bad-prefix.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(Status(form, 2), QString("Error Process P 35 Len: '1A'"));
    for (int e = static_cast<int>(Edit::CalcMac1BSize); e < kEditCount; ++e) {
      QVERIFY2(form.edit(static_cast<Edit>(e))->text().isEmpty(), kEditNames[e].data());
    }
    QVERIFY(form.labVerdict->text().isEmpty());
    QVERIFY(form.labKcvVerdict->text().isEmpty());
    for (QLabel* mark : form.ResultMarks) QVERIFY(mark->text().isEmpty());
    QCOMPARE(form.windowTitle(), caption + "batch-bad-prefix.dat");

    // Findings of one file go when the format check runs on another.
    form.setVerifyRunner([](const std::string&, const std::string&, const VerifyControl&) {
      FindingsRun run;
      run.read = true;
      run.findings = {{true, "element.date", 3, 700, 12, "P12 261399120000 is not a date"}};
      return run;
    });
    form.Verify->trigger();
    QCOMPARE(form.Findings->model().rowCount(), 1);
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(form.Findings->model().rowCount(), 0);
    QVERIFY(!Status(form, 1).isEmpty());

    // Verify on another file leaves no size of the file before in the status bar.
    form.txtINFile->setText(Sample("batch-nhd.dat"));
    form.Verify->trigger();
    QVERIFY(Status(form, 0).isEmpty());
    QVERIFY(Status(form, 1).isEmpty());
    QCOMPARE(form.windowTitle(), caption + "batch-nhd.dat");

    // The settings keep the caption alone.
    form.close();
    QVERIFY(ReadText(SettingsIn(dir)).contains("Caption=" + kCaptionAtClose.toLatin1() + "\n"));
  }

  // A key edited after a MAC check leaves the verdict marked as the old
  // key's; a refused key leaves no MAC of the key before.
  void verdictOfAnotherKey() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.txtCHECKKey->setText("A4F1C07B3E9D2658");
    form.bbtnCheckMacClick();
    const QString verdict = form.labVerdict->text();
    QVERIFY(verdict.contains("MACNSP equals"));
    QCOMPARE(form.labVerdict->palette().color(QPalette::WindowText), kGreen);
    form.txtCHECKKey->setFocus();
    form.txtCHECKKey->end(false);
    QTest::keyClick(form.txtCHECKKey, Qt::Key_Backspace);
    QVERIFY(form.labVerdict->text().startsWith(verdict));
    QVERIFY(form.labVerdict->text().contains("for batch-nsp.dat, key check value B690D735"));
    QVERIFY(form.labVerdict->palette().color(QPalette::WindowText) != kGreen);
    QVERIFY(form.labKcvVerdict->palette().color(QPalette::WindowText) != kGreen);
    QTest::keyClick(form.txtCHECKKey, Qt::Key_8);  // marked once, not once per keystroke
    QCOMPARE(form.labVerdict->text().count("for batch-nsp.dat"), 1);

    form.txtCHECKKey->setText("1C587F1C13924FEF");
    form.bbtnCheckMacClick();
    QVERIFY(form.labVerdict->text().contains("No computed MAC equals"));
    form.txtCHECKKey->setText("A4F1C07B3E9D265O");
    form.bbtnCheckMacClick();
    QCOMPARE(Status(form, 1), QString("Create KCV error "));
    for (const QLineEdit* result : {form.txtCalcMacAll, form.txtCalcMacNHD, form.txtCalcMacNSP}) {
      QCOMPARE(result->text(), QString());
      QCOMPARE(TextColourOf(result), kBlack);
    }
    for (QLabel* mark : form.ResultMarks) QVERIFY(mark->text().isEmpty());
    QVERIFY(!form.labVerdict->text().contains("No computed MAC equals"));
  }

  // Find and ISO act on the grid, so its page comes to the front.
  void findAndIsoBringTheGridForward() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    form.pgResult->setCurrentWidget(form.Mac);
    form.gridTools().findAction->trigger();
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
    QVERIFY(form.gridTools().findBar->isVisible());

    form.pgResult->setCurrentWidget(form.Findings);
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(form.pgResult->currentWidget(), form.Format);
  }

  // A file from the command line, a drop or the recent files is the file
  // chosen last: the Open dialog cancelled puts it back.
  void cancelledOpenKeepsTheFileChosenLast() {
    QTemporaryDir dir;
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.show();
    s.dialogs->files = {std::nullopt, std::nullopt, std::nullopt};
    ApplyStartArguments(form, {Sample("batch-nsp.dat")});
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), Sample("batch-nsp.dat"));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Sample("batch-nhd.dat"))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);
    QCOMPARE(form.txtINFile->text(), Sample("batch-nhd.dat"));
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), Sample("batch-nhd.dat"));

    form.txtINFile->setText(Sample("batch-bad-prefix.dat"));
    form.bbtnCheckFormatClick();  // now a recent file
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.RecentFilesMenu->actions().at(0)->trigger();
    form.bbtnFileOpenClick();
    QCOMPARE(form.txtINFile->text(), Sample("batch-bad-prefix.dat"));
  }

  // Clear, Escape or closing the window while ISO, MAC or Verify runs: the
  // command stops before its end. Clear then empties every result page,
  // Escape keeps what the window shows (the grid of the format check before
  // a MAC check or verify, the rows a stopped format check read, the
  // findings a stopped verify made), and both say which command was
  // stopped; closing writes the settings once and closes. The window is
  // idle afterwards, and the next command runs to its end.
  void stoppingARunningCommand_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("how");
    for (const char* command : {"ISO", "MAC", "Verify"}) {
      for (const char* how : {"Clear", "Escape", "Close"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(command, how))) << QString(command) << QString(how);
      }
    }
  }
  void stoppingARunningCommand() {
    QFETCH(QString, command);
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString big = command == "ISO" ? RepeatedSample(dir, 200) : GeneratedFile(dir, 8'000'000);  // 1600 messages
    Started s = Start(dir);
    TMainForm& form = s.form();
    QVERIFY(ShownActive(form));
    form.setEventPumpInterval(0);
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    form.bbtnCheckFormatClick();
    QCOMPARE(form.gridRowCount(), 9);
    const QString firstCell = Cell(form, 1, 1);
    form.txtINFile->setText(big);
    const std::map<QString, Command> commands = {
        {"ISO", Command::FormatCheck}, {"MAC", Command::MacCheck}, {"Verify", Command::Verify}};
    const std::map<QString, QString> stoppedTexts = {
        {"ISO", "Format check stopped"}, {"MAC", "MAC check stopped"}, {"Verify", "Verify stopped"}};
    const std::map<QString, QString> endTexts = {
        {"ISO", "Format processed"}, {"MAC", "MAC processed"}, {"Verify", findings_text::kVerified}};
    const auto run = [&] {
      if (command == "ISO") form.bbtnCheckFormatClick();
      if (command == "MAC") form.bbtnCheckMacClick();
      if (command == "Verify") form.Verify->trigger();
    };
    std::optional<bool> verifyStopped;
    form.setVerifyRunner([&, verify = MakeVerifyRunner()](const std::string& path, const std::string& key,
                                                          const VerifyControl& control) {
      FindingsRun found = verify(path, key, control);
      verifyStopped = found.stopped;
      return found;
    });
    int stops = 0;
    int rowsAtStop = 0;
    WhileCommandRuns(form, commands.at(command), [&] {
      if (stops > 0 || (command == "ISO" && form.gridRowCount() <= 50)) return;
      ++stops;
      rowsAtStop = form.gridRowCount();
      if (how == "Clear") form.bbtnClearClick();
      if (how == "Escape") QTest::keyClick(&form, Qt::Key_Escape);
      if (how == "Close") form.close();
    });
    run();
    QCOMPARE(stops, 1);
    QCOMPARE(form.runningCommand(), Command::None);
    QVERIFY(CommandButtonsEnabled(form));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(Status(form, 2) != endTexts.at(command));
    if (command == "Verify") QCOMPARE(verifyStopped, std::optional<bool>(true));
    if (how == "Close") {
      QVERIFY(!form.isVisible());
      QCOMPARE(form.settingsWrites(), 1);
      QVERIFY(ReadText(SettingsIn(dir)).contains("Caption=" + kCaptionAtClose.toLatin1() + "\n"));
      if (command == "ISO") QVERIFY(form.gridRowCount() < 1000);
      if (command == "MAC") QVERIFY(form.txtCalcMacAll->text().isEmpty() && form.txtCalcMacNSP->text().isEmpty());
      return;
    }
    QVERIFY(form.isVisible());
    QCOMPARE(Status(form, 2), stoppedTexts.at(command));
    QCOMPARE(form.ProgressBar1->value(), 0);
    if (how == "Clear") {
      QVERIFY(Status(form, 0).isEmpty());
      QVERIFY(Status(form, 1).isEmpty());
      QCOMPARE(form.gridRowCount(), 2);  // the set-up grid, no late rows of the check
      QVERIFY(Cell(form, 0, 1).isEmpty());
      for (QLineEdit* result : {form.txtCalcMacAll, form.txtCalcMacNHD, form.txtCalcMacNSP}) {
        QVERIFY(result->text().isEmpty());
        QCOMPARE(result->palette().color(QPalette::Text), kBlack);
      }
      QCOMPARE(form.Findings->model().rowCount(), 0);
      QVERIFY(form.Findings->labSummary->text().isEmpty());
    } else if (command == "ISO") {
      // The rows read before the stop, less the one unfinished.
      QVERIFY(rowsAtStop > 50);
      QVERIFY2(form.gridRowCount() >= rowsAtStop - 1 && form.gridRowCount() < 1000,
               qPrintable(QStringLiteral("%1 rows, %2 at the stop").arg(form.gridRowCount()).arg(rowsAtStop)));
    } else {
      QCOMPARE(form.gridRowCount(), 9);
      QCOMPARE(Cell(form, 1, 1), firstCell);
      if (command == "Verify") {
        QVERIFY2(form.Findings->labSummary->text().startsWith("Stopped before the end of the file"),
                 qPrintable(form.Findings->labSummary->text()));
      }
    }

    // The next run goes to its end; Escape with nothing running changes nothing.
    form.txtINFile->setText(Sample("batch-nsp.dat"));
    run();
    QCOMPARE(Status(form, 2), endTexts.at(command));
    if (command == "Verify") QCOMPARE(verifyStopped, std::optional<bool>(false));
    const int rows = form.gridRowCount();
    QTest::keyClick(&form, Qt::Key_Escape);
    QCOMPARE(Status(form, 2), endTexts.at(command));
    QCOMPARE(form.gridRowCount(), rows);
  }
};

int main(int argc, char** argv) {
  KalvrinApplication app(argc, argv);
  WindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "window_test.moc"
