// Finding text in the result grid without a copy of it: a case-blind
// matcher over byte texts, and the search of the find bar, cell by cell in
// the order the view shows them.
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin {

class GridModel;

// Whether a text holds `needle`, letters matched without regard to case
// (A-Z and the Latin-1 letters). An empty needle is in every text.
class TextMatcher {
 public:
  TextMatcher() = default;
  explicit TextMatcher(std::string_view needle);
  // What a person typed; a character the grid cannot hold (beyond Latin-1)
  // matches nothing.
  static TextMatcher FromTyped(const QString& typed);

  bool empty() const { return needle_.empty() && !impossible_; }
  bool In(std::string_view text) const;

 private:
  std::string needle_;  // folded
  std::size_t anchor_ = 0;  // the byte looked for first
  bool anchorHasCapital_ = false;
  bool caseless_ = true;  // no letters in the needle
  bool impossible_ = false;
};

struct GridPlace {
  int viewRow = -1;
  int column = -1;
};

// Where the search walks: the view's rows in order, each a grid row, and
// the columns it shows.
struct SearchArea {
  int viewRows = 0;
  std::function<int(int viewRow)> gridRowOf;
  std::vector<int> columns;  // shown columns, left to right
};

// The next cell after `from` (or before it, backwards) whose text holds the
// matcher's needle, going round the end of the grid once; `from` itself is
// tried last. Nothing when no shown cell holds it. A `from` outside the area
// starts at the first (or last) cell.
std::optional<GridPlace> FindInGrid(const GridModel& grid, const SearchArea& area, const TextMatcher& matcher,
                                    GridPlace from, bool forwards);

}  // namespace kalvrin
