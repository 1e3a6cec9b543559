// The texts the settings file needs of the window: the caption it keeps
// when the file names none, and why a file was not read.
#pragma once

namespace kalvrin::settings_text {

inline constexpr const char* kCaptionStem = "KALVRIN ";  // FormClose adds VersionText
// After the file's path, when it is too large to be a settings file.
inline constexpr const char* kTooLarge = ": larger than 1 MB, not read: the window starts with the defaults";

}  // namespace kalvrin::settings_text
