// The settings file: where it lives, how its values are read and written,
// and that every entry written reads back unchanged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "support/test_files.h"

using namespace kalvrin;

namespace {

IniFile Loaded(std::string_view text) {
  IniFile ini;
  ini.LoadText(text);
  return ini;
}

namespace fs = std::filesystem;

mode_t ModeOf(const fs::path& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return 0;
  return info.st_mode & 07777;
}

std::vector<std::string> NamesIn(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A fresh folder for the files of one test.
struct TempFolder {
  test::TempFile placeholder{"", "placeholder"};
  fs::path path() const { return placeholder.path().parent_path(); }
};

}  // namespace

TEST(SettingsPathTest, FollowsTheExecutable) {
  struct Case {
    const char* executable;
    const char* stem;
    const char* settings;
  };
#ifdef _WIN32
  const Case cases[] = {{"C:\\Tools\\Kalvrin.exe", "C:\\Tools\\Kalvrin", "C:\\Tools\\Kalvrin.ini"}};
#else
  const Case cases[] = {
      {"/opt/kalvrin/bin/kalvrin", "/opt/kalvrin/bin/kalvrin", "/opt/kalvrin/bin/kalvrin.ini"},
      {"/opt/kal.v1/kalvrin", "/opt/kal.v1/kalvrin", "/opt/kal.v1/kalvrin.ini"},  // a dot in a folder is no extension
      {"/opt/kalvrin/kalvrin.bin", "/opt/kalvrin/kalvrin", "/opt/kalvrin/kalvrin.ini"},
  };
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    EXPECT_EQ(ExecutableStem(c.executable), c.stem);
    EXPECT_EQ(SettingsPathFor(c.executable), std::filesystem::path(c.settings));
  }
}

TEST(SettingsIntegerTest, ReadsDecimalAndHexadecimal) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> value;
  };
  const Case cases[] = {
      {"100", 100},          {"  -40", -40},        {"+7", 7},           {"0x64", 100},
      {"0X64", 100},         {"$64", 100},          {"x64", 100},        {"X1f", 31},
      {"-$10", -16},         {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt}, {"0x80000000", std::nullopt}, {"99999999999999999999", std::nullopt},
      {"", std::nullopt},    {"abc", std::nullopt}, {"12abc", std::nullopt}, {"0x", std::nullopt},
      {"$", std::nullopt},   {"-", std::nullopt},   {"0xG1", std::nullopt}, {"1 2", std::nullopt},
      {"12 ", 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseIniInteger(c.text), c.value);
  }
}

TEST(SettingsReadTest, MissingOrBrokenEntriesGiveTheDefaults) {
  const WindowSettings defaults;
  for (const char* text : {"", "[Form]\n", "[Form]\nTop=abc\nInitMax=\nWidth=0x\n", "garbage without sections\n=x\n[\n"}) {
    SCOPED_TRACE(text);
    const WindowSettings s = ReadSettings(Loaded(text));
    EXPECT_EQ(s.top, defaults.top);
    EXPECT_EQ(s.left, 100);
    EXPECT_EQ(s.height, 460);
    EXPECT_EQ(s.width, 770);
    EXPECT_EQ(s.caption, "KALVRIN ");
    EXPECT_FALSE(s.initMax);
    EXPECT_EQ(s.key, "A4F1C07B3E9D2658");
  }
}

TEST(SettingsReadTest, SectionsAndKeysIgnoreCaseAndLongTextsAreCut) {
  const std::string longKey(5000, 'k');
  const WindowSettings s = ReadSettings(Loaded("[form]\r\nTOP=12\r\ninitmax=0x1\r\n[sdes-keys]\r\ntestkey=" + longKey + "\r\n"));
  EXPECT_EQ(s.top, 12);
  EXPECT_TRUE(s.initMax);
  EXPECT_EQ(s.key, std::string(2047, 'k'));
}

// A window of gigabytes, or of no pixels, is never asked for.
TEST(SettingsReadTest, WidthAndHeightStayWithinBounds) {
  struct Case {
    const char* text;
    std::int32_t width;
    std::int32_t height;
  };
  const Case cases[] = {
      {"[Form]\nWidth=99999\nHeight=99999\n", kLargestWindowSide, kLargestWindowSide},
      {"[Form]\nWidth=0\nHeight=-5\n", kSmallestWindowSide, kSmallestWindowSide},
      {"[Form]\nWidth=-2147483648\nHeight=2147483647\n", kSmallestWindowSide, kLargestWindowSide},
      {"[Form]\nWidth=8192\nHeight=100\n", 8192, 100},
      {"[Form]\nWidth=1920\nHeight=99\n", 1920, kSmallestWindowSide},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const WindowSettings s = ReadSettings(Loaded(c.text));
    EXPECT_EQ(s.width, c.width);
    EXPECT_EQ(s.height, c.height);
  }
}

