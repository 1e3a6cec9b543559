// The settings file: SimpleIni underneath, the file's encodings on top.
#include "settings/settings.h"

// Single-byte texts as they stand: no wide-character conversion.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION  // the template bodies, here in the one file that uses them
#include <SimpleIni.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>

namespace kalvrin {

namespace {

#ifndef KALVRIN_INSTALLED_BINDIR
#define KALVRIN_INSTALLED_BINDIR "/usr/bin"
#endif

constexpr const char* kFormSection = "Form";
constexpr mode_t kOwnerOnlyFile = 0600;
constexpr mode_t kOwnerOnlyFolder = 0700;
constexpr const char* kKeysSection = "SDES-KEYS";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
// SimpleIni trims these from both ends of a value it reads.
bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A value with blanks at either end, or one that is itself enclosed in
// quotation marks, is written inside quotation marks; reading takes one pair
// off again. Everything else is written as it stands.
std::string EncodeText(std::string_view value) {
  const std::size_t end = value.find_first_of(std::string_view("\r\n\0", 3));
  if (end != std::string_view::npos) value = value.substr(0, end);
  const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
  if (!value.empty() && (IsTrimmed(value.front()) || IsTrimmed(value.back()) || quoted)) {
    return "\"" + std::string(value) + "\"";
  }
  return std::string(value);
}

std::string DecodeText(std::string_view raw) {
  if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') raw = raw.substr(1, raw.size() - 2);
  return std::string(raw.substr(0, kSettingsTextLimit));
}

// Closes a descriptor when it leaves scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting what close says (a late write error shows here).
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = ::write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// The folder and the folders above it that are missing, each readable by
// its owner only.
bool MakeFolders(const std::filesystem::path& folder) {
  if (folder.empty()) return true;
  struct stat info {};
  if (::stat(folder.c_str(), &info) == 0) return S_ISDIR(info.st_mode);
  if (folder.has_relative_path() && folder.parent_path() != folder && !MakeFolders(folder.parent_path())) return false;
  return ::mkdir(folder.c_str(), kOwnerOnlyFolder) == 0 || errno == EEXIST;
}

std::filesystem::path FolderOf(const std::filesystem::path& path) {
  return path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
}

std::filesystem::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr) return entry->pw_dir;
  return {};
}

}  // namespace

std::string ExecutableStem(const std::string& executablePath) {
#ifdef _WIN32
  return executablePath.size() > 4 ? executablePath.substr(0, executablePath.size() - 4) : std::string();
#else
  const std::filesystem::path path(executablePath);
  if (!path.has_extension()) return executablePath;
  return executablePath.substr(0, executablePath.size() - path.extension().string().size());
#endif
}

std::filesystem::path SettingsPathFor(const std::filesystem::path& executablePath) {
  std::filesystem::path settings = executablePath;
  settings.replace_extension(".ini");
  return settings;
}

std::filesystem::path UserSettingsPath() {
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    config = xdg;
  } else {
    config = HomeFolder() / ".config";
  }
  return config / "kalvrin" / "kalvrin.ini";
}

bool FolderTakesNewFiles(const std::filesystem::path& folder) {
  std::string probe = (folder / ".kalvrin-probe-XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(probe.c_str());
  return true;
}

std::filesystem::path ChooseSettingsPath(const std::filesystem::path& executablePath,
                                         const std::filesystem::path& installedBinFolder) {
  const std::filesystem::path folder = FolderOf(executablePath);
  std::error_code error;
  const bool installed = !installedBinFolder.empty() && std::filesystem::equivalent(folder, installedBinFolder, error);
  if (!installed && FolderTakesNewFiles(folder)) return SettingsPathFor(executablePath);
  return UserSettingsPath();
}

std::filesystem::path ChooseSettingsPath(const std::filesystem::path& executablePath) {
  return ChooseSettingsPath(executablePath, KALVRIN_INSTALLED_BINDIR);
}

std::optional<std::int32_t> ParseIniInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size(); ++i, ++digits) {
    const int digit = HexDigit(text[i]);
    if (digit < 0 || digit >= base) break;
    value = value * base + digit;
    if (value > kLimit) return std::nullopt;
  }
  while (i < text.size() && IsBlank(text[i])) ++i;
  if (digits == 0 || i != text.size()) return std::nullopt;
  if (negative) return static_cast<std::int32_t>(-value);
  if (value == kLimit) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

struct IniFile::Impl {
  // Single-byte texts, keys without regard to case, one value per key, no
  // multi-line values: the private-profile format.
  CSimpleIniA ini{false, false, false};
  std::string refusal;  // why the last Load read nothing of an existing file
};

IniFile::IniFile() : impl_(std::make_unique<Impl>()) { impl_->ini.SetSpaces(false); }
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

