// The format check: reads a transaction file one character at a time, finds
// each message by its MTI, takes its bitmaps and data elements apart and
// writes one grid row per message.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "defines.h"
#include "iso/element_table.h"

namespace kalvrin {

// Where a run stands; reset by ResetMessage (flags, window, counts of the
// message) and ResetRun (recordCount).
struct FormatRunState {
  bool mtiFound = false;
  bool primaryBitmapDone = false;
  bool secondaryBitmapDone = false;
  bool primarySetDone = false;
  bool secondarySetDone = false;
  bool stopRequested = false;      // a bad length prefix, or a closing window
  std::int64_t recordCount = 0;    // messages found so far; the grid row of the current one
  std::int64_t padCount = 0;       // spaces in the current message's gap
  std::int64_t dataCount = 0;      // data characters the element steps took for the current message
  std::array<char, 4> mtiWindow{};  // the last digits seen outside a message, most recent last
  int mtiDigits = 0;
  std::array<char, 16> primaryMap{};  // bitmap characters collected so far
  std::array<char, 16> secondaryMap{};
  int primaryMapCount = 0;
  int secondaryMapCount = 0;
};

class FormatCheck {
 public:
  // The check writes its results into `surface`, which must outlive it.
  explicit FormatCheck(WindowSurface& surface);
  FormatCheck(const FormatCheck&) = delete;
  FormatCheck& operator=(const FormatCheck&) = delete;

  // The driver. 0 when the file cannot be opened or read, when a length
  // prefix is bad, when the file ends inside an MTI's message before its
  // last present element is complete, and when the run was stopped;
  // otherwise 1.
  int RunFormatCheck(std::string_view path);
  // Title row and one empty row, the 41 columns with their widths.
  void SetUpResultGrid();
  // For a closing window: the running check stops before its next character
  // (result 0, grid finished, file closed). Nothing happens between runs.
  void RequestStop();
  // True while RunFormatCheck is on the stack.
  bool Running() const { return running_; }
  // Where the last run's bad length prefix starts in the file (its first
  // character), -1 when the run met none.
  std::int64_t ErrorOffset() const { return errorOffset_; }
  // True when the last run could not open or read the file.
  bool FileUnreadable() const { return fileUnreadable_; }
  // True when the file changed (size or modification time) during the
  // last run: its rows may mix two files, and the run counts as failed.
  bool FileChanged() const { return fileChanged_; }

  const FormatRunState& state() const { return state_; }

 private:
  struct ElementSet;  // one of the two element sets, defined with the steps
  static const ElementSet kPrimarySet;
  static const ElementSet kSecondarySet;
  class Progress;

  // The steps, one character each. Bitmap steps: 0, then 1 for the character
  // that completes the bitmap. Element steps: 0 for every character taken, 1
  // when the set has no element left (the character is not taken).
  // MessageTypeStep: the MTI when a message starts, else 1. GapStep: 1.
  int MessageTypeStep(char c);
  int GapStep(char c);
  int PrimaryBitmapStep(char c);
  int SecondaryBitmapStep(char c);
  int PrimaryElementStep(char c);
  int SecondaryElementStep(char c);

  // A new message: clean flags, bitmaps and element table, one grid row more.
  void ResetMessage();
  // A new run: ResetMessage, then no message found yet.
  void ResetRun();
  // Drops the trailing empty row at the end of a run.
  void FinishResultGrid();

  int ElementStep(const ElementSet& set, char c);
  int BitmapStep(char c, std::array<char, 16>& chars, int& count, int bitmap, int column, bool& done);
  int NextElement(const ElementSet& set);
  int SeekElement(const ElementSet& set);
  int PrefixStep(const ElementSet& set, int element, char c);
  int TakeData(char c);
  void CompleteReading();
  void Follow(const ElementSet& set);
  int PrefixDone(const ElementSet& set, int element);
  void ElementDone(const ElementSet& set, int element);
  void ReadBlock(const char* chars, std::size_t count);
  std::size_t ReadDataRun(const char* chars, std::size_t at, std::size_t count);
  std::size_t ReadPrefixRun(const char* chars, std::size_t at, std::size_t count);
  std::size_t ReadGapRun(const char* chars, std::size_t at, std::size_t count);
  std::size_t ReadBitmapRun(const char* chars, std::size_t at, std::size_t count);
  std::size_t Advance(std::size_t span, bool completes);
  std::size_t AdvancePumping(std::size_t span, bool completes);
  void TakeOne(char c);
  bool Pump();
  int Dispatch(char c);
  int MtiDigit(char c);
  int CloseRun();
  void FlushGap();
  void ShowHeldStatus();
  int CurrentRow() const;
  void WriteCell(int column, std::string_view text);

  WindowSurface& surface_;
  ElementTable elements_;
  FormatRunState state_;
  bool running_ = false;
  bool pumpsEvents_ = true;  // the surface has an event loop to run after each character
  Progress* progress_ = nullptr;  // during a run
  std::int64_t position_ = 0;     // characters read so far in this run
  std::array<std::int64_t, 4> mtiOffsets_{};  // the file offset of each digit in the MTI window
  std::int64_t prefixOffset_ = -1;  // the first character of the length prefix being read
  std::int64_t errorOffset_ = -1;
  bool fileUnreadable_ = false;
  bool fileChanged_ = false;
  // The status texts not yet written to a surface without an event loop.
  std::int64_t heldPosition_ = -1;
  std::string_view heldElementStatus_;  // one of the labels made at compile time
  bool gapPending_ = false;  // PAD and SIZE of the current gap not yet on the grid
  bool padPending_ = false;
  std::array<int, 2> setCursor_{};  // per element set: no element below it is still to be read
  struct Reading {                  // the element whose prefix digits or data come next, if known
    ElementDef* def = nullptr;
    const ElementSet* set = nullptr;
    int element = 0;
  } reading_;
};

}  // namespace kalvrin
