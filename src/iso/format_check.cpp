// The format check's reading loop, its MTI framing and its decoding steps.
#include "iso/format_check.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "decimal_text.h"
#include "io/file_identity.h"
#include "io/transaction_file.h"
#include "iso/char_scan.h"
#include "iso/format_rules.h"
#include "iso/iso_texts.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {

// The MTI digits and both bitmaps count into every message's SIZE.
constexpr std::int64_t kMessageHeadSize = kMtiLength + 2 * kBitmapLength;
constexpr std::size_t kReadBlock = 64 * 1024;
constexpr int kSecurityElement = 53;  // the MAC method, version and key check value
constexpr int kMacElement = 128;

// Each character's bitmap bits in reverse order: the first of its four
// elements in bit 0.
constexpr std::array<std::uint8_t, 256> kReversedBitmapBits = [] {
  constexpr std::array<std::uint8_t, 16> kReversedNibbles = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
  std::array<std::uint8_t, 256> bits{};
  for (int c = 0; c < 256; ++c) bits[static_cast<std::size_t>(c)] = kReversedNibbles[static_cast<std::size_t>(BitmapBits(static_cast<char>(c)))];
  return bits;
}();

// A label followed by an element number, e.g. "PMAP P: 35": one for each
// element, made at compile time, so that a completed element costs no
// formatting.
class ElementLabel {
 public:
  constexpr ElementLabel() = default;
  constexpr ElementLabel(std::string_view label, int element) {
    for (const char c : label) text_[size_++] = c;
    char digits[4] = {};
    int count = 0;
    do {
      digits[count++] = static_cast<char>('0' + element % 10);
      element /= 10;
    } while (element != 0);
    while (count > 0) text_[size_++] = digits[--count];
  }
  constexpr std::string_view view() const { return {text_.data(), size_}; }

 private:
  std::array<char, 16> text_{};
  std::size_t size_ = 0;
};

using ElementLabels = std::array<ElementLabel, kElementCount + 1>;

constexpr ElementLabels MakeElementLabels(std::string_view label) {
  ElementLabels labels{};
  for (int element = 0; element <= kElementCount; ++element) labels[static_cast<std::size_t>(element)] = ElementLabel(label, element);
  return labels;
}

}  // namespace

// One of the two element sets of a message.
struct FormatCheck::ElementSet {
  int index;     // into setCursor_, and its bitmap in the element table
  int mapFirst;  // the element of its bitmap's first bit
  int first;
  int last;
  bool FormatRunState::*done;
  std::string_view prefixError;
  const ElementLabels* elementDone;  // the status text once an element is complete
};

namespace {
static_assert(iso_text::kPrimaryElementDone.size() <= 12 && iso_text::kSecondaryElementDone.size() <= 12);
constexpr ElementLabels kPrimaryElementDone = MakeElementLabels(iso_text::kPrimaryElementDone);
constexpr ElementLabels kSecondaryElementDone = MakeElementLabels(iso_text::kSecondaryElementDone);
}  // namespace

// Element 1 is the secondary bitmap's bit and element 64 is never read: the
// sets are 2 to 63 and 65 to 128.
constexpr FormatCheck::ElementSet FormatCheck::kPrimarySet{
    0, 1, 2, 63, &FormatRunState::primarySetDone, iso_text::kPrimaryPrefixError, &kPrimaryElementDone};
constexpr FormatCheck::ElementSet FormatCheck::kSecondarySet{
    1, 65, 65, kElementCount, &FormatRunState::secondarySetDone, iso_text::kSecondaryPrefixError,
    &kSecondaryElementDone};

