// Definitions shared by the core and its front ends: the window surface the
// checks write into, the edits they name, and the decimal reader they share.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

namespace kalvrin {

// The edits the core writes, named after their components on the main window.
enum class Edit {
  INFileKcv, INFileMacVer, INFileMacMeth, INFileMac,
  CalcMac1BSize, CalcMac1BNum, CalcMac1FSize,
  CalcMac2BSize, CalcMac2BNum, CalcMac2FSize,
  CalcMac3BSize, CalcMac3BNum, CalcMac3FSize,
  CalcMacAll, CalcMacNHD, CalcMacNSP };

inline constexpr int kEditCount = static_cast<int>(Edit::CalcMacNSP) + 1;

// Component names of the edits, in the order of Edit.
inline constexpr std::string_view kEditNames[kEditCount] = {
  "txtINFileKcv", "txtINFileMacVer", "txtINFileMacMeth", "txtINFileMac",
  "txtCalcMac1BSize", "txtCalcMac1BNum", "txtCalcMac1FSize",
  "txtCalcMac2BSize", "txtCalcMac2BNum", "txtCalcMac2FSize",
  "txtCalcMac3BSize", "txtCalcMac3BNum", "txtCalcMac3FSize",
  "txtCalcMacAll", "txtCalcMacNHD", "txtCalcMacNSP" };

constexpr std::string_view EditName(Edit e) { return kEditNames[static_cast<int>(e)]; }

// The three computed MACs and the edits each fills: MACALL over the whole
// file, MACNHD without the MAC header and trailer and without CR/LF, MACNSP
// without padding spaces too.
struct MacVariantEdits {
  std::string_view name;     // the variant as kalvrin-check's --expect names it
  std::string_view caption;  // MACALL, MACNHD, MACNSP
  Edit blockSize, blockCount, byteCount;
  Edit result;  // the computed MAC, green or red against the declared one
};
inline constexpr MacVariantEdits kMacVariants[] = {
    {"all", "MACALL", Edit::CalcMac1BSize, Edit::CalcMac1BNum, Edit::CalcMac1FSize, Edit::CalcMacAll},
    {"nhd", "MACNHD", Edit::CalcMac2BSize, Edit::CalcMac2BNum, Edit::CalcMac2FSize, Edit::CalcMacNHD},
    {"nsp", "MACNSP", Edit::CalcMac3BSize, Edit::CalcMac3BNum, Edit::CalcMac3FSize, Edit::CalcMacNSP},
};

// The edits that turn green or red, in the order of kMacVariants.
inline constexpr Edit kMacResultEdits[] = {kMacVariants[0].result, kMacVariants[1].result, kMacVariants[2].result};

// A grid row's file offset when the row holds no message.
inline constexpr std::int64_t kNoRowOffset = -1;

// Status panels, numbered from the left.
inline constexpr int kPositionPanel = 0;  // ISO: read position after each message; MAC: file size
inline constexpr int kTotalsPanel = 1;    // ISO: file size; MAC: block count and the driver's errors
inline constexpr int kCommandPanel = 2;   // command state, progress of the steps and their errors

// Black RGB 0,0,0; red RGB 255,0,0; green RGB 0,128,0.
enum class TextColour { Black, Red, Green };

// Everything the format check and the MAC check do to the window goes through
// this interface; texts are single bytes, 0x80-0xFF kept as they are.
class WindowSurface {
 public:
  virtual ~WindowSurface() = default;

  // FormatGrid
  virtual int gridRowCount() const = 0;
  virtual void setGridRowCount(int rows) = 0;
  virtual void setGridFixedRows(int rows) = 0;
  virtual void setGridColCount(int cols) = 0;
  virtual void setGridColWidth(int col, int width) = 0;
  virtual void setGridCell(int col, int row, std::string_view text) = 0;  // no-op outside the grid
  virtual void repaintGrid() = 0;
  // Where the row's message starts in the file (its MTI's first digit); -1
  // (kNoRowOffset) for a row that holds no message. A surface may ignore it.
  virtual void setGridRowOffset(int row, std::int64_t offset) {
    (void)row;
    (void)offset;
  }

  // StatusBar, panels 0..2 from the left
  virtual void setStatus(int panel, std::string_view text) = 0;
  virtual void repaintStatus() = 0;

  // ProgressBar1
  virtual int progressMin() const = 0;
  virtual void setProgressMin(int value) = 0;
  virtual int progressMax() const = 0;
  virtual void setProgressMax(int value) = 0;
  virtual int progressPosition() const = 0;
  virtual void setProgressPosition(int value) = 0;

  // the edits of the MAC group and of the Mac page
  virtual std::string editText(Edit edit) const = 0;
  virtual void setEditText(Edit edit, std::string_view text) = 0;
  virtual void setEditColour(Edit edit, TextColour colour) = 0;

  // the window as a whole
  virtual void repaint() = 0;
  virtual void processEvents() = 0;  // the window may throttle this; the core calls it freely
  // The same as `characters` (at least 1) calls of processEvents, one after
  // each of as many characters, except that it returns early, after the
  // call that let the user act: the number of calls made. A window that
  // throttles its event loop makes the quiet calls in one step.
  virtual std::size_t processEventsFor(std::size_t characters) {
    (void)characters;
    processEvents();
    return 1;
  }
  // A surface with no event loop behind it (no window, nobody to click) is
  // never asked to process events, and nothing on it can be seen before the
  // check returns: of the status texts that replace each other as a check
  // reads, it may be given only the last.
  virtual bool hasEventLoop() const { return true; }
  // A check that stops on an error it has just shown calls this before it
  // goes on: a window holds still a moment so that a person can read the
  // error. A surface nobody watches goes on at once.
  virtual void pauseAfterError() {}
};

// A declared MAC method, version and key check value, as element 53 and the
// MAC header hold them: one character, two, then eight; a shorter text fills
// what it reaches.
inline void ShowDeclaredMacSettings(WindowSurface& surface, std::string_view text) {
  surface.setEditText(Edit::INFileMacMeth, text.substr(0, 1));
  surface.setEditText(Edit::INFileMacVer, text.substr(text.size() < 1 ? text.size() : 1, 2));
  surface.setEditText(Edit::INFileKcv, text.substr(text.size() < 3 ? text.size() : 3, 8));
}

// Decimal text to a signed 32-bit number the way the C library's atol reads
// it: leading white space, one optional sign, digits up to the first
// non-digit; no digits give 0. Values beyond 32 bits saturate instead of
// overflowing.
constexpr std::int32_t TextToNumber(std::string_view text) {
  std::size_t i = 0;
  auto isSpace = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  while (i < text.size() && isSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > kLimit) value = kLimit;  // stays saturated, no overflow
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(value > kLimit - 1 ? kLimit - 1 : value);
}

}  // namespace kalvrin
