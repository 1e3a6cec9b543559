// What each column of the result grid holds, for its title's tooltip: the
// element's name and format, or what the check writes into the column.
#pragma once

#include <string>
#include <string_view>

namespace kalvrin {

// The note for the column with this title; empty for a title the result
// grid does not have.
std::string ColumnNote(std::string_view title);

}  // namespace kalvrin