// ProgressBar1 over a file of any size. The bar holds an int, so the
// positions of larger files are scaled down; and it moves in steps of at
// most 1/4096 of the file, finer than it can draw, so that a large file
// does not cost a call per character.
class FormatCheck::Progress {
 public:
  Progress(WindowSurface& surface, std::int64_t size)
      : surface_(surface), size_(size), step_(std::max<std::int64_t>(1, size >> 12)) {
    while ((size >> shift_) > INT_MAX) ++shift_;
    surface_.setProgressMin(0);
    surface_.setProgressMax(static_cast<int>(size >> shift_));
    Show(0);
  }
  void Update(std::int64_t position) {
    if (position >= next_) Show(position);
  }
  // The position at which the bar moves next.
  std::int64_t next() const { return next_; }
  // A file that grows while it is read still ends the bar at its maximum.
  void Show(std::int64_t position) {
    surface_.setProgressPosition(static_cast<int>(std::min(position, size_) >> shift_));
    next_ = position + step_;
  }

 private:
  WindowSurface& surface_;
  std::int64_t size_;
  int shift_ = 0;
  std::int64_t step_;
  std::int64_t next_ = 0;
};

FormatCheck::FormatCheck(WindowSurface& surface) : surface_(surface) {}

// ---- the driver ----------------------------------------------------------

int FormatCheck::RunFormatCheck(std::string_view path) {
  if (running_) return 0;  // one run at a time: a nested call would wreck the one in progress
  running_ = true;
  pumpsEvents_ = surface_.hasEventLoop();
  struct RunningGuard {
    bool& running;
    ~RunningGuard() { running = false; }
  } guard{running_};

  ResetRun();
  SetUpResultGrid();
  errorOffset_ = -1;
  fileUnreadable_ = false;
  fileChanged_ = false;

  const std::string pathText(path);
  const FileIdentity identity = FileIdentity::Of(pathText);  // before the open: a change after it shows
  TransactionFile file(path, kReadBlock);
  if (!file.IsOpen()) {
    fileUnreadable_ = true;
    surface_.setStatus(kTotalsPanel, iso_text::kCannotOpenFile);
    return 0;
  }
  const std::int64_t size = file.Size();

  Progress progress(surface_, size);
  progress_ = &progress;
  position_ = 0;
  surface_.repaint();
  surface_.setStatus(kTotalsPanel, DecimalText(size).view());
  surface_.repaint();

  bool readFailed = false;
  while (!state_.stopRequested) {
    const auto block = file.Peek();
    if (block.empty()) {
      readFailed = file.Failed();
      break;
    }
    ReadBlock(reinterpret_cast<const char*>(block.data()), block.size());
    file.Skip(block.size());
    // a file that keeps growing would otherwise be read for ever
    if (FileIdentity::Of(pathText) != identity) break;
  }
  // a bad prefix in a changed file may be the change's own doing; a stop
  // asked for stays a stop
  const bool asked = state_.stopRequested && errorOffset_ < 0;
  fileChanged_ = !asked && FileIdentity::Of(pathText) != identity;
  ShowHeldStatus();

  int result = 0;
  if (fileChanged_) {
    surface_.setStatus(kCommandPanel, iso_text::kFileChanged);
  } else if (state_.stopRequested) {
    result = 0;
  } else if (readFailed) {
    fileUnreadable_ = true;
    surface_.setStatus(kTotalsPanel, iso_text::kCannotOpenFile);
  } else {
    result = CloseRun();
  }
  FlushGap();
  progress.Show(position_);
  progress_ = nullptr;
  FinishResultGrid();
  surface_.repaint();
  return result;
}

// Every character advances the progress bar; control characters go no
// further. Every other character goes to the step the run state selects, and
// then the window may repaint and the user act (a closing window stops the
// run before the next character).
void FormatCheck::ReadBlock(const char* chars, std::size_t count) {
  std::size_t at = 0;
  while (at < count && !state_.stopRequested) {
    const char c = chars[at];
    if (IsControl(c)) {
      ++position_;
      ++at;
    } else if (reading_.def != nullptr) {
      at = reading_.def->prefixDigits == 0 ? ReadDataRun(chars, at, count) : ReadPrefixRun(chars, at, count);
    } else if (!state_.mtiFound && !IsDigit(c)) {
      at = ReadGapRun(chars, at, count);
    } else if (state_.mtiFound && !state_.secondaryBitmapDone) {
      at = ReadBitmapRun(chars, at, count);
    } else {
      ++at;
      TakeOne(c);
    }
  }
}

