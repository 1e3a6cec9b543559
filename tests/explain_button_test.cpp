// The MAC page's Explain button, offscreen: a red MAC under the right key in
// a file above the window's limit for explaining at once gets the button,
// which runs the explanation as a command (busy, with progress, stopped by
// Escape, Clear or closing the window) and puts its line on the verdict;
// no button for a green MAC, a wrong key, or once the verdict is stale.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>

#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "io/transaction_file.h"
#include "mac/mac_explain.h"
#include "support/test_files.h"
#include "support/window_start.h"
#include "testgen/filegen.h"

using namespace kalvrin;

namespace {

constexpr char kKey[] = "A4F1C07B3E9D2658";  // the generator's key, whose check value the files declare
constexpr char kWrongKey[] = "1C587F1C13924FEF";
constexpr char kExplained[] =
    "explained: MACALL-zeros with line-ends-lf: the declared MAC was computed over the file with LF line ends";

using Started = test::StartedWindow;

// A shown window that pumps its events at every progress call, so that a
// test's timer runs inside a command.
Started Start(const QTemporaryDir& dir) {
  Started started = test::StartWindow(dir);
  started.form().show();
  started.form().setEventPumpInterval(0);
  return started;
}

QString Status(const TMainForm& form) { return form.StatusPanels[kCommandPanel]->text(); }

bool CommandButtonsEnabled(const TMainForm& form) {
  return form.bbtnFileOpen->isEnabled() && form.bbtnCheckFormat->isEnabled() && form.bbtnCheckMac->isEnabled() &&
         form.bbtnExit->isEnabled();
}

bool Offered(const TMainForm& form) { return !form.ExplainButton->isHidden() && form.ExplainButton->isEnabled(); }
bool NotOffered(const TMainForm& form) { return form.ExplainButton->isHidden() && !form.ExplainButton->isEnabled(); }

// Runs `action` at every turn of the event loop while `command` runs.
void WhileCommandRuns(TMainForm& form, Command command, std::function<void()> action) {
  auto* timer = new QTimer(&form);
  timer->setInterval(0);
  QObject::connect(timer, &QTimer::timeout, &form, [&form, command, action] {
    if (form.runningCommand() == command) action();
  });
  timer->start();
}

// A generated file of about 1 MB whose declared MAC is MACALL-zeros with
// LF line ends: red under the generator's key, and explained.
QString ExplainedFile(const QTemporaryDir& dir) {
  const QString path = dir.filePath("explained.dat");
  filegen::FileOptions options;
  options.size = 1u << 20;
  if (!filegen::WriteGeneratedFile(path.toStdString(), options)) return {};
  std::optional<std::string> mac;
  std::int64_t fieldAt = 0;
  {
    TransactionFile file(path.toStdString());
    mac = FileCandidateMac(file, {MacForm::AllZeros, MacCause::LineEndsLf}, kKey, &fieldAt);
  }
  QFile file(path);
  if (!mac || !file.open(QIODevice::ReadWrite) || !file.seek(fieldAt)) return {};
  file.write(mac->data(), static_cast<qint64>(mac->size()));
  return path;
}

void CheckMac(TMainForm& form, const QString& path, const QString& key) {
  form.txtINFile->setText(path);
  form.txtCHECKKey->setText(key);
  form.bbtnCheckMacClick();
}

}  // namespace

class ExplainButtonTest : public QObject {
  Q_OBJECT

