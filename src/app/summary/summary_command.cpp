// The window's side of the Summary page: filled after each verify, a click
// on a batch's bar shows the batch's first message in the grid, one on a
// rule's bar filters the Findings page to it; Tool > Save report... writes
// the HTML report of the last verify.
#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

#include <fstream>

#include "app/main_form.h"
#include "app/version.h"
#include "app/grid/grid_model.h"
#include "report/html_report.h"

namespace kalvrin {

void TMainForm::BuildSummary() {
  Summary = new SummaryPage;
  pgResult->addTab(Summary, summary_text::kCaption);
  connect(Summary, &SummaryPage::batchChosen, this,
          [this](qint64 record) { Guarded([&] { ShowFinding(record, kNoFindingElement); }); });
  connect(Summary, &SummaryPage::ruleChosen, this, [this](const QString& rule) {
    const int index = Findings->cmbRule->findData(rule);
    if (index >= 0) Findings->cmbRule->setCurrentIndex(index);
    pgResult->setCurrentWidget(Findings);
  });
  SaveReport = menuBar()->findChild<QMenu*>("Tool1")->addAction(summary_text::kSaveReport);
  SaveReport->setObjectName("SaveReport");
  connect(SaveReport, &QAction::triggered, this, &TMainForm::SaveReportClick);
}

// After a format check: what its grid and the MAC edits hold, the messages
// by MTI of the rows it read; the rest waits for a verify.
void TMainForm::ShowFormatCheckSummary() {
  // a verify's figures of the same file say more (a click on a batch may check the file again)
  const report::FileSummary* shown = Summary->summary();
  if (shown != nullptr && !shown->identity.sha256.empty() && shown->identity.path == checkedPath_) return;
  auto summary = std::make_shared<report::FileSummary>();
  summary->identity.path = checkedPath_;
  summary->identity.size = static_cast<std::int64_t>(checkedFile_.size);
  summary->envelope = {edit(Edit::INFileMacMeth)->text().toLatin1().toStdString(), edit(Edit::INFileMacVer)->text().toLatin1().toStdString(),
                       edit(Edit::INFileKcv)->text().toLatin1().toStdString(), edit(Edit::INFileMac)->text().toLatin1().toStdString()};
  summary->mac.text = summary_text::kMacAfterVerify;
  summary->verify.read = true;
  for (int row = 1; row < gridModel_->gridRowCount(); ++row) {
    if (gridModel_->gridCellView(0, row).empty()) continue;  // the empty row below the last message
    ++summary->verify.messages;
    ++summary->verify.messagesByType[std::string(gridModel_->gridCellView(1, row))];
  }
  Summary->showSummary(std::move(summary));
}

void TMainForm::SaveReportClick() {
  Guarded([this] {
    const report::FileSummary* summary = Summary->summary();
    if (summary == nullptr || summary->identity.sha256.empty()) {
      dialogs_->showError(this, summary_text::kNothingToSave);
      return;
    }
    const QFileInfo source(QFile::decodeName(QByteArray::fromStdString(summary->identity.path)));
    const QString suggested = source.dir().filePath(source.completeBaseName() + summary_text::kSaveSuffix);
    const QString chosen =
        QFileDialog::getSaveFileName(this, summary_text::kSaveTitle, suggested, summary_text::kSaveFilter);
    if (chosen.isEmpty()) return;
    const report::RunFacts run{app_text::kVersionText, "kalvrin: Tool > Verify",
                               QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toStdString(),
                               summary->cardNumbersMasked};
    std::ofstream out(QFile::encodeName(chosen).toStdString(), std::ios::binary | std::ios::trunc);
    if (out) report::WriteHtmlReport(out, {*summary}, run);
    out.close();
    if (!out) dialogs_->showError(this, QString(findings_text::kCannotWrite).arg(chosen, "the file cannot be written"));
  });
}

}  // namespace kalvrin