// A character outside any run: no element is being read (those characters
// are taken as runs).
void FormatCheck::TakeOne(char c) {
  ++position_;
  if (!state_.mtiFound) {
    MessageTypeStep(c);
  } else {
    Dispatch(c);
  }
  Pump();
}

// The run moves over `span` characters just taken. Where the surface has an
// event loop, it runs after each of them as after any other character, but
// not after one that completes an element (`completes`: the span's last
// character does), which has its pump once the element is done; a stop ends
// the span there. Returns the characters taken.
inline std::size_t FormatCheck::Advance(std::size_t span, bool completes) {
  if (!pumpsEvents_) {
    position_ += static_cast<std::int64_t>(span);
    progress_->Update(position_);
    return span;
  }
  return AdvancePumping(span, completes);
}

std::size_t FormatCheck::AdvancePumping(std::size_t span, bool completes) {
  // Held in locals: the event pump could change any member as far as the
  // compiler knows.
  Progress& progress = *progress_;
  WindowSurface& surface = surface_;
  std::int64_t position = position_;
  const std::size_t pumped = completes && span > 0 ? span - 1 : span;
  std::size_t taken = 0;
  bool stopped = false;
  while (taken < pumped && !stopped) {
    // The characters before the next one that moves the progress bar are
    // pumped for together; that one moves the bar before its own pump.
    const auto quiet = static_cast<std::size_t>(std::clamp<std::int64_t>(
        progress.next() - position - 1, 0, static_cast<std::int64_t>(pumped - taken)));
    const std::size_t step = quiet > 0 ? surface.processEventsFor(quiet) : 1;
    if (quiet == 0) {
      progress.Update(position + 1);
      surface.processEvents();
    }
    taken += step;
    position += static_cast<std::int64_t>(step);
    stopped = state_.stopRequested;
  }
  if (!stopped && taken < span) {  // the element's last character
    ++taken;
    ++position;
  }
  position_ = position;
  return taken;
}

// Most of a file is element data and gaps between messages: runs of those
// characters are taken whole, found by a scan for the character that ends
// them. A data run ends with the element's last character, which completes
// it, as TakeData would.
std::size_t FormatCheck::ReadDataRun(const char* chars, std::size_t at, std::size_t count) {
  ElementDef& def = *reading_.def;
  const auto start = static_cast<std::size_t>(def.taken);
  const std::size_t room = std::min(static_cast<std::size_t>(def.length) - start, count - at);
  std::size_t span = ControlFreeLength(chars + at, room, count - at);
  span = Advance(span, start + span == static_cast<std::size_t>(def.length));
  CopyBytes(def.buffer.data() + start, chars + at, span);
  def.taken = static_cast<std::int32_t>(start + span);
  def.buffer[static_cast<std::size_t>(def.taken)] = '\0';
  state_.dataCount += static_cast<std::int64_t>(span);
  if (def.taken == def.length) {
    CompleteReading();
    Pump();
  }
  return at + span;
}

// A length prefix's digits, as PrefixStep takes them, with the element's
// data or the next element to follow once the last one is in.
std::size_t FormatCheck::ReadPrefixRun(const char* chars, std::size_t at, std::size_t count) {
  ElementDef& def = *reading_.def;
  const auto start = static_cast<std::size_t>(def.taken);
  const auto digits = static_cast<std::size_t>(def.prefixDigits);
  const std::size_t room = std::min(digits - start, count - at);
  std::size_t span = ControlFreeLength(chars + at, room, count - at);
  if (start == 0) prefixOffset_ = position_;  // the prefix's first character is the next one read
  span = Advance(span, start + span == digits);
  CopyBytes(def.buffer.data() + start, chars + at, span);
  def.taken = static_cast<std::int32_t>(start + span);
  def.buffer[static_cast<std::size_t>(def.taken)] = '\0';
  if (def.taken == def.prefixDigits) {
    const ElementSet& set = *reading_.set;
    PrefixDone(set, reading_.element);
    if (def.complete != 0) Follow(set);  // announced empty
    Pump();
  }
  return at + span;
}

