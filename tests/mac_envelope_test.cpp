// The MAC envelope: where the MAC header, the file header and the trailer
// stand, what the lookup says when one is missing, and the declared values
// it shows.

#include <gtest/gtest.h>

#include <string>

#include "mac/mac_envelope.h"
#include "support/mac_files.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::BatchMessages;
using test::FileHeaderMessage;
using test::MacHeader;
using test::Record;
using test::RecordingSurface;
using test::Strings;
using test::TempFile;
using test::Trailer;

TEST(MacEnvelope, FindsHeaderFileHeaderAndTrailer) {
  const std::string body = Record(FileHeaderMessage()) + BatchMessages(2);
  const std::string trailer = Trailer("4F47F843");
  struct Case {
    const char* name;
    std::string bytes;
    std::int64_t headerLength, trailerLength;
    std::string_view mac;
  };
  const Case cases[] = {
      {"CR LF after the header", MacHeader() + "\r\n" + body + Record(trailer), 62, 302, "4F47F843"},
      {"no line end after the header", MacHeader() + body + trailer, 60, 55, "4F47F843"},
      {"any non-digits as separator", MacHeader() + std::string(" \r\n\0\xFF" "X", 6) + body + trailer, 66, 55, "4F47F843"},
      {"trailer's digits split by a line end", MacHeader() + body + "18\r\n44" + trailer.substr(4) + "  \r\n", 60,
       59, "4F47F843"},
      {"1844 without 971 is passed over", MacHeader() + body + Record(Trailer("AAAAAAAA", "972")) + trailer, 60, 55,
       "4F47F843"},
      {"digits in the batch that read 1844 ... 971", MacHeader() + body + Record("1240 REF " + Trailer("BADC0FFE")) +
       BatchMessages(1) + trailer, 60, 55, "4F47F843"},
      {"record spaces and CR LF belong to the trailer", MacHeader() + body + Record(trailer), 60, 302, "4F47F843"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempFile file(c.bytes);
    RecordingSurface surface;
    MacRecords records;
    ASSERT_TRUE(FindMacRecords(surface, file.str(), records));
    EXPECT_EQ(records.headerLength, c.headerLength);
    EXPECT_EQ(records.trailerLength, c.trailerLength);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(records.macHeader.data()), 60), MacHeader());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(records.macTrailer.data()) + 43, 8), c.mac);
    EXPECT_TRUE(surface.statuses.empty());
  }
}

TEST(MacEnvelope, FailuresNameTheirStep) {
  const std::string body = Record(FileHeaderMessage());
  struct Case {
    const char* name;
    std::string bytes;
    std::string_view status2;
  };
  const Case cases[] = {
      {"empty file", "", "MAC Header read error"},
      {"short header, nothing after it", MacHeader().substr(0, 30), "File Header read error"},
      {"no digit after the header", MacHeader() + "\r\n   \r\n", "File Header read error"},
      {"one digit and the end", MacHeader() + "\r\n1", "File Header read error"},
      {"two digits and the end", MacHeader() + "\r\n16", "File Header not found"},
      {"a record length before the 1644", MacHeader() + "\r\n0300" + body, "File Header not found"},
      {"another message first", MacHeader() + Record("1240F234") + body, "File Header not found"},
      {"1844 at the very end", MacHeader() + body + "1844", "MAC Trailer read error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempFile file(c.bytes);
    RecordingSurface surface;
    MacRecords records;
    EXPECT_FALSE(FindMacRecords(surface, file.str(), records));
    EXPECT_EQ(surface.statuses[2], Strings{std::string(c.status2)});
    EXPECT_EQ(surface.statuses.size(), 1u);
  }
  const TempFile folder("");
  for (const std::string& path : {std::string(), std::string("/nonexistent/batch.dat"), folder.path().parent_path().string()}) {
    SCOPED_TRACE(path);
    RecordingSurface surface;
    MacRecords records;
    EXPECT_FALSE(FindMacRecords(surface, path, records));
    EXPECT_EQ(surface.status(2), "DORV open error");
  }
}

TEST(MacEnvelope, DeclaredValuesEndAtANul) {
  struct Case {
    std::string declared;
    std::string_view method, version, kcv;
  };
  const Case cases[] = {
      {std::string("10\0B690D735", 11), "1", "0", ""},
      {std::string("101B69\0D735", 11), "1", "01", "B69"},
      {std::string("\0" "01B690D735", 11), "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    const TempFile file(MacHeader(c.declared) + Record(FileHeaderMessage()) + Record(Trailer("12345678")));
    RecordingSurface surface;
    MacRecords records;
    ASSERT_TRUE(FindMacRecords(surface, file.str(), records));
    ShowDeclaredValues(surface, records);
    EXPECT_EQ(surface.editText(Edit::INFileMacMeth), c.method);
    EXPECT_EQ(surface.editText(Edit::INFileMacVer), c.version);
    EXPECT_EQ(surface.editText(Edit::INFileKcv), c.kcv);
    EXPECT_EQ(surface.editText(Edit::INFileMac), "12345678");
  }
}

}  // namespace
}  // namespace kalvrin
