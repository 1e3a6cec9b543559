// The edit list, its page, the save dialog and their place in the window.
#include "app/tools/test_copy.h"

#include <QAction>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

#include "app/grid/grid_model.h"
#include "app/grid/grid_tools.h"
#include "app/inspector/inspector.h"
#include "app/main_form.h"
#include "iso/result_grid.h"
#include "rewrite/rewrite.h"

namespace kalvrin {

namespace t = test_copy_text;

void TestCopyEdits::add(rewrite::Edit edit) {
  edits_.push_back(std::move(edit));
  emit changed();
}

bool TestCopyEdits::undo() {
  if (edits_.empty()) return false;
  edits_.pop_back();
  emit changed();
  return true;
}

void TestCopyEdits::clear() {
  if (edits_.empty()) return;
  edits_.clear();
  emit changed();
}

bool TestCopyEdits::touches(std::int64_t record, int element) const {
  return std::any_of(edits_.begin(), edits_.end(), [&](const rewrite::Edit& edit) {
    return edit.record == record && (edit.element == element || edit.kind == rewrite::EditKind::Delete ||
                                     edit.kind == rewrite::EditKind::Copy);
  });
}

EditsPage::EditsPage(TestCopyEdits& edits, QWidget* parent) : QWidget(parent), edits_(edits) {
  setObjectName("Edits");
  auto* layout = new QVBoxLayout(this);
  List = new QListWidget(this);
  List->setObjectName("EditList");
  layout->addWidget(List);
  connect(&edits_, &TestCopyEdits::changed, this, &EditsPage::refresh);
  refresh();
}

void EditsPage::refresh() {
  List->clear();
  for (const rewrite::Edit& edit : edits_.edits()) List->addItem(QString::fromLatin1(rewrite::EditText(edit)));
  if (edits_.edits().empty()) List->addItem(t::kNoEdits);
}

TestCopyDialog::TestCopyDialog(const QString& suggestedName, QWidget* parent) : QDialog(parent) {
  setObjectName("TestCopyDialog");
  setWindowTitle(t::kSaveItem);
  auto* form = new QFormLayout(this);
  auto* fileRow = new QHBoxLayout;
  OutFile = new QLineEdit(suggestedName, this);
  OutFile->setObjectName("OutFile");
  auto* browse = new QPushButton("...", this);
  connect(browse, &QPushButton::clicked, this, [this] {
    const QString name = QFileDialog::getSaveFileName(this, t::kSaveItem, OutFile->text());
    if (!name.isEmpty()) OutFile->setText(name);
  });
  fileRow->addWidget(OutFile);
  fileRow->addWidget(browse);
  form->addRow("New file", fileRow);
  Anonymize = new QCheckBox("Anonymise card data (card numbers, names, addresses)", this);
  Renumber = new QCheckBox("Renumber S71", this);
  Retotal = new QCheckBox("Re-total the batches", this);
  Remac = new QCheckBox("Re-MAC with the key in the key edit", this);
  for (QCheckBox* box : {Anonymize, Renumber, Retotal, Remac}) form->addRow(box);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  form->addRow(buttons);
}

TestCopyChoice TestCopyDialog::choice() const {
  return {QFile::encodeName(OutFile->text()).toStdString(), Anonymize->isChecked(), Renumber->isChecked(),
          Retotal->isChecked(), Remac->isChecked()};
}

TestCopyTools::TestCopyTools(TMainForm& form) : QObject(&form), form_(form) {
  Page = new EditsPage(Edits);
  form_.pgResult->addTab(Page, t::kPageCaption);
  QMenu* tool = form_.menuBar()->findChild<QMenu*>("Tool1");
  SaveAction = tool->addAction(t::kSaveItem);
  SaveAction->setObjectName("SaveTestCopy");
  connect(SaveAction, &QAction::triggered, this, &TestCopyTools::saveClick);
  UndoAction = tool->addAction(t::kUndoItem);
  UndoAction->setObjectName("UndoEdit");
  UndoAction->setShortcut(QKeySequence::Undo);
  UndoAction->setEnabled(false);
  connect(UndoAction, &QAction::triggered, &Edits, &TestCopyEdits::undo);
  connect(&Edits, &TestCopyEdits::changed, this, [this] { UndoAction->setEnabled(!Edits.edits().empty()); });

  DeleteAction = new QAction(t::kDeleteItem, this);
  DeleteAction->setObjectName("DeleteMessage");
  CopyAction = new QAction(t::kCopyItem, this);
  CopyAction->setObjectName("CopyMessage");
  for (const auto& [action, kind] : {std::pair{DeleteAction, rewrite::EditKind::Delete},
                                     std::pair{CopyAction, rewrite::EditKind::Copy}}) {
    const rewrite::EditKind editKind = kind;
    connect(action, &QAction::triggered, this, [this, editKind] {
      const std::int64_t record = currentGridRecord();
      if (record > 0) Edits.add({editKind, record, 0, ""});
    });
  }
  form_.gridTools().rowActions = {DeleteAction, CopyAction};
  // edited cells in another colour: a whole message's row for a copy or a delete
  form_.gridModel().setCellMark([this](int column, std::string_view recordText) {
    if (column < 0 || column >= kGridColumnCount || Edits.edits().empty()) return false;
    const std::int64_t record = QByteArray(recordText.data(), static_cast<qsizetype>(recordText.size())).toLongLong();
    return record > 0 && Edits.touches(record, kGridColumns[static_cast<std::size_t>(column)].element);
  });
  connect(&Edits, &TestCopyEdits::changed, this, [this] { form_.gridModel().markedCellsChanged(); });

  EditValueAction = new QAction(t::kEditValueItem, this);
  EditValueAction->setObjectName("EditValue");
  connect(EditValueAction, &QAction::triggered, this, &TestCopyTools::editValue);
  form_.Inspector->ElementGrid->setContextMenuPolicy(Qt::ActionsContextMenu);
  form_.Inspector->ElementGrid->addAction(EditValueAction);
}

std::int64_t TestCopyTools::currentGridRecord() const {
  const QModelIndex current = form_.FormatGrid->currentIndex();
  if (!current.isValid()) return 0;
  return current.sibling(current.row(), 0).data().toString().toLongLong();
}

void TestCopyTools::editValue() {
  const auto* model = qobject_cast<const ElementListModel*>(form_.Inspector->ElementGrid->model());
  const QModelIndex current = form_.Inspector->ElementGrid->currentIndex();
  const int record = form_.Inspector->record();
  if (model == nullptr || !current.isValid() || record <= 0) return;
  const InspectedPart& part = model->parts().at(static_cast<std::size_t>(current.row()));
  if (part.part < 2) return;  // the MTI and bitmaps follow from the elements
  bool accepted = false;
  const QString value = QInputDialog::getText(&form_, t::kEditValueItem, QString::fromStdString(part.label),
                                              QLineEdit::Normal, QString::fromLatin1(part.value), &accepted);
  if (!accepted) return;
  const rewrite::Edit edit{rewrite::EditKind::Set, record, part.part, value.toLatin1().toStdString()};
  if (const std::string refusal = rewrite::EditRefusal(edit); !refusal.empty()) {
    form_.statusBar()->showMessage(QString::fromStdString(refusal));
    return;
  }
  Edits.add(edit);
}

QString TestCopyTools::save(const TestCopyChoice& choice, bool& written) {
  rewrite::RewriteOptions options;
  options.edits = Edits.edits();
  options.anonymize = choice.anonymize;
  options.renumber = choice.renumber;
  options.retotal = choice.retotal;
  options.remac = choice.remac;
  if (choice.remac) options.key = form_.txtCHECKKey->text().toStdString();
  const std::string in = QFile::encodeName(form_.txtINFile->text()).toStdString();
  const rewrite::RewriteResult result = rewrite::RewriteFile(in, choice.out, options);
  written = result.written;
  if (!written) return QString::fromLatin1(result.error);
  return QString(t::kSaved)
      .arg(QFile::decodeName(choice.out.c_str()))
      .arg(result.messagesOut)
      .arg(result.changes);
}

void TestCopyTools::saveClick() {
  TestCopyDialog dialog(form_.txtINFile->text() + ".test", &form_);
  if (dialog.exec() != QDialog::Accepted) return;
  bool written = false;
  const QString text = save(dialog.choice(), written);
  form_.statusBar()->showMessage(text);
}

}  // namespace kalvrin