 private slots:
  // Above the limit the verdict waits for the button; the button runs the
  // explanation busy, with the bar moving, and the line joins the verdict.
  // At the limit's default the same file is explained at once.
  void theButtonExplainsALargeFile() {
    QTemporaryDir dir;
    const QString path = ExplainedFile(dir);
    QVERIFY(!path.isEmpty());
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.setExplainAtOnceLimit(64 << 10);
    CheckMac(form, path, kKey);
    QVERIFY(form.labVerdict->text().contains("No computed MAC equals the file's MAC"));
    QVERIFY(!form.labVerdict->text().contains("explained"));
    QCOMPARE(form.pgResult->currentWidget(), form.Mac);
    QVERIFY(form.ExplainButton->isVisible() && form.ExplainButton->isEnabled());
    QCOMPARE(form.ExplainButton->text(), QString("Explain"));
    const QRect button = form.ExplainButton->geometry();
    QVERIFY(form.Mac->rect().contains(button));
    QVERIFY(!button.intersects(form.labVerdict->geometry()) && !button.intersects(form.labKcvVerdict->geometry()));

    QList<int> bar;
    bool busy = true;
    QString statusWhileRunning;
    WhileCommandRuns(form, Command::Explain, [&] {
      busy = busy && !CommandButtonsEnabled(form) && !form.ExplainButton->isEnabled() && !form.Verify->isEnabled() &&
             QApplication::overrideCursor() != nullptr;
      statusWhileRunning = Status(form);
      if (bar.isEmpty() || bar.back() != form.ProgressBar1->value()) bar << form.ProgressBar1->value();
    });
    QTest::mouseClick(form.ExplainButton, Qt::LeftButton);
    QCOMPARE(form.runningCommand(), Command::None);
    QVERIFY(busy);
    QCOMPARE(statusWhileRunning, QString("Explaining the MAC"));
    QVERIFY2(bar.size() >= 3, qPrintable(QStringLiteral("%1 bar positions").arg(bar.size())));
    QVERIFY(std::is_sorted(bar.begin(), bar.end()));
    QVERIFY(bar.front() < bar.back() && bar.back() <= form.ProgressBar1->maximum());
    QVERIFY(form.labVerdict->text().startsWith(QString::fromUtf8("\u2717 No computed MAC equals the file's MAC ")));
    QVERIFY(form.labVerdict->text().contains(kExplained));
    QVERIFY(form.labVerdict->toolTip().startsWith("explained: MACALL-zeros with line-ends-lf"));
    QCOMPARE(form.labKcvVerdict->text(), QString::fromUtf8("\u2713 The key's check value B690D735 is the file's."));
    QCOMPARE(Status(form), QString("MAC processed"));
    QVERIFY(NotOffered(form));
    QVERIFY(CommandButtonsEnabled(form) && QApplication::overrideCursor() == nullptr);

    form.setExplainAtOnceLimit(TMainForm::kExplainAtOnce);
    CheckMac(form, path, kKey);
    QVERIFY(form.labVerdict->text().contains(kExplained));
    QVERIFY(NotOffered(form));
  }

  // Escape keeps the verdict without an explanation and the button for a
  // later run; Clear takes both away; closing the window closes it.
  void stoppingTheButtonsExplanation_data() {
    QTest::addColumn<QString>("how");
    for (const char* how : {"Escape", "Clear", "Close"}) QTest::newRow(how) << how;
  }
  void stoppingTheButtonsExplanation() {
    QFETCH(QString, how);
    QTemporaryDir dir;
    const QString path = ExplainedFile(dir);
    QVERIFY(!path.isEmpty());
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    form.setExplainAtOnceLimit(0);
    CheckMac(form, path, kKey);
    QVERIFY(Offered(form));
    int stops = 0;
    WhileCommandRuns(form, Command::Explain, [&] {
      if (stops++ > 0) return;
      if (how == "Escape") QTest::keyClick(&form, Qt::Key_Escape);
      if (how == "Clear") form.bbtnClearClick();
      if (how == "Close") form.close();
    });
    form.ExplainButton->click();
    QVERIFY(stops >= 1);
    QCOMPARE(form.runningCommand(), Command::None);
    QVERIFY(CommandButtonsEnabled(form) && QApplication::overrideCursor() == nullptr);
    if (how == "Close") {
      QVERIFY(!form.isVisible());
      QCOMPARE(form.settingsWrites(), 1);
      return;
    }
    QCOMPARE(Status(form), QString("Explanation stopped"));
    QCOMPARE(form.ProgressBar1->value(), 0);
    QVERIFY(!form.labVerdict->text().contains("explained"));
    QVERIFY(form.labVerdict->toolTip().isEmpty());
    if (how == "Clear") {
      QVERIFY(form.labVerdict->text().isEmpty());
      QVERIFY(NotOffered(form));
      return;
    }
    QVERIFY(form.labVerdict->text().contains("No computed MAC equals the file's MAC"));
    QVERIFY(Offered(form));
    stops = 1;  // no more stops: the next run goes to its end
    form.ExplainButton->click();
    QVERIFY(form.labVerdict->text().contains(kExplained));
    QVERIFY(NotOffered(form));
  }

