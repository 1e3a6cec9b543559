// The message inspector beside the result grid: one message of the checked
// file, decoded from its file offset when its grid row is selected, as a
// table of all its present elements and a hex view of its bytes in which the
// selected element's bytes are highlighted.
#pragma once

#include <QAbstractTableModel>
#include <QWidget>

#include <cstdint>
#include <string>
#include <vector>

#include "iso/message_decoder.h"

class QLabel;
class QPlainTextEdit;
class QSplitter;
class QTableView;

namespace kalvrin {

namespace inspector_text {
inline constexpr char kNoMessage[] = "Select a row of the grid to see its message here.";
inline constexpr char kMessageHead[] = "Message %1 at %2, %3 bytes, MTI %4";
inline constexpr char kBadPrefix[] = "%1 at offset %2";
inline constexpr char kEndOfFile[] = "The file ends inside this message, at %1.";
inline constexpr char kNotThere[] = "No message starts at %1 any more: the file has changed since the check.";
inline constexpr char kCannotRead[] = "Cannot open file";
inline constexpr char kFileChanged[] =
    "The file has changed since the check (its size or modification time): check it again to see its messages.";
inline constexpr char kMoreBytes[] = "... %1 more bytes";
}  // namespace inspector_text

// What the inspector can point at: the MTI, a bitmap or a data element.
inline constexpr int kMtiPart = -1;
inline constexpr int kPrimaryMapPart = -2;
inline constexpr int kSecondaryMapPart = -3;

// One line of the element table.
struct InspectedPart {
  int part = 0;  // an element number, or one of the k...Part values
  std::string label;  // "MTI", "PMAP", "P35", "S128"
  std::string title;  // the grid's column title, where the grid shows the element
  std::string format;
  std::string prefix;
  std::string length;
  std::string value;
  FileSpan span;
};

// The element table's rows, one per part of the message.
class ElementListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  using QAbstractTableModel::QAbstractTableModel;
  void setParts(std::vector<InspectedPart> parts);
  const std::vector<InspectedPart>& parts() const { return parts_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<InspectedPart> parts_;
};

class MessageInspector : public QWidget {
  Q_OBJECT

 public:
  explicit MessageInspector(QWidget* parent = nullptr);

  // Decodes the message that starts at `offset` of the file at `path` and
  // shows it; `record` is its number in the grid.
  void showMessage(const std::string& path, int record, std::int64_t offset);
  // Back to showing nothing.
  void clear();
  // Card numbers masked in the element table and the hex view; the shown
  // message is shown again.
  void setMaskCardNumbers(bool mask);
  bool maskCardNumbers() const { return maskCardNumbers_; }
  // Nothing decoded: the file is no longer the one the grid was made from.
  void showFileChanged(int record);
  // Nothing decoded: `text` says why no message can be shown.
  void showRefusal(const QString& text);
  // A line under the shown message's head, such as why the grid does not hold it.
  void addNote(const QString& note);
  // Selects the part's line and highlights its bytes; false when the shown
  // message has no such part.
  bool selectPart(int part);

  const DecodedMessage& message() const { return message_; }
  int record() const { return record_; }
  // The bytes of the file the hex view highlights (offset -1: none).
  FileSpan highlighted() const { return highlighted_; }

  QLabel* labMessage = nullptr;
  QTableView* ElementGrid = nullptr;
  QPlainTextEdit* HexView = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void showHead();
  void showBytes(const std::string& bytes);
  void highlight(FileSpan span);
  void onCurrentPartChanged(const QModelIndex& current);

  ElementListModel* parts_ = nullptr;
  QSplitter* panes_ = nullptr;
  DecodedMessage message_;
  int record_ = 0;
  std::int64_t shownFrom_ = 0;   // the file offset of the hex view's first byte
  std::int64_t shownBytes_ = 0;  // how many bytes the hex view shows
  FileSpan highlighted_;
  bool panesMoved_ = false;
  bool maskCardNumbers_ = false;
  std::string path_;  // of the shown message  // the user has placed the panes; resizing keeps their shares
};

}  // namespace kalvrin