// A file over 1 MB, even a sparse one of gigabytes, is refused at once:
// the defaults, and one line that names it.
TEST(SettingsFileTest, AFileOverOneMegabyteIsNotRead) {
  const std::string entries = "[Form]\nWidth=1234\nCaption=MINE\n";
  const test::TempFile file(entries, "kalvrin.ini");
  const auto sized = [&](std::uintmax_t size) {
    fs::resize_file(file.path(), size);
    IniFile ini;
    ini.Load(file.path());
    return ini;
  };
  const IniFile atTheLimit = sized(kSettingsFileLimit);  // padded with NULs after the entries
  EXPECT_EQ(ReadSettings(atTheLimit).width, 1234);
  EXPECT_EQ(atTheLimit.Refusal(), "");
  for (const std::uintmax_t size : {kSettingsFileLimit + 1, std::uintmax_t{2} << 30}) {
    SCOPED_TRACE(size);
    const IniFile refused = sized(size);
    const WindowSettings s = ReadSettings(refused);
    EXPECT_EQ(s.width, WindowSettings{}.width);
    EXPECT_EQ(s.caption, WindowSettings{}.caption);
    EXPECT_EQ(refused.Refusal(), file.str() + ": larger than 1 MB, not read: the window starts with the defaults");
  }
  // the same file read again, once it is small, is judged anew
  IniFile ini = sized(kSettingsFileLimit + 1);
  fs::resize_file(file.path(), entries.size());
  ini.Load(file.path());
  EXPECT_EQ(ini.Refusal(), "");
  EXPECT_EQ(ReadSettings(ini).caption, "MINE");
}

// Whatever the window writes comes back as it was written.
TEST(SettingsRoundTripTest, EveryWrittenTextReadsBackUnchanged) {
  const std::string texts[] = {"KALVRIN ", "KALVRIN 1.23", "", " ", "  leading", "trailing\t", "\"quoted\"",
                               "\"", "\"\"", "\"half", "a = b ; not a comment", "[not a section]",
                               "\xE9t\xE9 \xFF", std::string(2047, 'x')};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    IniFile written;
    written.WriteText("Form", "Caption", text);
    EXPECT_EQ(Loaded(written.Text()).ReadText("Form", "Caption", "default"), text);
  }
  // Integers at both ends of their range (the window's sides at both ends
  // of theirs), and booleans.
  WindowSettings s;
  s.top = -2147483647 - 1;
  s.left = 2147483647;
  s.height = kSmallestWindowSide;
  s.width = kLargestWindowSide;
  s.caption = "KALVRIN 1.23";
  s.initMax = true;
  s.key = "";
  IniFile written;
  WriteSettings(written, s);
  const WindowSettings back = ReadSettings(Loaded(written.Text()));
  EXPECT_EQ(back.top, s.top);
  EXPECT_EQ(back.left, s.left);
  EXPECT_EQ(back.height, s.height);
  EXPECT_EQ(back.width, s.width);
  EXPECT_EQ(back.caption, s.caption);
  EXPECT_EQ(back.initMax, s.initMax);
  EXPECT_EQ(back.key, s.key);
}

TEST(SettingsRoundTripTest, TextsEndAtALineEnd) {
  // One entry is one line; what follows a line end cannot become an entry of its own.
  IniFile written;
  written.WriteText("SDES-KEYS", "TESTKEY", "ABC\n[Form]\nTop=5");
  const IniFile back = Loaded(written.Text());
  EXPECT_EQ(back.ReadText("SDES-KEYS", "TESTKEY", "default"), "ABC");
  EXPECT_EQ(back.ReadInteger("Form", "Top", 100), 100);
}

