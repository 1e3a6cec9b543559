// kalvrin-screenshots: pictures of the real window for the README, taken
// offscreen after a format check, with the message inspector open on one
// row, after a MAC check, after a MAC check under a wrong key (the
// verdict), with the find bar filtering the grid, and the Findings and
// Summary pages after Tool > Verify.
//   kalvrin-screenshots SAMPLE_FILE OUTPUT_DIR
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QToolButton>
#include <QPixmap>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

#include "app/grid/find_bar.h"
#include "app/grid/grid_tools.h"
#include "app/kalvrin_application.h"
#include "app/inspector/inspector.h"
#include "app/main_form.h"

int main(int argc, char** argv) {
  kalvrin::KalvrinApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: kalvrin-screenshots SAMPLE_FILE OUTPUT_DIR\n");
    return 2;
  }
  // A settings file of its own, so the pictures show the window as a first start does.
  QTemporaryDir home;
  kalvrin::KalvrinWindows windows = kalvrin::CreateWindows(home.filePath("kalvrin"));
  kalvrin::TMainForm& form = *windows.mainForm;
  form.show();
  form.txtINFile->setText(QString::fromLocal8Bit(argv[1]));
  const QDir out(QString::fromLocal8Bit(argv[2]));

  form.bbtnCheckFormatClick();
  form.pgResult->setCurrentWidget(form.Format);
  QCoreApplication::processEvents();
  const bool isoSaved = form.grab().save(out.filePath("window-iso.png"));

  // The second message's card number selected, in a window made larger so
  // that grid and inspector both have room.
  const QSize designSize = form.size();
  form.resize(1320, 720);
  QCoreApplication::processEvents();
  const QModelIndex cardNumber = form.FormatGrid->model()->index(1, 5);
  form.FormatGrid->setCurrentIndex(cardNumber);
  form.FormatGrid->scrollTo(cardNumber);
  QCoreApplication::processEvents();
  const bool inspectorSaved = form.grab().save(out.filePath("window-inspector.png"));
  form.resize(designSize);

  form.bbtnCheckMacClick();
  form.pgResult->setCurrentWidget(form.Mac);
  QCoreApplication::processEvents();
  const bool macSaved = form.grab().save(out.filePath("window-mac.png"));

  // A key that is not the file's: every result red and marked, and the
  // verdict naming the check values.
  const QString key = form.txtCHECKKey->text();
  form.txtCHECKKey->setText(QStringLiteral("1C587F1C13924FEF"));
  form.bbtnCheckMacClick();
  QCoreApplication::processEvents();
  const bool verdictSaved = form.grab().save(out.filePath("window-verdict.png"));
  form.txtCHECKKey->setText(key);  // the settings of this run are thrown away, but keep them honest

  // The find bar: only the transfers (TCode 1240), the shop's name found in one of them.
  form.resize(1320, 720);
  form.pgResult->setCurrentWidget(form.Format);
  kalvrin::GridTools& tools = form.gridTools();
  tools.findAction->trigger();
  tools.findBar->filterColumn->setCurrentIndex(tools.findBar->filterColumn->findData(1));
  tools.findBar->filterEdit->setText(QStringLiteral("1240"));
  tools.applyFilter();
  tools.findBar->findEdit->setText(QStringLiteral("vienna"));
  form.FormatGrid->setCurrentIndex({});
  tools.find(true);
  QCoreApplication::processEvents();
  const bool findSaved = form.grab().save(out.filePath("window-find.png"));
  tools.findBar->closeButton->click();

  // What verify finds in the sample, under the window's key.
  form.Verify->trigger();
  QCoreApplication::processEvents();
  const bool findingsSaved = form.grab().save(out.filePath("window-findings.png"));

  // The same verify's Summary page, tall enough for its first charts.
  form.resize(1320, 900);
  form.pgResult->setCurrentWidget(form.Summary);
  QCoreApplication::processEvents();
  const bool summarySaved = form.grab().save(out.filePath("window-summary.png"));
  form.resize(designSize);

  if (!isoSaved || !inspectorSaved || !macSaved || !verdictSaved || !findSaved || !findingsSaved || !summarySaved) {
    std::fprintf(stderr, "kalvrin-screenshots: cannot write the pictures into %s\n", argv[2]);
    return 1;
  }
  return 0;
}