// The first fifteen characters of a bitmap; the sixteenth goes to the step.
std::size_t FormatCheck::ReadBitmapRun(const char* chars, std::size_t at, std::size_t count) {
  const bool secondary = state_.primaryBitmapDone;
  std::array<char, 16>& map = secondary ? state_.secondaryMap : state_.primaryMap;
  int& filled = secondary ? state_.secondaryMapCount : state_.primaryMapCount;
  if (filled == kBitmapLength - 1) {
    TakeOne(chars[at]);
    return at + 1;
  }
  const std::size_t room = std::min(static_cast<std::size_t>(kBitmapLength - 1 - filled), count - at);
  const std::size_t span = Advance(ControlFreeLength(chars + at, room, count - at), false);
  std::memcpy(map.data() + filled, chars + at, span);
  filled += static_cast<int>(span);
  return at + span;
}

std::size_t FormatCheck::ReadGapRun(const char* chars, std::size_t at, std::size_t count) {
  state_.mtiDigits = 0;  // what MessageTypeStep does for each of these characters
  GapRun run = ScanGap(chars + at, count - at);
  if (const std::size_t span = Advance(run.length, false); span != run.length) {  // stopped inside the run
    run.length = span;
    run.spaces = std::count(chars + at, chars + at + span, ' ');
  }
  // GapStep's counting for the whole run; characters before the first
  // message have no row to count into.
  if (state_.recordCount != 0 && run.length != 0) {
    state_.padCount += run.spaces;
    padPending_ = padPending_ || run.spaces != 0;
    gapPending_ = true;
  }
  return at + run.length;
}

inline bool FormatCheck::Pump() {
  progress_->Update(position_);
  if (pumpsEvents_) surface_.processEvents();
  return !state_.stopRequested;
}

void FormatCheck::RequestStop() {
  if (running_) state_.stopRequested = true;
}

int FormatCheck::Dispatch(char c) {
  if (!state_.mtiFound) return MessageTypeStep(c);
  if (!state_.primaryBitmapDone) return PrimaryBitmapStep(c);
  if (!state_.secondaryBitmapDone) return SecondaryBitmapStep(c);
  // A character that finishes a set without being taken falls through to
  // the next set, and from there to the search for the next MTI.
  int result = 0;
  if (!state_.primarySetDone) result = PrimaryElementStep(c);
  if (!state_.secondarySetDone && state_.primarySetDone) result = SecondaryElementStep(c);
  if (state_.primarySetDone && state_.secondarySetDone) {
    state_.mtiFound = false;
    result = MessageTypeStep(c);
    if (pumpsEvents_) {
      surface_.setStatus(kPositionPanel, DecimalText(position_).view());
    } else {
      heldPosition_ = position_;
    }
    surface_.repaint();
  }
  return result;
}

// The end of the file is no character: the run is closed on the state the
// last real character left.
int FormatCheck::CloseRun() {
  if (!state_.mtiFound) return 1;
  if (!state_.primaryBitmapDone || !state_.secondaryBitmapDone) return 0;
  for (const ElementSet* set : {&kPrimarySet, &kSecondarySet}) {
    if (state_.*(set->done)) continue;
    if (NextElement(*set) != 0) return 0;
    state_.*(set->done) = true;
  }
  return 1;
}

// ---- framing -------------------------------------------------------------

int FormatCheck::MessageTypeStep(char c) {
  if (!IsDigit(c)) {
    state_.mtiDigits = 0;
    return GapStep(c);
  }
  return MtiDigit(c);
}