TEST(SettingsFileTest, WritesTheSevenEntriesInOrderAndKeepsOtherContent) {
  const test::TempFile file("; the tool's settings\n[Tools]\nEditor=vi\n\n[Form]\nTop=5\nExtra=1\n", "kalvrin.ini");
  WindowSettings s;
  s.caption = "KALVRIN 1.23";
  ASSERT_TRUE(WriteSettingsFile(file.path(), s));
  const std::string written = test::ReadFileBytes(file.path());
  EXPECT_EQ(written,
            "; the tool's settings\n\n\n[Tools]\nEditor=vi\n\n\n"
            "[Form]\nTop=100\nExtra=1\nLeft=100\nHeight=460\nWidth=770\nCaption=KALVRIN 1.23\nInitMax=0\n\n\n"
            "[SDES-KEYS]\nTESTKEY=A4F1C07B3E9D2658\n");
  // Writing again changes nothing: the layout does not drift from run to run.
  ASSERT_TRUE(WriteSettingsFile(file.path(), s));
  EXPECT_EQ(test::ReadFileBytes(file.path()), written);
  EXPECT_EQ(ReadSettingsFile(file.path()).caption, "KALVRIN 1.23");
}

TEST(SettingsFileTest, ReportsAFileThatCannotBeWritten) {
  const test::TempFile file("", "placeholder");
  const std::filesystem::path folder = file.path().parent_path() / "kalvrin.ini";
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(WriteSettingsFile(folder, WindowSettings{}));
  EXPECT_FALSE(WriteSettingsFile(file.path() / "kalvrin.ini", WindowSettings{}));  // under a file, not a folder
  // Reading such a place gives the defaults.
  EXPECT_EQ(ReadSettingsFile(folder).key, "A4F1C07B3E9D2658");
}

// Any bytes at all read without harm into settings within their limits.
TEST(SettingsReadTest, ArbitraryBytesAreSafe) {
  std::mt19937 random(8583);
  std::uniform_int_distribution<int> byte(0, 255);
  const char alphabet[] = "[]=\"\r\n \tFormTopSDES-KEYStestkey0x$";
  for (int round = 0; round < 2000; ++round) {
    std::string text(static_cast<std::size_t>(byte(random)) * 8, '\0');
    for (char& c : text) {
      const int b = byte(random);
      c = b < 128 ? alphabet[static_cast<std::size_t>(b) % (sizeof alphabet - 1)] : static_cast<char>(b);
    }
    const WindowSettings s = ReadSettings(Loaded(text));
    ASSERT_LE(s.caption.size(), kSettingsTextLimit);
    ASSERT_LE(s.key.size(), kSettingsTextLimit);
    IniFile rewritten;
    rewritten.LoadText(text);
    WriteSettings(rewritten, s);
    const WindowSettings back = ReadSettings(Loaded(rewritten.Text()));
    ASSERT_EQ(back.caption, s.caption.substr(0, s.caption.find_first_of(std::string_view("\r\n\0", 3))));
    ASSERT_EQ(back.top, s.top);
  }
}

// ---- where the file lives ------------------------------------------------

TEST(SettingsLocationTest, BesideTheExecutableWhenItsFolderTakesFiles) {
  const TempFolder home;
  const ScopedEnv xdg("XDG_CONFIG_HOME", (home.path() / "config").c_str());
  fs::create_directory(home.path() / "bin");
  EXPECT_TRUE(FolderTakesNewFiles(home.path() / "bin"));
  EXPECT_EQ(ChooseSettingsPath(home.path() / "bin" / "kalvrin", "/usr/bin"), home.path() / "bin" / "kalvrin.ini");
  EXPECT_EQ(NamesIn(home.path() / "bin"), std::vector<std::string>{});  // the probe leaves nothing
}

TEST(SettingsLocationTest, TheUsersFileWhenTheExecutableFolderCannotBeWritten) {
  const TempFolder home;
  const ScopedEnv xdg("XDG_CONFIG_HOME", (home.path() / "config").c_str());
  const fs::path userFile = home.path() / "config" / "kalvrin" / "kalvrin.ini";
  // No one makes files in /proc/self, root included, whatever its mode says.
  EXPECT_FALSE(FolderTakesNewFiles("/proc/self"));
  EXPECT_EQ(ChooseSettingsPath("/proc/self/kalvrin", "/usr/bin"), userFile);
  EXPECT_FALSE(FolderTakesNewFiles(home.path() / "missing"));
  EXPECT_EQ(ChooseSettingsPath(home.path() / "missing" / "kalvrin", "/usr/bin"), userFile);
  // The installed copy, even when whoever runs it could write its folder.
  fs::create_directory(home.path() / "bin");
  EXPECT_EQ(ChooseSettingsPath(home.path() / "bin" / "kalvrin", home.path() / "bin"), userFile);

  // The window's whole round: the folders are made, owner only, and read back.
  WindowSettings s;
  s.top = 42;
  s.key = "1C587F1C13924FEF";
  ASSERT_TRUE(WriteSettingsFile(ChooseSettingsPath("/proc/self/kalvrin", "/usr/bin"), s));
  EXPECT_EQ(ModeOf(home.path() / "config"), 0700U);
  EXPECT_EQ(ModeOf(userFile.parent_path()), 0700U);
  EXPECT_EQ(ReadSettingsFile(userFile).top, 42);
  EXPECT_EQ(ReadSettingsFile(userFile).key, "1C587F1C13924FEF");
}

