// The layout of the format check's result grid: 41 columns, one title row,
// one row per message.
#pragma once

#include <array>
#include <string_view>

#include "iso/element_table.h"

namespace kalvrin {

struct GridColumn {
  std::string_view title;
  int width;
  int element;  // the data element shown in the column, 0 for none
};

inline constexpr int kGridColumnCount = 41;

// The column "P3 (proc.code" has no closing parenthesis on the window either.
inline constexpr std::array<GridColumn, kGridColumnCount> kGridColumns = {{
    {"Rec#", 32, 0},
    {"TCode", 36, 0},
    {"FCode=P24", 36, 0},
    {"PMAP", 104, 0},
    {"SMAP", 104, 0},
    {"P2 (cardnum.)", 32, 2},
    {"P3 (proc.code", 32, 3},
    {"P4 (amt)", 32, 4},
    {"P7 (date&time-trans)", 32, 7},
    {"P11 (seq.num)", 32, 11},
    {"P12 (date&time-local)", 32, 12},
    {"P14 (exp.date)", 32, 14},
    {"P17 (cap.date)", 32, 17},
    {"P22 (p.o.s.code)", 32, 22},
    {"P24 (func.code)", 32, 24},
    {"P26 (crd.acpt.bsn.code)", 32, 26},
    {"P35 (track-2)", 32, 35},
    {"P37 (ret.ref.no)", 32, 37},
    {"P38 (appr.code)", 32, 38},
    {"P41 (crd.acpt.trm.id)", 32, 41},
    {"P42 (crd.acpt.id.code)", 32, 42},
    {"P43 (crd.acpt.name/loc)", 32, 43},
    {"P49 (crncy)", 32, 49},
    {"P50 (crncy)", 32, 50},
    {"P51 (crncy)", 32, 51},
    {"P53 (security)", 32, 53},
    {"P55 (emv data)", 32, 55},
    {"P60 (reserved)", 32, 60},
    {"P62 (reserved)", 32, 62},
    {"P63 (reserved)", 32, 63},
    {"S71 (msg.no)", 32, 71},
    {"S72 (data rec)", 32, 72},
    {"S74 (num.cre)", 32, 74},
    {"S76 (num.deb)", 32, 76},
    {"S86 (amt.cre)", 32, 86},
    {"S88 (amt.deb)", 32, 88},
    {"S123 (reserved)", 32, 123},
    {"S128 (mac)", 32, 128},
    {"PAD", 32, 0},
    {"CR/LF", 32, 0},  // line ends never reach the check, so this stays empty
    {"SIZE", 32, 0},
}};

inline constexpr int kRecColumn = 0;
inline constexpr int kTCodeColumn = 1;
inline constexpr int kFunctionCodeColumn = 2;  // element 24 shows here as well as in its own column
inline constexpr int kFunctionCodeElement = 24;
inline constexpr int kPrimaryMapColumn = 3;
inline constexpr int kSecondaryMapColumn = 4;
inline constexpr int kPadColumn = 38;
inline constexpr int kSizeColumn = 40;

// Elements without a column of their own that show in another element's
// column; whichever of the two completes last is what the cell keeps.
struct SharedColumn {
  int element;
  int shownAs;
};
inline constexpr SharedColumn kSharedColumns[] = {{36, 37}, {54, 55}};

namespace result_grid_detail {
constexpr std::array<int, kElementCount + 1> ElementColumns() {
  std::array<int, kElementCount + 1> columns{};
  columns.fill(-1);
  for (int col = 0; col < kGridColumnCount; ++col) {
    if (kGridColumns[col].element != 0) columns[kGridColumns[col].element] = col;
  }
  for (const SharedColumn& shared : kSharedColumns) columns[shared.element] = columns[shared.shownAs];
  return columns;
}
}  // namespace result_grid_detail

// The grid column of each element, -1 for an element the grid does not show.
inline constexpr std::array<int, kElementCount + 1> kElementColumns = result_grid_detail::ElementColumns();

}  // namespace kalvrin
