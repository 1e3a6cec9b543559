// Every text the format check and the ISO command put on the window.
#pragma once

#include <string_view>

#include "io/file_identity.h"

namespace kalvrin::iso_text {

inline constexpr std::string_view kCannotOpenFile = "Cannot open file";           // panel 1
inline constexpr std::string_view kProcessingFormat = "Processing format";       // panel 2
inline constexpr std::string_view kFormatProcessed = "Format processed";         // panel 2
inline constexpr std::string_view kPrimaryPrefixError = "Error Process P ";      // panel 2, then element
inline constexpr std::string_view kSecondaryPrefixError = "Error Process S ";    // panel 2, then element
inline constexpr std::string_view kPrefixErrorLength = " Len: ";                 // then 'prefix'
inline constexpr std::string_view kPrimaryElementDone = "PMAP P: ";              // panel 2, then element
inline constexpr std::string_view kSecondaryElementDone = "SMAP S: ";            // panel 2, then element
// panel 2: the file shrank, grew or was replaced during the check
inline constexpr std::string_view kFileChanged = kalvrin::kFileChanged;

}  // namespace kalvrin::iso_text
