// The window's side of Tool > Compare with...: the file in the file edit
// (the old one) against a second file chosen in the open dialog, busy,
// stoppable and with progress as the other commands are; a double-clicked
// record's message of either file shown in the inspector with its element
// selected.
#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>

#include "app/busy_state.h"
#include "app/differences/differences_page.h"
#include "app/form_surface.h"
#include "app/grid/card_number_mask.h"
#include "app/main_form.h"

namespace kalvrin {

void TMainForm::CompareWithClick() {
  if (!commands_.idle()) return;
  const QString oldFile = txtINFile->text();
  const std::optional<QString> newFile = dialogs_->chooseFile(this, oldFile);
  if (!newFile || newFile->isEmpty()) return;
  Guarded([this, &oldFile, &newFile] {
    BusyState busy(commands_, Command::Compare, CommandWidgets(), *surface_, nullptr);
    surface_->setStatus(kCommandPanel, differences_text::kComparing);
    surface_->setProgressMin(0);
    surface_->setProgressPosition(0);
    const bool mask = cardNumberMask_ != nullptr && cardNumberMask_->on();
    DifferencesRun run = CompareForPage(QFile::encodeName(oldFile).toStdString(),
                                        QFile::encodeName(*newFile).toStdString(), mask,
                                        [this](std::int64_t done, std::int64_t total) {
                                          return ShowCommandProgress(done, total);
                                        });
    const char* said = !run.read     ? differences_text::kCompareFailed
                       : run.stopped ? differences_text::kCompareStopped
                                     : differences_text::kCompared;
    Differences->show(std::move(run));
    surface_->setStatus(kCommandPanel, said);
    pgResult->setCurrentWidget(Differences);
  });
  EndStoppedCommand(differences_text::kCompareStopped);
}

void TMainForm::ShowDifference(bool oldFile, std::int64_t record, std::int64_t offset, int element) {
  if (record <= 0 || offset < 0 || !commands_.idle()) return;
  const DifferencesRun& run = Differences->last();
  ShowMessageOf(oldFile ? run.oldPath : run.newPath, false, offset, element);
}

}  // namespace kalvrin
