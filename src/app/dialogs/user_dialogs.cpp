// The standard dialogs behind UserDialogs.
#include "app/dialogs/user_dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "app/app_texts.h"

namespace kalvrin {

namespace {

class StandardDialogs : public UserDialogs {
 public:
  std::optional<QString> chooseFile(QWidget* parent, const QString& initialFolder) override {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QString::fromLatin1(app_text::kOpenFilter), QString::fromLatin1(app_text::kAllFilesFilter)});
    const QFileInfo start(initialFolder);
    dialog.setDirectory(start.isDir() ? start.absoluteFilePath() : start.absolutePath());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front();
  }

  void showError(QWidget* parent, const QString& text) override {
    QMessageBox::critical(parent, QString(), text);
  }

  bool closeWithoutSaving(QWidget* parent, const QString& text) override {
    QMessageBox box(QMessageBox::Warning, QString(), text, QMessageBox::NoButton, parent);
    QPushButton* close = box.addButton(app_text::kCloseWithoutSaving, QMessageBox::DestructiveRole);
    QPushButton* stay = box.addButton(app_text::kStayOpen, QMessageBox::RejectRole);
    box.setDefaultButton(stay);
    box.exec();
    return box.clickedButton() == close;
  }
};

}  // namespace

std::unique_ptr<UserDialogs> MakeStandardDialogs() { return std::make_unique<StandardDialogs>(); }

}  // namespace kalvrin
