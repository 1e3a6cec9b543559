// The format check as the window shows it: grid rows and cells, status
// texts, MAC edits and the driver's result, on files the tests write.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <tuple>
#include <string>
#include <vector>

#include "testgen/filegen.h"
#include "headless/headless_surface.h"
#include "iso/char_scan.h"
#include "iso/element_table.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using filegen::BuildMessage;
using filegen::BuildRawMessage;
using test::TempFile;

const std::string kZeroMaps(32, '0');

// A headless window that counts the chances it is given to process events,
// and notes the command panel's text each time it is asked to pause.
class PumpCountingSurface : public HeadlessSurface {
 public:
  void processEvents() override { ++pumps_; }
  bool hasEventLoop() const override { return true; }
  void pauseAfterError() override { pauses_.push_back(status(2)); }
  long long eventPumpCount() const { return pumps_; }
  const std::vector<std::string>& pauses() const { return pauses_; }

 private:
  long long pumps_ = 0;
  std::vector<std::string> pauses_;
};

// A window right after start-up, on which the ISO button is pressed.
struct Window {
  PumpCountingSurface surface;
  FormatCheck check{surface};
  Window() { StartUpState(check, surface); }

  int Iso(std::string_view bytes) {
    const TempFile file(bytes);
    return IsoCommand(check, surface, file.str());
  }
  int DataRows() const { return surface.gridRowCount() - 1; }
  // A cell found by its column title, as a user reads the grid.
  std::string Cell(int row, std::string_view title) const {
    const std::vector<std::string> titles = surface.row(0);
    for (std::size_t col = 0; col < titles.size(); ++col) {
      if (titles[col] == title) return surface.cell(static_cast<int>(col), row);
    }
    ADD_FAILURE() << "no column " << title;
    return {};
  }
};

// A message holding only the given elements, then a gap of spaces.
std::string Record(std::string_view mti, const std::map<int, std::string>& elements, int spaces = 4) {
  return BuildMessage(mti, elements) + std::string(static_cast<std::size_t>(spaces), ' ');
}

// ---- framing and the MTI search ---------------------------------------------

TEST(Framing, FindsMessagesByTheirMti) {
  const std::string message = BuildMessage("1140", {{3, "000000"}});
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> tcodes;
  };
  const Case cases[] = {
      {"1234 is not an MTI and the space empties the window", "1234 " + message, {"1140"}},
      {"the window slides over 91140", "9" + message, {"1140"}},
      {"an unknown message type is skipped", "1100" + kZeroMaps + " " + message, {"1140"}},
      {"all six message types", Record("1140", {}) + Record("1240", {}) + Record("1440", {}) + Record("1542", {}) +
                                    Record("1644", {}) + Record("1844", {}),
       {"1140", "1240", "1440", "1542", "1644", "1844"}},
      {"digits before the first message feed the window only", "0000" + message, {"1140"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window w;
    EXPECT_NE(w.Iso(c.bytes), 0);
    ASSERT_EQ(w.DataRows(), static_cast<int>(c.tcodes.size()));
    for (std::size_t i = 0; i < c.tcodes.size(); ++i) {
      const int row = static_cast<int>(i) + 1;
      EXPECT_EQ(w.Cell(row, "Rec#"), std::to_string(row));
      EXPECT_EQ(w.Cell(row, "TCode"), c.tcodes[i]);
    }
  }
}

TEST(Framing, LineEndsAndControlCharactersAreInvisible) {
  const std::string plain = Record("1240", {{2, "4111111111111111"}, {4, "000000001000"}}, 6) +
                            Record("1644", {{24, "692"}}, 3);
  std::string withLineEnds;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    withLineEnds += plain[i];
    if (i % 7 == 3) withLineEnds += "\r\n";
    if (i % 11 == 5) withLineEnds += std::string("\t\x7f\x01", 3);
  }
  Window a;
  Window b;
  EXPECT_EQ(a.Iso(plain), 1);
  EXPECT_EQ(b.Iso(withLineEnds), 1);
  ASSERT_EQ(a.DataRows(), 2);
  for (int row = 0; row <= 2; ++row) EXPECT_EQ(a.surface.row(row), b.surface.row(row)) << "row " << row;
  EXPECT_EQ(b.Cell(1, "P2 (cardnum.)"), "4111111111111111");
  EXPECT_EQ(b.Cell(1, "PAD"), "6");
  EXPECT_EQ(b.Cell(1, "CR/LF"), "");
}

