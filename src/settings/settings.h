// The settings file: where it lives (beside the executable, or in the user's
// configuration folder), an INI layer over SimpleIni with the file's value
// encodings, and the seven entries the main window keeps from one run to the
// next. No Qt here, so it can be fed any INI text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "mac/key_install.h"
#include "settings/settings_texts.h"

namespace kalvrin {

inline constexpr std::size_t kSettingsTextLimit = 2047;  // longer texts are cut here on reading
// A larger file is not read: no settings file of ours comes near it, and
// reading one of gigabytes would hold the window's start for many seconds.
inline constexpr std::uintmax_t kSettingsFileLimit = 1024 * 1024;
// The window's width and height as read, whatever the file says: a window of
// 99999 by 99999 pixels would take gigabytes before it is ever shown. The
// window fits them to the screen after this.
inline constexpr std::int32_t kSmallestWindowSide = 100;
inline constexpr std::int32_t kLargestWindowSide = 8192;

// Where the file lives, from the running executable's full path. On Windows
// the file edit gets the path less its last four characters (".exe") and the
// settings file the path with its extension replaced by ".ini"; elsewhere an
// executable has no ".exe", so the edit gets the path without its extension
// (if it has one) and the settings file that path with ".ini".
std::string ExecutableStem(const std::string& executablePath);
std::filesystem::path SettingsPathFor(const std::filesystem::path& executablePath);

// The user's own settings file: $XDG_CONFIG_HOME/kalvrin/kalvrin.ini, or
// ~/.config/kalvrin/kalvrin.ini when that variable is unset, empty or not an
// absolute path.
std::filesystem::path UserSettingsPath();

// Whether a new file can be made in the folder. Tried, not guessed from the
// permission bits, which say nothing of root or of a read-only mount.
bool FolderTakesNewFiles(const std::filesystem::path& folder);

// The file the window reads at start and writes at close: beside the
// executable when its folder takes new files (a copy run from its own folder
// keeps its settings with it), else the user's own file. installedBinFolder
// is where an installed copy lives (/usr/bin for the package): settings are
// never written among the system's programs, whoever runs the window.
std::filesystem::path ChooseSettingsPath(const std::filesystem::path& executablePath,
                                         const std::filesystem::path& installedBinFolder);
std::filesystem::path ChooseSettingsPath(const std::filesystem::path& executablePath);

// An integer as the settings file writes it (decimal) or as a person may
// have typed it: leading blanks, a sign, decimal digits or hexadecimal after
// "$", "x" or "0x" (either case of the x). Nothing for anything else,
// including a value beyond 32 bits.
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

// One open settings file: read on opening, written back whole by Save, so
// other sections, keys and comments stay. Sections and keys are matched
// without regard to case.
class IniFile {
 public:
  // An empty file; Load fills it.
  IniFile();
  ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;
  IniFile(IniFile&&) noexcept;
  IniFile& operator=(IniFile&&) noexcept;

  // The file's content; a missing or unreadable file, and a symbolic link,
  // read as empty. So does a file over kSettingsFileLimit, and Refusal then
  // says so in one line naming the file.
  void Load(const std::filesystem::path& path);
  void LoadText(std::string_view text);
  const std::string& Refusal() const;

  // Texts are cut at 2047 characters; integers and booleans that do not
  // convert give the default, as a missing entry does.
  std::string ReadText(const char* section, const char* key, std::string_view fallback) const;
  std::int32_t ReadInteger(const char* section, const char* key, std::int32_t fallback) const;
  bool ReadBool(const char* section, const char* key, bool fallback) const;

  // A text keeps its blanks and quotation marks through a write and a read;
  // it ends at a line end or NUL, which a one-line entry cannot hold.
  void WriteText(const char* section, const char* key, std::string_view value);
  void WriteInteger(const char* section, const char* key, std::int32_t value);
  void WriteBool(const char* section, const char* key, bool value);

  std::string Text() const;
  // Writes a new file, readable and writable by its owner only, in the same
  // folder (made, owner only, when missing) and renames it over the old one:
  // a crash leaves the old file or the new one, never half of one, and a
  // symbolic link in the file's place is replaced, not written through.
  // False when any step fails; the old file is then as it was.
  bool Save(const std::filesystem::path& path) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The seven entries, in the order they are read and written; Width and
// Height are kept between kSmallestWindowSide and kLargestWindowSide.
struct WindowSettings {
  std::int32_t top = 100;
  std::int32_t left = 100;
  std::int32_t height = 460;
  std::int32_t width = 770;
  std::string caption = settings_text::kCaptionStem;
  bool initMax = false;
  std::string key{kDefaultKey};
};

WindowSettings ReadSettings(const IniFile& ini);
void WriteSettings(IniFile& ini, const WindowSettings& settings);

// The whole round trip on a file: what it holds (defaults where it holds
// nothing), and writing the entries into it with its other content kept.
WindowSettings ReadSettingsFile(const std::filesystem::path& path);
// `alsoWrite` adds the entries of sections of the window's own (the grid's
// columns) in the same write.
bool WriteSettingsFile(const std::filesystem::path& path, const WindowSettings& settings,
                       const std::function<void(IniFile&)>& alsoWrite = {});

}  // namespace kalvrin