int FormatCheck::MtiDigit(char c) {
  // The digit was the last character read; control characters may stand
  // between the digits, so each keeps its own offset.
  mtiOffsets_[static_cast<std::size_t>(state_.mtiDigits)] = position_ - 1;
  state_.mtiWindow[static_cast<std::size_t>(state_.mtiDigits++)] = c;
  if (state_.mtiDigits < kMtiLength) return 1;

  const std::array<char, 4> digits = state_.mtiWindow;
  const std::string_view mti(digits.data(), digits.size());
  const int value = TextToNumber(mti);
  if (!IsMessageType(value)) {
    std::copy(digits.begin() + 1, digits.end(), state_.mtiWindow.begin());
    std::copy(mtiOffsets_.begin() + 1, mtiOffsets_.end(), mtiOffsets_.begin());
    state_.mtiDigits = kMtiLength - 1;
    return 1;
  }
  const std::int64_t messageOffset = mtiOffsets_[0];
  FlushGap();  // the previous message's PAD and SIZE belong to its own row
  ResetMessage();
  ++state_.recordCount;
  WriteCell(kRecColumn, DecimalText(state_.recordCount).view());
  WriteCell(kTCodeColumn, mti);
  surface_.setGridRowOffset(CurrentRow(), messageOffset);
  state_.mtiFound = true;
  return value;
}

int FormatCheck::GapStep(char c) {
  // Characters before the first message have no row to count into.
  if (state_.recordCount == 0) return 1;
  if (c == ' ') {
    ++state_.padCount;
    padPending_ = true;
  }
  gapPending_ = true;
  return 1;
}

// PAD and SIZE change only in a gap and go onto the grid once it ends.
void FormatCheck::FlushGap() {
  if (padPending_) WriteCell(kPadColumn, DecimalText(state_.padCount).view());
  // The message's data characters and the one gap character it keeps.
  if (gapPending_) WriteCell(kSizeColumn, DecimalText(kMessageHeadSize + state_.dataCount + 1).view());
  gapPending_ = false;
  padPending_ = false;
}

// ---- bitmaps -------------------------------------------------------------

int FormatCheck::PrimaryBitmapStep(char c) {
  return BitmapStep(c, state_.primaryMap, state_.primaryMapCount, kPrimarySet.index, kPrimaryMapColumn,
                    state_.primaryBitmapDone);
}

int FormatCheck::SecondaryBitmapStep(char c) {
  return BitmapStep(c, state_.secondaryMap, state_.secondaryMapCount, kSecondarySet.index, kSecondaryMapColumn,
                    state_.secondaryBitmapDone);
}

int FormatCheck::BitmapStep(char c, std::array<char, 16>& chars, int& count, int bitmap, int column, bool& done) {
  chars[static_cast<std::size_t>(count++)] = c;
  if (count < kBitmapLength) return 0;
  WriteCell(column, std::string_view(chars.data(), chars.size()));
  // Bit 0 is the bitmap's first element, bit 63 its last.
  std::uint64_t marked = 0;
  for (int digit = 0; digit < kBitmapLength; ++digit) {
    const auto bits = kReversedBitmapBits[static_cast<unsigned char>(chars[static_cast<std::size_t>(digit)])];
    marked |= static_cast<std::uint64_t>(bits) << (4 * digit);
  }
  elements_.MarkPresent(bitmap, marked);
  done = true;
  count = 0;
  return 1;
}

// ---- elements ------------------------------------------------------------

int FormatCheck::PrimaryElementStep(char c) { return ElementStep(kPrimarySet, c); }

int FormatCheck::SecondaryElementStep(char c) { return ElementStep(kSecondarySet, c); }

// The lowest present element of the set not yet complete, 0 for none.
// Elements complete in ascending order, so the search resumes where it
// last stopped.
inline int FormatCheck::NextElement(const ElementSet& set) {
  int& cursor = setCursor_[static_cast<std::size_t>(set.index)];
  if (cursor >= set.first && cursor <= set.last) {
    if (elements_.IsPresent(cursor) && elements_[cursor].complete == 0) return cursor;  // still reading it
  }
  return SeekElement(set);
}

