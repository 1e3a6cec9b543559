// The window's side of Tool > Verify: the pass over the file in the file
// edit under the key in the key edit, busy, stoppable and with progress as
// the format check is; a double-clicked finding shown in the grid and the
// inspector (inspector/locate_command.cpp finds it); the findings exported.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>

#include <algorithm>
#include <limits>

#include "app/app_texts.h"
#include "app/busy_state.h"
#include "app/form_surface.h"
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
    Summary->showSummary(Findings->summary());
    pgResult->setCurrentWidget(Findings);
  });
  EndStoppedCommand(app_text::kVerifyStopped);
}

bool TMainForm::VerifyProgress(VerifyPhase phase, std::int64_t done, std::int64_t total) {
  const char* said = phase == VerifyPhase::Mac ? findings_text::kVerifyingMac : findings_text::kVerifying;
  surface_->setStatus(kCommandPanel, said);
  return ShowCommandProgress(done, total);
}

void TMainForm::ExportFindingsClick() {
  Guarded([this] {
    const QFileInfo source(QFile::decodeName(QByteArray::fromStdString(Findings->path())));
    const QString suggested = source.fileName().isEmpty()
                                  ? QString()
                                  : source.dir().filePath(source.completeBaseName() + findings_text::kExportSuffix);
    const QString chosen =
        QFileDialog::getSaveFileName(this, findings_text::kExportTitle, suggested, findings_text::kExportFilter);
    if (chosen.isEmpty()) return;
    const QString error = Findings->exportCsv(chosen);
    if (!error.isEmpty()) dialogs_->showError(this, error);
  });
}

void TMainForm::ShowFinding(std::int64_t record, int element) {
  if (record <= 0 || !commands_.idle()) return;
  const std::string path = Findings->path();
  if (!CheckUnlessGridHolds(QFile::decodeName(QByteArray::fromStdString(path)))) return;
  ShowMessageOf(path, true, record, element);
}

}  // namespace kalvrin
