// The window's side of Tool > Verify: the pass over the file in the file
// edit under the key in the key edit, busy, stoppable and with progress as
// the format check is; and a double-clicked finding shown in the grid and
// the inspector.
#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QTabWidget>

#include <algorithm>
#include <limits>

#include "app/app_texts.h"
#include "app/busy_state.h"
#include "app/form_surface.h"
#include "app/grid/grid_model.h"
#include "app/grid/grid_tools.h"
#include "app/inspector/inspector.h"
#include "app/main_form.h"

namespace kalvrin {

void TMainForm::setVerifyRunner(VerifyRunner runner) {
  verifyRunner_ = std::move(runner);
  Verify->setEnabled(static_cast<bool>(verifyRunner_));
}

void TMainForm::VerifyClick() {
  if (!commands_.idle() || !verifyRunner_) return;
  Guarded([this] {
    BusyState busy(commands_, Command::Verify, CommandWidgets(), *surface_, nullptr);
    StartCommandOn(txtINFile->text(), Command::Verify);
    const QByteArray path = QFile::encodeName(txtINFile->text());
    surface_->setStatus(kCommandPanel, findings_text::kVerifying);
    surface_->setProgressMin(0);
    surface_->setProgressPosition(0);
    VerifyControl control;
    control.progress = [this](VerifyPhase phase, std::int64_t done, std::int64_t total) {
      return VerifyProgress(phase, done, total);
    };
    control.stop = &commands_.stopFlag();
    const bool read = Findings->run(verifyRunner_, path.toStdString(), txtCHECKKey->text().toLatin1().toStdString(),
                                    control);
    const char* said = !read                ? findings_text::kVerifyFailed
                       : Findings->stopped() ? app_text::kVerifyStopped
                                             : findings_text::kVerified;
    surface_->setStatus(kCommandPanel, said);
    pgResult->setCurrentWidget(Findings);
  });
  EndStoppedCommand(app_text::kVerifyStopped);
}

bool TMainForm::VerifyProgress(VerifyPhase phase, std::int64_t done, std::int64_t total) {
  const char* said = phase == VerifyPhase::Mac ? findings_text::kVerifyingMac : findings_text::kVerifying;
  surface_->setStatus(kCommandPanel, said);
  // The bar counts bytes while they fit its range, thousandths beyond.
  const bool fits = total <= std::numeric_limits<int>::max();
  surface_->setProgressMax(fits ? static_cast<int>(total) : 1000);
  surface_->setProgressPosition(fits ? static_cast<int>(done)
                                     : static_cast<int>(done * 1000 / std::max<std::int64_t>(total, 1)));
  surface_->processEvents();
  return !commands_.stopping();
}

void TMainForm::ShowFinding(std::int64_t record, int element) {
  if (record <= 0 || !commands_.idle()) return;
  const bool gridHoldsFile = gridModel_->gridRowOffset(1) != kNoRowOffset && checkedPath_ == Findings->path();
  if (!gridHoldsFile) {
    txtINFile->setText(QFile::decodeName(QByteArray::fromStdString(Findings->path())));
    bbtnCheckFormatClick();
  }
  if (record >= gridModel_->gridRowCount()) {
    // The format check stops at a bad length prefix; verify reads on. The
    // note is on the Findings page, which the check took from the front.
    pgResult->setCurrentWidget(Findings);
    Findings->showNote(QString(findings_text::kPastTheGrid).arg(record));
    return;
  }
  const QModelIndex index = gridTools_->reveal(static_cast<int>(record), element);
  if (!index.isValid()) return;
  pgResult->setCurrentWidget(Format);
  inspectorClosed_ = false;
  InspectGridCell(index);
  if (element != kNoFindingElement) Inspector->selectPart(element);
}

}  // namespace kalvrin
