// kalvrin-window-bench: the window's ISO command on one file, offscreen,
// timed, with how often the event loop ran while the check read the file,
// and what the grid's rows cost in memory: the row store's own bytes and the
// process's peak, each per row. With --headless, then the same check
// without the window, its rows kept in a headless surface, in the same
// process (which then no longer tells the window's peak memory).
//   kalvrin-window-bench FILE [--headless]
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <string_view>

#include "app/kalvrin_application.h"
#include "app/main_form.h"
#include "grid/row_store.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"

int main(int argc, char** argv) {
  kalvrin::KalvrinApplication app(argc, argv);
  const bool headlessToo = argc == 3 && std::string_view(argv[2]) == "--headless";
  if (argc != 2 && !headlessToo) {
    std::fprintf(stderr, "usage: kalvrin-window-bench FILE [--headless]\n");
    return 2;
  }
  QTemporaryDir home;  // settings of its own, not the build's
  kalvrin::KalvrinWindows windows = kalvrin::CreateWindows(home.filePath("kalvrin"));
  kalvrin::TMainForm& form = *windows.mainForm;
  form.show();
  QCoreApplication::processEvents();
  form.txtINFile->setText(QString::fromLocal8Bit(argv[1]));

  QElapsedTimer clock;
  clock.start();
  form.bbtnCheckFormatClick();
  const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;

  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const int rows = form.gridRowCount() - 1;
  std::printf("window iso: %.3f s, %d rows, status \"%s\"\n", seconds, rows,
              form.StatusPanels[2]->text().toLatin1().constData());
  std::printf("event loop: %lld pumps, %.1f per second, longest stretch without one %lld ms\n", form.eventPumps(),
              static_cast<double>(form.eventPumps()) / seconds, static_cast<long long>(form.longestPumpGap()));
  std::printf("grid shown: at %lld of the pumps\n", form.gridPumps());
  std::printf("peak memory: %ld MB\n", usage.ru_maxrss / 1024);
  const double perRow = rows > 0 ? 1.0 / rows : 0.0;
  std::printf("grid rows: %.1f bytes per row stored, %.1f bytes per row of peak memory\n",
              static_cast<double>(form.gridRows().bytes()) * perRow, static_cast<double>(usage.ru_maxrss) * 1024.0 * perRow);
  if (form.StatusPanels[2]->text() != "Format processed") return 1;
  if (!headlessToo) return 0;

  kalvrin::HeadlessSurface surface;
  kalvrin::FormatCheck check(surface);
  kalvrin::StartUpState(check, surface);
  clock.restart();
  const int result = kalvrin::IsoCommand(check, surface, argv[1]);
  const double headless = static_cast<double>(clock.nsecsElapsed()) / 1e9;
  std::printf("headless iso: %.3f s, %d rows kept\n", headless, surface.gridRowCount() - 1);
  return result == 1 && surface.gridRowCount() - 1 == rows ? 0 : 1;
}
