// Tool > Go to offset: the small dialog that takes a file offset, and the
// texts the window says when no message can be shown there.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;

namespace kalvrin {

namespace goto_text {
inline constexpr char kMenuItem[] = "Go to offset...";
inline constexpr char kTitle[] = "Go to offset";
inline constexpr char kPrompt[] = "Offset of a message's first byte, decimal or hexadecimal after 0x:";
inline constexpr char kNotAnOffset[] =
    "\"%1\" is not an offset: give a decimal number such as 1234 or a hexadecimal one such as 0x4D2.";
inline constexpr char kPastTheEnd[] = "Offset %1 is past the end of the file, which holds %2 bytes.";
inline constexpr char kNoMessageAt[] = "No message starts at offset %1.";
inline constexpr char kMessageBefore[] = " Message %1 starts before it, at %2.";
inline constexpr char kMessageAfter[] = " Message %1 starts after it, at %2.";
inline constexpr char kNoSuchRecord[] = "The file holds no message %1.";
inline constexpr char kCannotRead[] = "Cannot read %1: %2";
inline constexpr char kChanged[] = "%1 changed while it was read: check it again.";
inline constexpr char kLocating[] = "Looking for the message";  // status panel 2 while the file is read
inline constexpr char kLocateStopped[] = "Search for the message stopped";
inline constexpr char kPastTheGrid[] =
    "Not in the grid: the format check stops at a bad length prefix before it; verify reads on to it.";
}  // namespace goto_text

// A decimal offset, or a hexadecimal one after "0x" or "0X", with spaces
// around it; nothing for any other text or one too large for a file offset.
std::optional<std::int64_t> ParseOffset(const QString& text);

// Asks for an offset and takes only one that ParseOffset reads; another text
// keeps the dialog open and says why.
class GoToOffsetDialog : public QDialog {
  Q_OBJECT

 public:
  explicit GoToOffsetDialog(QWidget* parent = nullptr);
  // The offset accepted; valid once the dialog is accepted.
  std::int64_t offset() const { return offset_; }

  QLineEdit* txtOffset = nullptr;
  QLabel* labRefusal = nullptr;

 public slots:
  void accept() override;

 private:
  std::int64_t offset_ = 0;
};

}  // namespace kalvrin