void IniFile::Load(const std::filesystem::path& path) {
  std::string text;
  bool tooLarge = false;
  // No following of a link, and no waiting on a pipe put in the file's place.
  Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  struct stat info {};
  if (fd.get() >= 0 && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode)) {
    tooLarge = static_cast<std::uintmax_t>(info.st_size) > kSettingsFileLimit;
    char buffer[4096];
    // a file that grows while it is read is cut off at the limit too
    while (!tooLarge) {
      const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        text.clear();  // a file that cannot be read counts as missing
        break;
      }
      if (got == 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
      tooLarge = text.size() > kSettingsFileLimit;
    }
  }
  if (tooLarge) text.clear();
  LoadText(text);
  if (tooLarge) impl_->refusal = path.string() + settings_text::kTooLarge;
}

void IniFile::LoadText(std::string_view text) {
  impl_->ini.Reset();
  impl_->refusal.clear();
  if (!text.empty()) impl_->ini.LoadData(text.data(), text.size());
}

const std::string& IniFile::Refusal() const { return impl_->refusal; }

std::string IniFile::ReadText(const char* section, const char* key, std::string_view fallback) const {
  const char* value = impl_->ini.GetValue(section, key, nullptr);
  if (value == nullptr) return std::string(fallback.substr(0, kSettingsTextLimit));
  return DecodeText(value);
}

std::int32_t IniFile::ReadInteger(const char* section, const char* key, std::int32_t fallback) const {
  const char* value = impl_->ini.GetValue(section, key, nullptr);
  if (value == nullptr) return fallback;
  return ParseIniInteger(DecodeText(value)).value_or(fallback);
}

bool IniFile::ReadBool(const char* section, const char* key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::WriteText(const char* section, const char* key, std::string_view value) {
  impl_->ini.SetValue(section, key, EncodeText(value).c_str());
}

void IniFile::WriteInteger(const char* section, const char* key, std::int32_t value) {
  impl_->ini.SetValue(section, key, std::to_string(value).c_str());
}

void IniFile::WriteBool(const char* section, const char* key, bool value) {
  impl_->ini.SetValue(section, key, value ? "1" : "0");
}

std::string IniFile::Text() const {
  std::string text;
  impl_->ini.Save(text);
  return text;
}

bool IniFile::Save(const std::filesystem::path& path) const {
  const std::filesystem::path folder = FolderOf(path);
  if (!MakeFolders(folder)) return false;
  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
  Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
  if (fd.get() < 0) return false;
  // fchmod, not the umask's leftovers: the file holds a key.
  const bool written = ::fchmod(fd.get(), kOwnerOnlyFile) == 0 && WriteAll(fd.get(), Text()) &&
                       ::fsync(fd.get()) == 0 && fd.Close();
  if (!written || ::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  // The rename itself on disk; a folder that cannot be synced changes nothing.
  Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
  return true;
}

WindowSettings ReadSettings(const IniFile& ini) {
  const WindowSettings defaults;
  WindowSettings s;
  s.top = ini.ReadInteger(kFormSection, "Top", defaults.top);
  s.left = ini.ReadInteger(kFormSection, "Left", defaults.left);
  const auto side = [&ini](const char* key, std::int32_t fallback) {
    return std::clamp(ini.ReadInteger(kFormSection, key, fallback), kSmallestWindowSide, kLargestWindowSide);
  };
  s.height = side("Height", defaults.height);
  s.width = side("Width", defaults.width);
  s.caption = ini.ReadText(kFormSection, "Caption", defaults.caption);
  s.initMax = ini.ReadBool(kFormSection, "InitMax", defaults.initMax);
  s.key = ini.ReadText(kKeysSection, "TESTKEY", defaults.key);
  return s;
}

void WriteSettings(IniFile& ini, const WindowSettings& s) {
  ini.WriteInteger(kFormSection, "Top", s.top);
  ini.WriteInteger(kFormSection, "Left", s.left);
  ini.WriteInteger(kFormSection, "Height", s.height);
  ini.WriteInteger(kFormSection, "Width", s.width);
  ini.WriteText(kFormSection, "Caption", s.caption);
  ini.WriteBool(kFormSection, "InitMax", s.initMax);
  ini.WriteText(kKeysSection, "TESTKEY", s.key);
}

WindowSettings ReadSettingsFile(const std::filesystem::path& path) {
  IniFile ini;
  ini.Load(path);
  return ReadSettings(ini);
}

bool WriteSettingsFile(const std::filesystem::path& path, const WindowSettings& settings,
                       const std::function<void(IniFile&)>& alsoWrite) {
  IniFile ini;
  ini.Load(path);
  WriteSettings(ini, settings);
  if (alsoWrite) alsoWrite(ini);
  return ini.Save(path);
}

}  // namespace kalvrin
