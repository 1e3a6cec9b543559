// The texts the window itself shows; the checks' own texts live with them.
#pragma once

namespace kalvrin::app_text {

inline constexpr const char* kCaptionStem = "KALVRIN ";              // FormClose adds VersionText
inline constexpr const char* kUnableToWrite = "Unable to write to ";  // then the settings file's path
inline constexpr const char* kCloseWithoutSaving = "Close without saving";
inline constexpr const char* kStayOpen = "Stay open";
inline constexpr const char* kUnknownError = "Unknown error";
inline constexpr const char* kAboutCaption = "Info";
inline constexpr const char* kAboutName = " KALVRIN";
inline constexpr const char* kAboutVersion = "  Ver: ";
inline constexpr const char* kMakerAddress = "kalvrin.example";
inline constexpr const char* kConfigCaption = "Config";

}  // namespace kalvrin::app_text