  // Only a red MAC under the key whose check value the file declares gets
  // the button, and only while its verdict stands: not after the key is
  // typed over or put in without typing, not after a command on another
  // file or a new MAC check, and not over a file changed since its check.
  // While another command runs it is disabled.
  void theButtonOnlyWhileItsVerdictStands() {
    QTemporaryDir dir;
    const QString red = ExplainedFile(dir);
    QVERIFY(!red.isEmpty());
    const QString green = dir.filePath("green.dat");
    QVERIFY(filegen::WriteGeneratedFile(green.toStdString(), filegen::FileOptions{}));
    Started s = Start(dir);
    TMainForm& form = s.form();
    form.setExplainAtOnceLimit(0);

    CheckMac(form, green, kKey);
    QVERIFY(form.labVerdict->text().startsWith(QString::fromUtf8("\u2713")));
    QVERIFY(NotOffered(form));
    CheckMac(form, red, kWrongKey);
    QVERIFY(form.labKcvVerdict->text().contains("a wrong key, not a wrong file"));
    QVERIFY(NotOffered(form));

    CheckMac(form, red, kKey);
    QVERIFY(Offered(form));
    QTest::keyClicks(form.txtCHECKKey, "0");
    QVERIFY(form.labVerdict->text().contains("(for explained.dat, key check value B690D735)"));
    QVERIFY(NotOffered(form));

    CheckMac(form, red, kKey);
    QVERIFY(Offered(form));
    bool disabledWhileChecking = true;
    int looks = 0;
    WhileCommandRuns(form, Command::FormatCheck, [&] {
      ++looks;
      disabledWhileChecking = disabledWhileChecking && !form.ExplainButton->isEnabled();
    });
    // a look every millisecond, not at every character of the megabyte
    form.setEventPumpInterval(1);
    form.bbtnCheckFormatClick();  // the same file: the verdict stands, and so does the button
    form.setEventPumpInterval(0);
    QVERIFY(looks > 0);
    QVERIFY(disabledWhileChecking);
    QVERIFY(Offered(form));
    form.txtINFile->setText(green);
    form.bbtnCheckFormatClick();
    QVERIFY(form.labVerdict->text().isEmpty());
    QVERIFY(NotOffered(form));

    CheckMac(form, red, kKey);
    QVERIFY(Offered(form));
    form.txtCHECKKey->setText(kWrongKey);
    form.ExplainButton->click();
    QVERIFY(form.labVerdict->text().contains("(for explained.dat, key check value B690D735)"));
    QVERIFY(!form.labVerdict->text().contains("explained:"));
    QVERIFY(NotOffered(form));

    CheckMac(form, red, kKey);
    QVERIFY(Offered(form));
    {
      QFile file(red);
      QVERIFY(file.open(QIODevice::Append));
      file.write("\r\n");
    }
    form.ExplainButton->click();
    QCOMPARE(Status(form), QString("The file changed after its MAC check: check its MAC again"));
    QVERIFY(!form.labVerdict->text().contains("explained:"));
    QVERIFY(NotOffered(form));
    QVERIFY(s.dialogs->errors.isEmpty());
  }
};

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ExplainButtonTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "explain_button_test.moc"
