// Verify's reading of a transaction file, for every command that needs it:
// the file header test of the MAC envelope, then every message in file order
// with its record number and decoded elements, the text that stands between
// messages, and how a broken message broke. What it reports is what the
// rules judge; it judges nothing itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "io/file_identity.h"
#include "iso/message_decoder.h"
#include "verify/finding.h"

namespace kalvrin::verify {

// Before the first message: the MAC header record and the MAC check's file
// header test (the first digit after the record and the three bytes after
// it, as they are).
struct FileStart {
  std::int64_t size = 0;
  std::string macHeader;           // the file's first bytes, up to a whole MAC header record
  std::int64_t headerDigit = -1;   // the first digit after the MAC header record, -1 when none
  std::string headerMti;           // the four bytes from there
  bool fileHeaderFound = false;    // they are "1644": reading starts there, else at the file's first byte
  std::int64_t start = 0;
};

// How a message broke off before its last present element.
enum class MessageBreak {
  None,       // complete
  BadPrefix,  // a length prefix is not a number or announces more than the element holds;
              // reading goes on at the next MTI that starts a line, or right after the prefix
  Truncated,  // the file ends inside it; nothing follows
};

// Bitmap characters that mark no elements ('a'-'f' and anything not hex):
// the elements they stand for are not read.
struct BitmapFault {
  std::string characters;  // every such character of both bitmaps, in order
  int firstIndex = -1;     // of the first of them among the 32 bitmap characters; -1 when none
  std::int64_t offset = -1;  // its byte in the file
};

struct ReadMessage {
  std::int64_t record = 0;  // counted from 1 in file order, as the grid's Rec#
  const DecodedMessage& decoded;  // MTI, bitmaps and elements with their file offsets
  MessageBreak broken = MessageBreak::None;
  BitmapFault bitmap;
  bool isTrailer = false;    // an 1844 whose complete P24 is 971
  bool closesBatch = false;  // complete and carrying totals: the transactions before it form a batch
};

// Characters between a complete message and the next (or the end of the
// file) that are neither padding nor control characters. After a broken
// message the bytes up to the next message are part of its damage and are
// not reported.
inline constexpr std::size_t kStrayTextShown = 16;
struct StrayText {
  std::int64_t afterRecord = 0;
  std::int64_t offset = -1;
  std::string text;  // its first characters, up to kStrayTextShown, ending before a control character
  // For masking a card number that the text holds only in part: the digits
  // right before it in the file (the end of the message before, such as
  // S71's value), and the rest of a run of digits that the cut of text
  // broke off, each up to kCardNumberContext.
  std::string digitsBefore;
  std::string digitsAfter;
};
// The longest card number (P2's 19 digits): more digits of context tell
// no more about whether a run is one.
inline constexpr std::size_t kCardNumberContext = 19;

// The message's element, or its complete element; null when it has none.
const DecodedElement* FindElement(const DecodedMessage& message, int number);
const DecodedElement* CompleteElement(const DecodedMessage& message, int number);

class MessageVisitor {
 public:
  virtual ~MessageVisitor() = default;
  virtual void OnStart(const FileStart& start) = 0;
  virtual void OnMessage(const ReadMessage& message) = 0;
  virtual void OnStrayText(const StrayText& text) = 0;
};

enum class ReadEnd {
  EndOfFile,   // every message was read
  Stopped,     // the progress callback asked to stop
  CannotRead,  // a read failed before the end of the file
  Changed,     // the file shrank, grew or was replaced while it was read
};

// One file, opened read-only for as long as the reader lives. Memory stays
// flat in the file's size: the gaps between messages are scanned in large
// blocks, each message is decoded through the decoder's bounded window, and
// a stretch the file system holds as a hole is stepped over unread.
class MessageFileReader {
 public:
  explicit MessageFileReader(std::string_view path);
  ~MessageFileReader();
  MessageFileReader(const MessageFileReader&) = delete;
  MessageFileReader& operator=(const MessageFileReader&) = delete;

  bool IsOpen() const;
  std::int64_t Size() const;

  // Reads the whole file once, front to back, handing each event to
  // `visitor` as it is met. `progress` (may be empty) hears the bytes read a
  // few thousand times at most and stops the reading by returning false.
  // Each of those times, and at the end, the file's identity is checked
  // again: a file that changes under the reader ends the reading (Changed),
  // as does a message the scan saw that is gone when it is decoded.
  ReadEnd Read(MessageVisitor& visitor, const ProgressCallback& progress = {});
  // Every byte of the file, once and in file order, to `feed` during Read:
  // the gap scan's blocks as they are read, and the stretches the scan
  // stepped over (bytes only the decoder read, holes) read again, from the
  // page cache, just before the block after them. Up to the file's end when
  // Read ends there.
  void SetByteObserver(std::function<void(std::string_view)> feed);
  // A read failed, during Read or since.
  bool Failed() const;
  // The path no longer names the file as it was when the reader opened it:
  // its size or modification time differ, or it is gone.
  bool Changed() const;
  // The file as it was when the reader opened it: a later open of the same
  // path reads the same file only while the path still names this identity.
  const FileIdentity& Identity() const { return identity_; }

  // The offset of the index-th character (control characters not counted)
  // from `from` on; `from` when the file ends first.
  std::int64_t OffsetOfCharacter(std::int64_t from, std::size_t index);
  // The offset of the index-th character of an element's data.
  std::int64_t OffsetInValue(const DecodedElement& element, std::size_t index);

 private:
  class Scanner;
  struct Gap;
  Gap ScanGap(std::int64_t from);
  std::int64_t LineStartMessage(std::int64_t from);
  FileStart ReadStart();
  BitmapFault FindBitmapFault(const DecodedMessage& message);
  std::int64_t HandOver(MessageVisitor& visitor, const DecodedMessage& message, std::int64_t record);
  StrayText ReadStrayText(std::int64_t record, std::int64_t offset);
  bool Progress(std::int64_t done);

  FileIdentity identity_;  // taken before the opens: a change after it shows
  std::string path_;
  MessageReader decoder_;
  std::unique_ptr<Scanner> scan_;
  ProgressCallback progress_;
  std::int64_t progressStep_ = 1;
  std::int64_t nextProgress_ = 0;
  bool stopped_ = false;
  bool changed_ = false;
  std::int64_t noLineStartFrom_ = -1;
};

}  // namespace kalvrin::verify
