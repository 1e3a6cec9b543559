// kalvrin-inspector-bench: the window's ISO command on one file, offscreen,
// then the time from selecting a grid row to the inspector having painted
// that row's message, for the last rows of the grid and for the first one.
//   kalvrin-inspector-bench FILE [SELECTIONS]
#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/inspector/inspector.h"
#include "app/kalvrin_application.h"
#include "app/main_form.h"

namespace {

// Milliseconds from the selection to the inspector's paint.
double SelectAndShow(kalvrin::TMainForm& form, int viewRow, int column) {
  QElapsedTimer clock;
  clock.start();
  form.FormatGrid->setCurrentIndex(form.FormatGrid->model()->index(viewRow, column));
  form.Inspector->repaint();
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  kalvrin::KalvrinApplication app(argc, argv);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: kalvrin-inspector-bench FILE [SELECTIONS]\n");
    return 2;
  }
  const int selections = argc == 3 ? std::max(1, std::atoi(argv[2])) : 50;
  QTemporaryDir home;  // settings of its own, not the build's
  kalvrin::KalvrinWindows windows = kalvrin::CreateWindows(home.filePath("kalvrin"));
  kalvrin::TMainForm& form = *windows.mainForm;
  form.show();
  QCoreApplication::processEvents();
  form.txtINFile->setText(QString::fromLocal8Bit(argv[1]));
  QElapsedTimer clock;
  clock.start();
  form.bbtnCheckFormatClick();
  const double checkSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  QCoreApplication::processEvents();
  const int rows = form.FormatGrid->model()->rowCount();
  std::printf("window iso: %.3f s, %d rows, status \"%s\"\n", checkSeconds, rows,
              form.StatusPanels[2]->text().toLatin1().constData());
  if (rows < 2) return 1;

  // The first selection also opens the inspector's pane.
  const double first = SelectAndShow(form, rows - 1, 5);
  std::vector<double> times;
  for (int i = 0; i < selections; ++i) {
    const int row = rows - 2 - (i % std::max(1, std::min(rows - 1, 100)));
    times.push_back(SelectAndShow(form, std::max(row, 0), 5 + i % 30));
  }
  std::sort(times.begin(), times.end());
  std::printf("first selection (opens the pane): %.2f ms\n", first);
  std::printf("%d selections near the end: median %.2f ms, max %.2f ms\n", selections, times[times.size() / 2],
              times.back());
  std::printf("inspector: %s\n", form.Inspector->labMessage->text().toLatin1().constData());
  return times.back() < 50.0 ? 0 : 1;
}
