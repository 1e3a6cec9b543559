// The window's test copies: the edits held for the file in the window (an
// element's value from the inspector, a grid row's message deleted or
// copied), listed on the Edits page and undone with Ctrl+Z, and Tool ▸ Save
// test copy as..., which writes them with the options of kalvrin-check
// rewrite. Nothing is written until then; the file itself never is.
#pragma once

#include <QDialog>
#include <QObject>
#include <QWidget>

#include <string>
#include <vector>

#include "rewrite/edits.h"

class QAction;
class QCheckBox;
class QLineEdit;
class QListWidget;

namespace kalvrin {

class TMainForm;

namespace test_copy_text {
inline constexpr char kPageCaption[] = "Edits";
inline constexpr char kSaveItem[] = "Save test copy as...";
inline constexpr char kUndoItem[] = "Undo edit";
inline constexpr char kEditValueItem[] = "Edit value...";
inline constexpr char kDeleteItem[] = "Delete message";
inline constexpr char kCopyItem[] = "Copy message";
inline constexpr char kNoEdits[] = "No edits: the copy will equal the file unless an option changes it.";
inline constexpr char kSaved[] = "Test copy written: %1 (%2 messages, %3 changes)";
}  // namespace test_copy_text

// What Save test copy as... asks for besides the edits.
struct TestCopyChoice {
  std::string out;
  bool anonymize = false;
  bool renumber = false;
  bool retotal = false;
  bool remac = false;
};

// The edits, in the order made, with one step of undo each.
class TestCopyEdits : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
  const std::vector<rewrite::Edit>& edits() const { return edits_; }
  void add(rewrite::Edit edit);
  // Takes back the last edit; false when there is none.
  bool undo();
  void clear();
  // Whether an edit names this element of this record (or the whole message).
  bool touches(std::int64_t record, int element) const;

 signals:
  void changed();

 private:
  std::vector<rewrite::Edit> edits_;
};

// The Edits page: one line per edit, as kalvrin-check names it.
class EditsPage : public QWidget {
  Q_OBJECT

 public:
  explicit EditsPage(TestCopyEdits& edits, QWidget* parent = nullptr);
  QListWidget* List = nullptr;

 private:
  void refresh();
  TestCopyEdits& edits_;
};

// The options of Save test copy as... and the new file's name.
class TestCopyDialog : public QDialog {
  Q_OBJECT

 public:
  TestCopyDialog(const QString& suggestedName, QWidget* parent = nullptr);
  TestCopyChoice choice() const;
  QLineEdit* OutFile = nullptr;
  QCheckBox* Anonymize = nullptr;
  QCheckBox* Renumber = nullptr;
  QCheckBox* Retotal = nullptr;
  QCheckBox* Remac = nullptr;
};

// The window's part of it: the page, the menu items, the context items of
// the grid and the inspector.
class TestCopyTools : public QObject {
  Q_OBJECT

 public:
  explicit TestCopyTools(TMainForm& form);
  TestCopyEdits Edits;
  EditsPage* Page = nullptr;
  QAction* SaveAction = nullptr;
  QAction* UndoAction = nullptr;
  QAction* EditValueAction = nullptr;
  QAction* DeleteAction = nullptr;
  QAction* CopyAction = nullptr;

  // Writes the copy of the window's file with the edits; the status line's
  // text, or the error's.
  QString save(const TestCopyChoice& choice, bool& written);

 private:
  std::int64_t currentGridRecord() const;
  void editValue();
  void saveClick();
  TMainForm& form_;
};

}  // namespace kalvrin