int FormatCheck::SeekElement(const ElementSet& set) {
  int& cursor = setCursor_[static_cast<std::size_t>(set.index)];
  if (cursor < set.first) cursor = set.first;
  if (cursor > set.last) return 0;
  // The present elements from the cursor on, bit 0 standing for the bitmap's first element.
  std::uint64_t bits = elements_.PresentBits(set.index) & (~std::uint64_t{0} << (cursor - set.mapFirst));
  for (; bits != 0; bits &= bits - 1) {
    const int element = set.mapFirst + std::countr_zero(bits);
    if (element > set.last) break;
    if (elements_[element].complete == 0) return cursor = element;
  }
  cursor = set.last + 1;
  return 0;
}

inline int FormatCheck::ElementStep(const ElementSet& set, char c) {
  const int element = NextElement(set);
  if (element == 0) {
    state_.*(set.done) = true;
    return 1;
  }
  ElementDef& def = elements_[element];
  reading_ = {&def, &set, element};
  if (def.prefixDigits == 0) return TakeData(c);
  const int result = PrefixStep(set, element, c);
  if (def.complete != 0) reading_ = {};  // announced empty
  return result;
}

// The first data character of an element that ElementStep found; the
// driver takes the rest as runs.
inline int FormatCheck::TakeData(char c) {
  ElementDef& def = *reading_.def;
  def.buffer[static_cast<std::size_t>(def.taken)] = c;
  def.buffer[static_cast<std::size_t>(def.taken) + 1] = '\0';
  ++state_.dataCount;
  if (++def.taken == def.length) CompleteReading();
  return 0;
}

// The element being read has its last character: its cell and status text,
// then the characters that follow go to the next element of its set.
void FormatCheck::CompleteReading() {
  reading_.def = nullptr;
  ElementDone(*reading_.set, reading_.element);
  Follow(*reading_.set);
}

// Once an element is complete, the next one of its set is known already:
// the characters that follow go to it without the search of ElementStep.
// The end of the set is still ElementStep's to find, on the next character.
void FormatCheck::Follow(const ElementSet& set) {
  // Elements complete in ascending order, each the lowest present one not
  // yet complete: the next is the first present one above the element just
  // completed, which is the cursor.
  int& cursor = setCursor_[static_cast<std::size_t>(set.index)];
  const int after = reading_.element + 1;
  const int shift = after - set.mapFirst;
  const std::uint64_t above = shift < 64 ? elements_.PresentBits(set.index) >> shift : 0;
  const int next = above != 0 ? after + std::countr_zero(above) : set.last + 1;
  if (next > set.last) {
    cursor = set.last + 1;
    reading_ = {};
    return;
  }
  cursor = next;
  reading_ = {&elements_[next], &set, next};
}

int FormatCheck::PrefixStep(const ElementSet& set, int element, char c) {
  ElementDef& def = elements_[element];
  if (def.taken == 0) prefixOffset_ = position_ - 1;  // the prefix's first character was the last one read
  def.buffer[static_cast<std::size_t>(def.taken)] = c;
  def.buffer[static_cast<std::size_t>(def.taken) + 1] = '\0';
  if (++def.taken == def.prefixDigits) return PrefixDone(set, element);
  return 0;
}

// A length prefix that is not a number, or announces more than the element
// can hold, is a format error that ends the run.
int FormatCheck::PrefixDone(const ElementSet& set, int element) {
  ElementDef& def = elements_[element];
  const std::string_view prefix(def.buffer.data(), static_cast<std::size_t>(def.prefixDigits));
  const std::int32_t value = PrefixLength(prefix, def.maxLength);
  if (value < 0) {
    ShowHeldStatus();
    surface_.setStatus(kCommandPanel, PrefixErrorText(set.prefixError, element, prefix));
    surface_.repaintStatus();
    errorOffset_ = prefixOffset_;
    state_.stopRequested = true;
    surface_.pauseAfterError();
    return 0;
  }
  if (value == 0) {
    def.complete = 1;  // an empty element: no cell, no status text
    return 0;
  }
  def.length = value;
  def.prefixDigits = 0;
  def.taken = 0;
  return 0;
}

