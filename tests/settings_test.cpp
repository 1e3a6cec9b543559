// The settings file: where it lives, how its values are read and written,
// and that every entry written reads back unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "app/settings.h"
#include "support/test_files.h"

using namespace kalvrin;

namespace {

IniFile Loaded(std::string_view text) {
  IniFile ini;
  ini.LoadText(text);
  return ini;
}

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
  // Integers at both ends of their range, and booleans.
  WindowSettings s;
  s.top = -2147483647 - 1;
  s.left = 2147483647;
  s.height = 0;
  s.width = -1;
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
  EXPECT_FALSE(WriteSettingsFile(file.path().parent_path() / "missing" / "kalvrin.ini", WindowSettings{}));
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
