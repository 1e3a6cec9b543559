// The texts the settings file needs of the window: the caption it keeps
// when the file names none.
#pragma once

namespace kalvrin::settings_text {

inline constexpr const char* kCaptionStem = "KALVRIN ";  // FormClose adds VersionText

}  // namespace kalvrin::settings_text