void FormatCheck::ElementDone(const ElementSet& set, int element) {
  ElementDef& def = elements_[element];
  // Its text up to the NUL after the last character taken.
  const std::string_view text(def.buffer.data(), static_cast<std::size_t>(def.taken));
  if (const int column = kElementColumns[static_cast<std::size_t>(element)]; column >= 0) WriteCell(column, text);
  if (element == kFunctionCodeElement) WriteCell(kFunctionCodeColumn, text);
  if (element == kSecurityElement) ShowDeclaredMacSettings(surface_, text);
  if (element == kMacElement) surface_.setEditText(Edit::INFileMac, text);
  def.complete = 1;
  const std::string_view done = (*set.elementDone)[static_cast<std::size_t>(element)].view();
  if (pumpsEvents_) {
    surface_.setStatus(kCommandPanel, done);
    surface_.repaintStatus();
  } else {
    heldElementStatus_ = done;
  }
}

// A surface without an event loop shows nothing until the run lets go of
// it: of the status texts that follow each other with every element and
// every message, only the last can be seen, and only that one is written.
void FormatCheck::ShowHeldStatus() {
  if (heldPosition_ >= 0) surface_.setStatus(kPositionPanel, DecimalText(heldPosition_).view());
  if (!heldElementStatus_.empty()) {
    surface_.setStatus(kCommandPanel, heldElementStatus_);
    surface_.repaintStatus();
  }
  heldPosition_ = -1;
  heldElementStatus_ = {};
}

// ---- resets and the grid ---------------------------------------------------

void FormatCheck::ResetMessage() {
  state_.mtiFound = false;
  state_.primaryBitmapDone = false;
  state_.secondaryBitmapDone = false;
  state_.primarySetDone = false;
  state_.secondarySetDone = false;
  state_.stopRequested = false;
  state_.mtiDigits = 0;
  state_.primaryMap.fill(' ');
  state_.secondaryMap.fill(' ');
  state_.primaryMapCount = 0;
  state_.secondaryMapCount = 0;
  state_.dataCount = 0;
  state_.padCount = 0;
  gapPending_ = false;
  padPending_ = false;
  setCursor_ = {};
  reading_ = {};
  elements_.Reset();
  const int rows = surface_.gridRowCount();
  if (rows < INT_MAX) surface_.setGridRowCount(rows + 1);
}

void FormatCheck::ResetRun() {
  ResetMessage();
  state_.recordCount = 0;
  heldPosition_ = -1;
  heldElementStatus_ = {};
}

void FormatCheck::SetUpResultGrid() {
  surface_.setGridRowCount(2);
  surface_.setGridFixedRows(1);
  surface_.setGridColCount(kGridColumnCount);
  surface_.repaintGrid();
  for (int col = 0; col < kGridColumnCount; ++col) {
    surface_.setGridCell(col, 0, kGridColumns[static_cast<std::size_t>(col)].title);
    surface_.setGridColWidth(col, kGridColumns[static_cast<std::size_t>(col)].width);
  }
  for (int col = 0; col < kGridColumnCount; ++col) surface_.setGridCell(col, 1, {});
  surface_.setGridRowOffset(1, kNoRowOffset);
}

void FormatCheck::FinishResultGrid() {
  const int rows = surface_.gridRowCount();
  if (rows > 1) surface_.setGridRowCount(rows - 1);
}

int FormatCheck::CurrentRow() const {
  return state_.recordCount <= INT_MAX ? static_cast<int>(state_.recordCount) : -1;
}

void FormatCheck::WriteCell(int column, std::string_view text) { surface_.setGridCell(column, CurrentRow(), text); }

}  // namespace kalvrin
