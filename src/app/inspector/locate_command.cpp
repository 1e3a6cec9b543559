// The window's side of finding a message by its record or offset: Tool >
// Go to offset, and the Findings page's double-click on a finding. A message
// the grid holds is selected in the grid; one past the grid's end (the
// format check stops at a bad length prefix, verify reads on) is read as
// verify frames it and shown in the inspector alone.
#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>

#include <algorithm>
#include <limits>

#include "app/busy_state.h"
#include "app/form_surface.h"
#include "app/grid/grid_model.h"
#include "app/grid/grid_tools.h"
#include "app/inspector/go_to_offset.h"
#include "app/inspector/inspector.h"
#include "app/inspector/message_locator.h"
#include "app/main_form.h"
#include "app/widget_helpers.h"
#include "io/transaction_file.h"

namespace kalvrin {

namespace {

// The share of the grid's room the inspector takes when it first opens.
constexpr int kInspectorShare = 45;

QString OffsetQText(std::int64_t offset) { return Latin1(OffsetText(offset)); }

QString RefusalText(const LocatedMessage& found, bool byRecord, std::int64_t target, const QString& file) {
  using namespace goto_text;
  switch (found.end) {
    case LocateEnd::Found: return {};
    case LocateEnd::PastTheEnd: return QString::fromLatin1(kPastTheEnd).arg(OffsetQText(target)).arg(found.fileSize);
    case LocateEnd::CannotRead: return QString::fromLatin1(kCannotRead).arg(file, QString::fromLocal8Bit(found.error));
    case LocateEnd::Changed: return QString::fromLatin1(kChanged).arg(file);
    case LocateEnd::Stopped: return QString::fromLatin1(kLocateStopped);
    case LocateEnd::NoMessageThere: break;
  }
  if (byRecord) return QString::fromLatin1(kNoSuchRecord).arg(target);
  QString text = QString::fromLatin1(kNoMessageAt).arg(OffsetQText(target));
  if (found.offsetBefore >= 0) {
    text += QString::fromLatin1(kMessageBefore).arg(found.recordBefore).arg(OffsetQText(found.offsetBefore));
  }
  if (found.offsetAfter >= 0) {
    text += QString::fromLatin1(kMessageAfter).arg(found.recordAfter).arg(OffsetQText(found.offsetAfter));
  }
  return text;
}

}  // namespace

void TMainForm::BuildGoToOffset() {
  GoToOffset = new QAction(goto_text::kMenuItem, this);
  GoToOffset->setObjectName("GoToOffset");
  connect(GoToOffset, &QAction::triggered, this, &TMainForm::GoToOffsetClick);
  menuBar()->findChild<QMenu*>("Tool1")->addAction(GoToOffset);
}

void TMainForm::GoToOffsetClick() {
  if (!commands_.idle()) return;
  GoToOffsetDialog dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  const QString file = txtINFile->text();
  if (!CheckUnlessGridHolds(file)) return;
  Guarded([&] { ShowMessageOf(QFile::encodeName(file).toStdString(), false, dialog.offset(), 0); });
}

// Messages are shown beside the grid of their file: a file the grid does
// not hold is checked first. False when that check was stopped.
bool TMainForm::CheckUnlessGridHolds(const QString& file) {
  const std::string path = QFile::encodeName(file).toStdString();
  if (gridModel_->gridRowOffset(1) != kNoRowOffset && checkedPath_ == path) return true;
  txtINFile->setText(file);
  bbtnCheckFormatClick();
  return !commands_.stopping();
}

void TMainForm::ShowMessageOf(const std::string& path, bool byRecord, std::int64_t target, int element) {
  const bool gridHoldsFile = checkedPath_ == path;
  const int rows = gridModel_->gridRowCount();
  if (gridHoldsFile && byRecord && target > 0 && target < rows) {
    ShowGridRow(static_cast<int>(target), element);
    return;
  }
  if (gridHoldsFile && !byRecord) {
    for (int row = gridModel_->gridFixedRows(); row < rows; ++row) {
      if (gridModel_->gridRowOffset(row) == target) {
        ShowGridRow(row, element);
        return;
      }
    }
  }

  // Past the grid: read the file as verify does, up to the message. The
  // progress bar shows the reading and is given back as it was.
  const int barMin = surface_->progressMin(), barMax = surface_->progressMax(), barAt = surface_->progressPosition();
  LocatedMessage found;
  {
    BusyState busy(commands_, Command::Locate, CommandWidgets(), *surface_, nullptr);
    surface_->setProgressMin(0);
    surface_->setProgressPosition(0);
    auto progress = [this](std::int64_t done, std::int64_t total) { return ShowCommandProgress(done, total); };
    found = byRecord ? LocateRecord(path, target, progress) : LocateOffset(path, target, progress);
    surface_->setProgressMin(barMin);
    surface_->setProgressMax(barMax);
    surface_->setProgressPosition(barAt);
  }
  switch (commands_.takeAfterStop()) {
    case AfterStop::Close: close(); return;
    case AfterStop::Clear: bbtnClearClick(); return;
    case AfterStop::Nothing:
    case AfterStop::Keep: break;
  }
  surface_->flush();

  pgResult->setCurrentWidget(Format);
  inspectorClosed_ = false;
  const QString file = QFile::decodeName(QByteArray::fromStdString(path));
  const int fixed = gridModel_->gridFixedRows();
  if (found.end == LocateEnd::Found && gridHoldsFile && found.record < rows && found.record >= fixed) {
    ShowGridRow(static_cast<int>(found.record), element);  // an offset the grid's rows did not show as theirs
    return;
  }
  // No grid row stands for what the inspector shows now.
  FormatGrid->selectionModel()->clear();
  if (found.end != LocateEnd::Found) {
    Inspector->showRefusal(RefusalText(found, byRecord, target, file));
  } else if (gridHoldsFile && found.identity != checkedFile_) {
    Inspector->showFileChanged(static_cast<int>(found.record));
  } else {
    Inspector->showMessage(path, static_cast<int>(std::min<std::int64_t>(found.record, std::numeric_limits<int>::max())),
                           found.offset);
    Inspector->addNote(QString::fromLatin1(goto_text::kPastTheGrid));
    if (element == 0 || !Inspector->selectPart(element)) Inspector->selectPart(kMtiPart);
  }
  OpenInspector();
}

// The grid row selected and its message inspected, with the element's
// cell and line when it has one.
bool TMainForm::ShowGridRow(int row, int element) {
  const QModelIndex index = gridTools_->reveal(row, element);
  if (!index.isValid()) return false;
  pgResult->setCurrentWidget(Format);
  inspectorClosed_ = false;
  InspectGridCell(index);
  if (element != 0) Inspector->selectPart(element);
  return true;
}

// Opens the inspector below the grid unless the user dragged it shut.
void TMainForm::OpenInspector() {
  if (!Inspector->isHidden() && (FormatSplitter->sizes().value(1) != 0 || inspectorClosed_)) return;
  Inspector->show();
  const int room = FormatSplitter->height();
  FormatSplitter->setSizes({room * (100 - kInspectorShare) / 100, room * kInspectorShare / 100});
}

}  // namespace kalvrin