TEST(SettingsLocationTest, UserFileFollowsXdgConfigHomeOrHome) {
  const ScopedEnv home("HOME", "/home/tester");
  {
    const ScopedEnv xdg("XDG_CONFIG_HOME", "/srv/conf");
    EXPECT_EQ(UserSettingsPath(), fs::path("/srv/conf/kalvrin/kalvrin.ini"));
  }
  for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/conf"}) {
    SCOPED_TRACE(ignored == nullptr ? "unset" : ignored);
    const ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(UserSettingsPath(), fs::path("/home/tester/.config/kalvrin/kalvrin.ini"));
  }
}

// ---- how it is written -----------------------------------------------------

TEST(SettingsWriteTest, OwnerOnlyWhateverTheUmaskAndTheOldMode) {
  const TempFolder folder;
  const fs::path file = folder.path() / "kalvrin.ini";
  const mode_t oldMask = ::umask(0);
  ASSERT_TRUE(WriteSettingsFile(file, WindowSettings{}));
  EXPECT_EQ(ModeOf(file), 0600U);
  ::chmod(file.c_str(), 0644);
  ASSERT_TRUE(WriteSettingsFile(file, WindowSettings{}));
  EXPECT_EQ(ModeOf(file), 0600U);
  ::umask(0277);  // a mask that would leave the owner unable to write it next time
  ASSERT_TRUE(WriteSettingsFile(file, WindowSettings{}));
  EXPECT_EQ(ModeOf(file), 0600U);
  ::umask(oldMask);
  EXPECT_EQ(NamesIn(folder.path()), (std::vector<std::string>{"kalvrin.ini", "placeholder"}));
}

TEST(SettingsWriteTest, ASymbolicLinkIsNeitherReadNorWrittenThrough) {
  const TempFolder folder;
  const fs::path other = folder.path() / "notes.txt";
  const std::string notes = "shopping list, not settings\n[Form]\nTop=5\n[SDES-KEYS]\nTESTKEY=0123456789ABCDEF\n";
  {
    std::FILE* f = std::fopen(other.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(notes.data(), 1, notes.size(), f);
    std::fclose(f);
  }
  const fs::path link = folder.path() / "kalvrin.ini";
  fs::create_symlink(other, link);

  const WindowSettings read = ReadSettingsFile(link);
  EXPECT_EQ(read.top, 100);  // the defaults, not the other file's lines
  EXPECT_EQ(read.key, "A4F1C07B3E9D2658");

  WindowSettings s;
  s.caption = "KALVRIN 1.23";
  ASSERT_TRUE(WriteSettingsFile(link, s));
  EXPECT_EQ(test::ReadFileBytes(other), notes);
  EXPECT_FALSE(fs::is_symlink(link));
  EXPECT_EQ(ModeOf(link), 0600U);
  EXPECT_EQ(ReadSettingsFile(link).caption, "KALVRIN 1.23");
  EXPECT_EQ(test::ReadFileBytes(link).find("shopping"), std::string::npos);
}

// A write that fails half way (here: the disk's size limit for this process)
// leaves the old file whole and no scraps beside it.
TEST(SettingsWriteTest, AFailedWriteKeepsTheOldFile) {
  const TempFolder folder;
  const fs::path file = folder.path() / "kalvrin.ini";
  WindowSettings old;
  old.key = "1C587F1C13924FEF";
  ASSERT_TRUE(WriteSettingsFile(file, old));
  const std::string before = test::ReadFileBytes(file);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit tiny{16, 16};
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    WindowSettings changed;
    changed.caption = std::string(1000, 'c');
    ::_exit(WriteSettingsFile(file, changed) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);  // reported as failed
  EXPECT_EQ(test::ReadFileBytes(file), before);
  EXPECT_EQ(NamesIn(folder.path()), (std::vector<std::string>{"kalvrin.ini", "placeholder"}));
}