TEST(Framing, PadAndSizeCountTheGap) {
  // 16 + 12 data characters; the prefix of element 2 does not count.
  const std::string message = BuildMessage("1240", {{2, "4111111111111111"}, {4, "000000001000"}});
  struct Case {
    const char* name;
    std::string gap;
    std::string pad;
    std::string size;
  };
  const Case cases[] = {
      {"ten spaces", std::string(10, ' '), "10", "65"},
      {"digits are no pad and no size", "  99 X 8 ", "5", "65"},
      {"no space in the gap", "XY", "", "65"},
      {"bytes above 0x7F are ordinary gap characters", "\xe9 \xff", "1", "65"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window w;
    EXPECT_EQ(w.Iso(message + c.gap + Record("1644", {})), 1);
    ASSERT_EQ(w.DataRows(), 2);
    EXPECT_EQ(w.Cell(1, "PAD"), c.pad);
    EXPECT_EQ(w.Cell(1, "SIZE"), c.size);
  }
}

TEST(Framing, MessagesWithoutGapLeaveTheirPadAndSizeEmpty) {
  Window w;
  EXPECT_EQ(w.Iso(BuildMessage("1140", {{3, "000000"}}) + BuildMessage("1240", {{3, "111111"}}) + "  "), 1);
  ASSERT_EQ(w.DataRows(), 2);
  EXPECT_EQ(w.Cell(1, "PAD"), "");
  EXPECT_EQ(w.Cell(1, "SIZE"), "");
  EXPECT_EQ(w.Cell(2, "PAD"), "2");
  EXPECT_EQ(w.Cell(2, "SIZE"), "43");
  EXPECT_EQ(w.Cell(2, "P3 (proc.code"), "111111");
}

// ---- bitmaps ------------------------------------------------------------------

TEST(Bitmaps, MarkTheElementsThatAreRead) {
  struct Case {
    const char* name;
    std::string maps;
    std::string data;
    std::map<std::string, std::string> cells;  // title -> text
  };
  const Case cases[] = {
      {"7 then 2 marks elements 2, 3, 4 and 7", "7200000000000000" + std::string(16, '0'),
       "04ABCD" "333333" "444444444444" "7777777777",
       {{"P2 (cardnum.)", "ABCD"}, {"P3 (proc.code", "333333"}, {"P4 (amt)", "444444444444"},
        {"P7 (date&time-trans)", "7777777777"}}},
      {"a lower-case digit marks nothing", "7a00000000000000" + std::string(16, '0'), "02AB" "333333" "444444444444",
       {{"P2 (cardnum.)", "AB"}, {"P4 (amt)", "444444444444"}, {"P7 (date&time-trans)", ""}}},
      {"the secondary bitmap is read without bit 1", "0000000000000000" "0200000000000000", "12345678",
       {{"S71 (msg.no)", "12345678"}, {"SMAP", "0200000000000000"}}},
      {"zero bitmaps read no element", kZeroMaps, "", {{"PMAP", "0000000000000000"}, {"P2 (cardnum.)", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window w;
    EXPECT_EQ(w.Iso("1140" + c.maps + c.data + " " + Record("1644", {})), 1);
    ASSERT_EQ(w.DataRows(), 2);
    for (const auto& [title, text] : c.cells) EXPECT_EQ(w.Cell(1, title), text) << title;
    EXPECT_EQ(w.Cell(2, "TCode"), "1644");
  }
}

TEST(Bitmaps, ZeroBitmapsFillOnlyTheMessageColumns) {
  Window w;
  EXPECT_EQ(w.Iso("1140" + kZeroMaps + "   "), 1);
  const std::vector<std::string> row = w.surface.row(1);
  for (std::size_t col = 0; col < row.size(); ++col) {
    const bool expected = col <= 1 || col == 3 || col == 4 || col == 38 || col == 40;
    EXPECT_EQ(!row[col].empty(), expected) << "column " << col;
  }
  EXPECT_EQ(w.Cell(1, "SIZE"), "37");
}

// ---- prefixes and elements ----------------------------------------------------

TEST(Elements, SpecialColumnsAndEdits) {
  Window w;
  const std::string message = BuildMessage(
      "1844", {{24, "971"}, {36, "AAA"}, {37, "RRRRRRRRRRRR"}, {53, "123456789ABCDEF"}, {54, "E54"}, {128, "4F47F843"}});
  EXPECT_EQ(w.Iso(message + " " + Record("1240", {{36, "ONLY36"}, {54, "ONLY54"}})), 1);
  EXPECT_EQ(w.Cell(1, "FCode=P24"), "971");
  EXPECT_EQ(w.Cell(1, "P24 (func.code)"), "971");
  EXPECT_EQ(w.Cell(1, "P37 (ret.ref.no)"), "RRRRRRRRRRRR");  // 37 completes after 36
  EXPECT_EQ(w.Cell(1, "P55 (emv data)"), "E54");
  EXPECT_EQ(w.Cell(1, "P53 (security)"), "123456789ABCDEF");
  EXPECT_EQ(w.Cell(1, "S128 (mac)"), "4F47F843");
  EXPECT_EQ(w.Cell(2, "P37 (ret.ref.no)"), "ONLY36");
  EXPECT_EQ(w.Cell(2, "P55 (emv data)"), "ONLY54");
  EXPECT_EQ(w.surface.editText(Edit::INFileMacMeth), "1");
  EXPECT_EQ(w.surface.editText(Edit::INFileMacVer), "23");
  EXPECT_EQ(w.surface.editText(Edit::INFileKcv), "456789AB");
  EXPECT_EQ(w.surface.editText(Edit::INFileMac), "4F47F843");
}

TEST(Elements, ShortSecurityElementFillsWhatItHas) {
  Window w;
  EXPECT_EQ(w.Iso(Record("1644", {{53, "12"}})), 1);
  EXPECT_EQ(w.surface.editText(Edit::INFileMacMeth), "1");
  EXPECT_EQ(w.surface.editText(Edit::INFileMacVer), "2");
  EXPECT_EQ(w.surface.editText(Edit::INFileKcv), "");
}

TEST(Elements, EmptyPrefixedElementsShowNothing) {
  Window w;
  // Element 2 ("00") and element 72 ("000") are empty; the next character
  // belongs to the next element of the same set.
  EXPECT_EQ(w.Iso(Record("1240", {{2, ""}, {3, "333333"}, {72, ""}, {74, "7474747474"}})), 1);
  EXPECT_EQ(w.Cell(1, "P2 (cardnum.)"), "");
  EXPECT_EQ(w.Cell(1, "P3 (proc.code"), "333333");
  EXPECT_EQ(w.Cell(1, "S72 (data rec)"), "");
  EXPECT_EQ(w.Cell(1, "S74 (num.cre)"), "7474747474");
  EXPECT_EQ(w.Cell(1, "SIZE"), std::to_string(36 + 6 + 10 + 1));
}

// Every prefixed element takes as many prefix digits as the generator writes:
// an element read with the wrong prefix would misplace the next message.
TEST(Elements, EveryPrefixedElementIsFramedByItsPrefix) {
  for (int element = 2; element <= kElementCount; ++element) {
    if (filegen::PrefixDigits(element) == 0) continue;
    SCOPED_TRACE(element);
    Window w;
    const std::string value = "V" + std::to_string(element) + std::string(7, 'x');
    EXPECT_EQ(w.Iso(Record("1240", {{element, value}}) + Record("1644", {})), 1);
    ASSERT_EQ(w.DataRows(), 2);
    EXPECT_EQ(w.Cell(1, "SIZE"), std::to_string(36 + value.size() + 1));
  }
}

TEST(Elements, DataMayHoldAnyCharacterIncludingMtiDigits) {
  Window w;
  // Data runs on over what looks like the next message until its length is met.
  const std::string bytes = "1240" + filegen::EncodeBitmaps({{43, ""}}) + "20" + "CAF\xc9 1140" + "\r\n" + "00000000000 ";
  EXPECT_EQ(w.Iso(bytes), 1);
  ASSERT_EQ(w.DataRows(), 1);
  EXPECT_EQ(w.Cell(1, "P43 (crd.acpt.name/loc)"), "CAF\xc9 114000000000000");
}

// ---- the grid -----------------------------------------------------------------

TEST(Grid, StartUpAndClearShowTheEmptyLayout) {
  Window w;
  auto expectEmptyLayout = [&] {
    EXPECT_EQ(w.surface.gridRowCount(), 2);
    EXPECT_EQ(w.surface.gridFixedRows(), 1);
    EXPECT_EQ(w.surface.gridColCount(), 41);
    for (int col = 0; col < 41; ++col) {
      const int width = col == 1 || col == 2 ? 36 : col == 3 || col == 4 ? 104 : 32;
      EXPECT_EQ(w.surface.gridColWidth(col), width) << "column " << col;
      EXPECT_EQ(w.surface.cell(col, 1), "") << "column " << col;
    }
    for (int edit = 0; edit < kEditCount; ++edit) EXPECT_EQ(w.surface.editText(static_cast<Edit>(edit)), "");
    for (Edit edit : {Edit::CalcMacAll, Edit::CalcMacNHD, Edit::CalcMacNSP}) {
      EXPECT_EQ(w.surface.editColour(edit), TextColour::Black);
    }
    for (int panel = 0; panel < 3; ++panel) EXPECT_EQ(w.surface.status(panel), "");
    EXPECT_EQ(w.surface.progressPosition(), 0);
  };
  expectEmptyLayout();
  const std::vector<std::string> titles = w.surface.row(0);
  EXPECT_EQ(titles.front(), "Rec#");
  EXPECT_EQ(titles[6], "P3 (proc.code");
  EXPECT_EQ(titles[17], "P37 (ret.ref.no)");
  EXPECT_EQ(titles.back(), "SIZE");

  const std::string bytes = Record("1844", {{53, "101B690D735"}, {128, "4F47F843"}});
  ASSERT_EQ(w.Iso(bytes), 1);
  w.surface.setEditText(Edit::CalcMacAll, "12345678");
  w.surface.setEditColour(Edit::CalcMacAll, TextColour::Red);
  ClearCommand(w.check, w.surface);
  expectEmptyLayout();
  EXPECT_EQ(w.surface.row(0), titles);
  EXPECT_EQ(w.surface.progressMax(), static_cast<int>(bytes.size()));  // the range stays
}

TEST(Grid, EachRunStartsFromAnEmptyGrid) {
  auto messages = [](int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += Record("1240", {{3, std::to_string(100000 + i)}, {11, "999999"}});
    return bytes;
  };
  Window w;
  ASSERT_EQ(w.Iso(messages(5)), 1);
  EXPECT_EQ(w.DataRows(), 5);
  ASSERT_EQ(w.Iso(messages(3)), 1);
  EXPECT_EQ(w.DataRows(), 3);
  ASSERT_EQ(w.Iso(Record("1644", {}) + Record("1644", {}) + Record("1644", {}) + Record("1644", {}) + "1644"), 0);
  EXPECT_EQ(w.DataRows(), 5);
  for (int row = 1; row <= 5; ++row) {
    EXPECT_EQ(w.Cell(row, "Rec#"), std::to_string(row));
    EXPECT_EQ(w.Cell(row, "P11 (seq.num)"), "") << "row " << row;
  }
  ASSERT_EQ(w.Iso("no message here"), 1);
  EXPECT_EQ(w.surface.gridRowCount(), 1);
}

// ---- the driver's result and status texts ---------------------------------------

TEST(Driver, ShowsSizePositionsAndProgress) {
  Window w;
  const std::string first = Record("1644", {{24, "692"}}, 2) + "\r\n";
  const std::string bytes = first + Record("1240", {{3, "000000"}}, 3) + "\r\n";
  EXPECT_EQ(w.Iso(bytes), 1);
  // The read position after the last message read to its end, CR LF included.
  EXPECT_EQ(w.surface.status(0), std::to_string(first.size() + BuildMessage("1240", {{3, "000000"}}).size() + 1));
  EXPECT_EQ(w.surface.status(1), std::to_string(bytes.size()));
  EXPECT_EQ(w.surface.status(2), "Format processed");
  EXPECT_EQ(w.surface.progressMin(), 0);
  EXPECT_EQ(w.surface.progressMax(), static_cast<int>(bytes.size()));
  EXPECT_EQ(w.surface.progressPosition(), static_cast<int>(bytes.size()));
  // The window is given a chance to repaint after every character that reaches a step.
  EXPECT_EQ(w.surface.eventPumpCount(), static_cast<long long>(bytes.size() - 4));
}

TEST(Driver, FilesThatCannotBeOpened) {
  const TempFile folder("", "kept");
  // No name, a folder, a missing file, and a device that never ends.
  for (const std::string& path :
       {std::string(), folder.path().parent_path().string(), folder.str() + ".missing", std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    Window w;
    EXPECT_EQ(IsoCommand(w.check, w.surface, path), 0);
    EXPECT_EQ(w.surface.status(1), "Cannot open file");
    EXPECT_EQ(w.surface.status(2), "Processing format");
    EXPECT_EQ(w.surface.gridRowCount(), 2);
    EXPECT_EQ(w.surface.progressMax(), 100);
  }
}

TEST(Driver, BadLengthPrefixStopsTheRun) {
  struct Case {
    const char* name;
    std::string bytes;
    std::string status;
    int rows;
  };
  const std::string good = Record("1240", {{3, "000000"}});
  const Case cases[] = {
      {"letters in an LL prefix", good + "1240" + filegen::EncodeBitmaps({{4, ""}, {35, ""}}) + "4444444444441A" + "x",
       "Error Process P 35 Len: '1A'", 2},
      {"a space in an LLL prefix of a secondary element",
       "1240" + filegen::EncodeBitmaps({{72, ""}}) + "0 5abcde" + good, "Error Process S 72 Len: '0 5'", 1},
      {"an LL prefix above the element's maximum",  // element 35 holds at most 37
       "1240" + filegen::EncodeBitmaps({{35, ""}}) + "38" + std::string(38, '9') + good,
       "Error Process P 35 Len: '38'", 1},
      {"an LLL prefix above the element's maximum",  // element 72 holds at most 64
       "1240" + filegen::EncodeBitmaps({{72, ""}}) + "065" + std::string(65, 'z') + good,
       "Error Process S 72 Len: '065'", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window w;
    EXPECT_EQ(w.Iso(c.bytes), 0);
    EXPECT_EQ(w.surface.status(2), c.status);
    // the window holds still once, with the error shown
    EXPECT_EQ(w.surface.pauses(), std::vector<std::string>{c.status});
    EXPECT_EQ(w.DataRows(), c.rows);  // the run stops: no row for the message that follows
    EXPECT_LT(w.surface.progressPosition(), static_cast<int>(c.bytes.size()));
  }
  Window w;
  ASSERT_EQ(w.Iso(cases[0].bytes), 0);
  EXPECT_EQ(w.Cell(2, "P4 (amt)"), "444444444444");  // completed before the bad prefix
  EXPECT_EQ(w.Cell(2, "P35 (track-2)"), "");
}

TEST(Driver, PrefixAtTheElementsMaximumIsAccepted) {
  Window w;
  EXPECT_EQ(w.Iso(Record("1240", {{35, std::string(37, '5')}, {72, std::string(64, 'z')}})), 1);
  EXPECT_EQ(w.Cell(1, "P35 (track-2)"), std::string(37, '5'));
  EXPECT_EQ(w.Cell(1, "S72 (data rec)"), std::string(64, 'z'));
  EXPECT_TRUE(w.surface.pauses().empty());
}

TEST(Driver, ElementProgressShowsInPanelTwo) {
  Window w;
  // The file ends inside element 128, after element 71 completed.
  EXPECT_EQ(w.Iso(BuildMessage("1844", {{24, "971"}, {71, "00000008"}, {128, "4F47F843"}}).substr(0, 50)), 0);
  EXPECT_EQ(w.surface.status(2), "SMAP S: 71");
  EXPECT_EQ(w.Iso(BuildMessage("1844", {{24, "971"}, {71, "00000008"}}).substr(0, 42)), 0);
  EXPECT_EQ(w.surface.status(2), "PMAP P: 24");
}

// A surface whose user closes the window after a number of event pumps.
class ClosingSurface : public PumpCountingSurface {
 public:
  FormatCheck* check = nullptr;
  long long closeAfter = 0;
  void processEvents() override {
    PumpCountingSurface::processEvents();
    if (eventPumpCount() == closeAfter) check->RequestStop();
  }
};

TEST(Driver, ClosingTheWindowStopsTheRun) {
  ClosingSurface surface;
  FormatCheck check(surface);
  surface.check = &check;
  surface.closeAfter = 50;
  StartUpState(check, surface);
  const std::string bytes = Record("1644", {{24, "692"}}, 0) + Record("1240", {{3, "000000"}});
  const TempFile file(bytes);
  EXPECT_FALSE(check.Running());
  EXPECT_EQ(IsoCommand(check, surface, file.str()), 0);
  EXPECT_FALSE(check.Running());
  EXPECT_EQ(surface.eventPumpCount(), 50);
  EXPECT_EQ(surface.progressPosition(), 50);
  EXPECT_EQ(surface.gridRowCount(), 3);  // two messages begun, no trailing empty row
  EXPECT_EQ(surface.status(2), "PMAP P: 24");  // no "Format processed"
  // The next run is not affected by the stop.
  surface.closeAfter = -1;
  EXPECT_EQ(IsoCommand(check, surface, file.str()), 1);
  EXPECT_EQ(surface.gridRowCount(), 3);
}

// A window that pumps for runs of characters in one call, as a throttled
// event loop does, and lets the user act only every `pumpEvery` characters.
// Each call that could let the user act notes the progress bar and the
// command panel; `stopAt` is the character after which the window closes.
class BatchingSurface : public HeadlessSurface {
 public:
  FormatCheck* check = nullptr;
  long long pumpEvery = 1;
  long long stopAt = -1;
  long long calls = 0;
  std::vector<std::pair<long long, int>> seen;  // (calls so far, progress position) at each chance to act

  void processEvents() override { Act(1); }
  std::size_t processEventsFor(std::size_t characters) override {
    const auto untilChance = static_cast<std::size_t>(pumpEvery - calls % pumpEvery);
    if (characters < untilChance) {
      calls += static_cast<long long>(characters);
      return characters;
    }
    Act(static_cast<long long>(untilChance));
    return untilChance;
  }
  bool hasEventLoop() const override { return true; }

 private:
  void Act(long long count) {
    calls += count;
    if (calls % pumpEvery != 0) return;
    seen.emplace_back(calls, progressPosition());
    if (calls == stopAt) check->RequestStop();
  }
};

// Pumping for runs of characters at once changes nothing the user can see:
// every chance to act comes after the same character with the same progress
// bar as one call per character gives, and a window closed at any character
// ends the run exactly as it would have there.
TEST(Driver, PumpsForRunsAreThePumpsForEachCharacter) {
  const TempFile file(filegen::GenerateFileBytes({.size = 20000, .seed = 5}));
  const auto allRows = [](const HeadlessSurface& surface) {
    std::vector<std::vector<std::string>> rows;
    for (int row = 0; row < surface.gridRowCount(); ++row) rows.push_back(surface.row(row));
    return rows;
  };
  const auto run = [&](long long pumpEvery, long long stopAt) {
    auto surface = std::make_unique<BatchingSurface>();
    auto check = std::make_unique<FormatCheck>(*surface);
    surface->check = check.get();
    surface->pumpEvery = pumpEvery;
    surface->stopAt = stopAt;
    StartUpState(*check, *surface);
    const int result = IsoCommand(*check, *surface, file.str());
    return std::make_tuple(result, surface->calls, surface->seen, surface->status(2), surface->progressPosition(),
                           allRows(*surface));
  };
  for (const long long pumpEvery : {7LL, 64LL, 4096LL}) {
    SCOPED_TRACE(pumpEvery);
    // One call per character: the default of processEventsFor.
    const auto perCharacter = run(1, -1);
    auto [result, calls, seen, status, progress, rows] = run(pumpEvery, -1);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(calls, std::get<1>(perCharacter));
    ASSERT_EQ(seen.size(), static_cast<std::size_t>(calls / pumpEvery));
    for (const auto& [at, position] : seen) {
      ASSERT_EQ(position, std::get<2>(perCharacter)[static_cast<std::size_t>(at - 1)].second) << "call " << at;
    }
    EXPECT_EQ(rows, std::get<5>(perCharacter));
    for (const long long stopAt : {pumpEvery, 50 * pumpEvery, 311 * pumpEvery}) {
      if (stopAt > calls) continue;
      SCOPED_TRACE(stopAt);
      const auto stoppedAlone = run(1, stopAt);
      const auto stoppedInRuns = run(pumpEvery, stopAt);
      EXPECT_EQ(std::get<0>(stoppedInRuns), 0);
      EXPECT_EQ(std::get<1>(stoppedInRuns), stopAt);
      EXPECT_EQ(std::get<3>(stoppedInRuns), std::get<3>(stoppedAlone));
      EXPECT_EQ(std::get<4>(stoppedInRuns), std::get<4>(stoppedAlone));
      EXPECT_EQ(std::get<5>(stoppedInRuns), std::get<5>(stoppedAlone));
    }
  }
}

// Nobody sees a surface without an event loop until the check returns: it
// may be given fewer of the texts that replace each other, but it ends in
// the state a watched window ends in.
TEST(Driver, AnUnwatchedSurfaceEndsAsAWindowDoes) {
  const std::string good = Record("1240", {{3, "000000"}, {4, "000000001000"}, {35, "4444444444444"}});
  const std::string inputs[] = {
      filegen::GenerateFileBytes({.size = 20000, .seed = 9}),
      good + good + "1240" + filegen::EncodeBitmaps({{4, ""}, {35, ""}}) + "4444444444441A" + good,  // a bad prefix
      (good + good).substr(0, good.size() + 30),  // cut inside the second message's elements
      good + "  \r\n 12",                          // digits after the last message
      "no message here",
      "",
  };
  const auto state = [](const HeadlessSurface& surface, int result) {
    std::vector<std::string> texts{std::to_string(result), std::to_string(surface.progressPosition())};
    for (int panel = 0; panel < 3; ++panel) texts.push_back(surface.status(panel));
    for (int edit = 0; edit < kEditCount; ++edit) texts.push_back(surface.editText(static_cast<Edit>(edit)));
    for (int row = 0; row < surface.gridRowCount(); ++row) {
      for (const std::string& text : surface.row(row)) texts.push_back(text);
      texts.push_back(std::to_string(surface.gridRowOffset(row)));
    }
    return texts;
  };
  for (const std::string& bytes : inputs) {
    SCOPED_TRACE(bytes.substr(0, 40));
    const TempFile file(bytes);
    Window watched;
    const int watchedResult = IsoCommand(watched.check, watched.surface, file.str());
    HeadlessSurface unwatched;
    FormatCheck check(unwatched);
    StartUpState(check, unwatched);
    const int unwatchedResult = IsoCommand(check, unwatched, file.str());
    EXPECT_EQ(state(unwatched, unwatchedResult), state(watched.surface, watchedResult));
  }
}

// ---- the end of the file ----------------------------------------------------------

TEST(EndOfFile, ClosesTheRunOnItsLastRealCharacter) {
  const std::string message = BuildMessage("1240", {{2, "4111"}, {72, "DATA"}});  // ends in element 72
  struct Case {
    const char* name;
    std::string bytes;
    int result;
    int rows;
  };
  const Case cases[] = {
      {"empty file", "", 1, 0},
      {"no MTI", "just text 12 34\r\n", 1, 0},
      {"the last element ends at the last byte", message, 1, 1},
      {"followed by CR LF only", message + "\r\n", 1, 1},
      {"in the gap", message + "  ", 1, 1},
      {"just after the MTI", "1240", 0, 1},
      {"inside the primary bitmap", message.substr(0, 12), 0, 1},
      {"inside the secondary bitmap", message.substr(0, 30), 0, 1},
      {"inside a length prefix", message.substr(0, 37), 0, 1},
      {"inside a primary element", message.substr(0, 40), 0, 1},
      {"inside the secondary set", message.substr(0, message.size() - 1), 0, 1},
      {"a message whose bitmaps mark nothing", "1240" + kZeroMaps, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window w;
    EXPECT_EQ(w.Iso(c.bytes), c.result);
    EXPECT_EQ(w.surface.status(2) == "Format processed", c.result != 0);
    EXPECT_EQ(w.DataRows(), c.rows);
    EXPECT_EQ(w.surface.progressPosition(), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(w.surface.progressMax(), static_cast<int>(c.bytes.size()));
  }
}

TEST(EndOfFile, UnfinishedPartsStoreNothing) {
  const std::string message = BuildMessage("1240", {{2, "4111"}, {72, "DATA"}});
  Window w;
  EXPECT_EQ(w.Iso(message.substr(0, 30)), 0);
  EXPECT_EQ(w.Cell(1, "PMAP"), message.substr(4, 16));
  EXPECT_EQ(w.Cell(1, "SMAP"), "");
  EXPECT_EQ(w.Iso(message.substr(0, message.size() - 1)), 0);
  EXPECT_EQ(w.Cell(1, "P2 (cardnum.)"), "4111");
  EXPECT_EQ(w.Cell(1, "S72 (data rec)"), "");
  EXPECT_EQ(w.surface.status(2), "PMAP P: 2");
}

// ---- messages of any length -------------------------------------------------------

TEST(Size, CountsEveryDataCharacter) {
  Window w;
  const std::string big(999, 'b');
  EXPECT_EQ(w.Iso(Record("1240", {{47, big}, {48, big}, {111, big}, {127, big}}) + Record("1644", {})), 1);
  EXPECT_EQ(w.Cell(1, "SIZE"), std::to_string(36 + 4 * 999 + 1));
  EXPECT_EQ(w.Cell(2, "SIZE"), "37");
}

// ---- the sample files ----------------------------------------------------------------

TEST(Samples, DecodeIntoOneRowPerMessage) {
  Window w;
  EXPECT_EQ(w.Iso(test::ReadFileBytes(test::SamplePath("batch-nsp.dat"))), 1);
  ASSERT_EQ(w.DataRows(), 8);
  EXPECT_EQ(w.Cell(1, "TCode"), "1644");
  EXPECT_EQ(w.Cell(8, "TCode"), "1844");
  EXPECT_EQ(w.Cell(8, "FCode=P24"), "971");
  EXPECT_EQ(w.Cell(8, "P24 (func.code)"), "971");
  EXPECT_EQ(w.Cell(8, "S128 (mac)"), "4F47F843");
  for (int row = 1; row <= 8; ++row) {
    // Every record is 300 bytes before its CR LF: the message and its padding.
    const int size = std::stoi(w.Cell(row, "SIZE"));
    const int pad = std::stoi(w.Cell(row, "PAD"));
    EXPECT_GT(size, 36) << "row " << row;
    EXPECT_GT(pad, 0) << "row " << row;
  }
  EXPECT_EQ(w.surface.editText(Edit::INFileMac), "4F47F843");
}

TEST(Samples, GeneratedFilesDecodeCompletely) {
  filegen::FileSummary summary;
  const std::string bytes = filegen::GenerateFileBytes({.size = 300 * 1024, .seed = 11}, &summary);
  Window w;
  EXPECT_EQ(w.Iso(bytes), 1);
  EXPECT_EQ(w.DataRows(), static_cast<int>(summary.messages));
  EXPECT_EQ(w.Cell(w.DataRows(), "FCode=P24"), "971");
  EXPECT_EQ(w.surface.status(2), "Format processed");
  for (int row = 1; row <= w.DataRows(); ++row) {
    // 510 characters a record, CR LF dropped: the message and its gap.
    const int size = std::stoi(w.Cell(row, "SIZE"));
    const int pad = std::stoi(w.Cell(row, "PAD"));
    const std::string pmap = w.Cell(row, "PMAP");
    ASSERT_EQ(pmap.size(), 16u) << "row " << row;
    EXPECT_LE(size + pad - 1, 510) << "row " << row;
  }
}


// ---- the run scans ------------------------------------------------------------

// Each scan against its one-character-at-a-time meaning, on every length and
// start of a buffer dense with the bytes where a block compare could slip:
// the control range's edges, DEL, the digits' neighbours, high bytes and
// what CSV quotes.
TEST(RunScans, AgreeWithTheCharacterRules) {
  const std::string edges = std::string("\x00\x1F\x20\x7E\x7F\x80\xFF/09:A ,\"\r\n", 16);
  std::mt19937 random(13);
  for (int round = 0; round < 200; ++round) {
    std::string bytes(64, ' ');
    for (char& c : bytes) {
      const auto pick = random() % 8;
      if (pick == 0) c = edges[random() % edges.size()];
      if (pick == 1) c = static_cast<char>(random() % 256);
      if (pick == 2) c = 'X';
    }
    for (std::size_t from = 0; from < bytes.size(); ++from) {
      const std::size_t count = bytes.size() - from;
      const char* chars = bytes.data() + from;
      std::size_t clean = 0;
      while (clean < count && !IsControl(chars[clean])) ++clean;
      ASSERT_EQ(ControlFreeLength(chars, count, count), clean) << round << " from " << from;
      for (std::size_t wanted = 0; wanted <= count; ++wanted) {  // a short run inside a longer buffer
        ASSERT_EQ(ControlFreeLength(chars, wanted, count), std::min(clean, wanted)) << round << " from " << from;
      }
      std::size_t gap = 0;
      std::int64_t spaces = 0;
      for (; gap < count && !IsControl(chars[gap]) && !IsDigit(chars[gap]); ++gap) spaces += chars[gap] == ' ';
      const GapRun run = ScanGap(chars, count);
      ASSERT_EQ(run.length, gap) << round << " from " << from;
      ASSERT_EQ(run.spaces, spaces) << round << " from " << from;
      bool plain = true;
      std::size_t commas = 0;
      for (std::size_t at = 0; at < count; ++at) {
        const auto byte = static_cast<unsigned char>(chars[at]);
        plain = plain && byte < 0x80 && byte != '"' && byte != '\r' && byte != '\n';
        commas += byte == ',';
      }
      ASSERT_EQ(IsPlainCsvRecord(chars, count, commas), plain) << round << " from " << from;
      ASSERT_FALSE(IsPlainCsvRecord(chars, count, commas + 1)) << round << " from " << from;
    }
  }
}

// Short copies by overlapping loads and stores: every length writes exactly
// its bytes, nothing before or after them.
TEST(RunScans, ShortCopiesAndFillsWriteExactlyTheirBytes) {
  std::string from(48, ' ');
  for (std::size_t at = 0; at < from.size(); ++at) from[at] = static_cast<char>('A' + at % 26);
  for (std::size_t count = 0; count <= 40; ++count) {
    std::string to(64, '#');
    CopyBytes(to.data() + 8, from.data() + 3, count);
    EXPECT_EQ(to, std::string(8, '#') + from.substr(3, count) + std::string(56 - count, '#')) << count;
    std::string filled(64, '#');
    FillBytes(filled.data() + 8, ' ', count);
    EXPECT_EQ(filled, std::string(8, '#') + std::string(count, ' ') + std::string(56 - count, '#')) << count;
  }
}

}  // namespace
}  // namespace kalvrin
