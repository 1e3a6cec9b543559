// The MAC check as the window shows it: the three variants' figures and
// MACs, the driver's stops and colours, and the MAC command. MACs are checked against OpenSSL's DES-CBC over the same bytes.

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "headless/headless_surface.h"
#include "mac/core_dumps.h"
#include "mac/file_mac.h"
#include "mac/mac_command.h"
#include "support/mac_files.h"
#include "testgen/filegen.h"
#include "support/reference_mac.h"
#include "support/separate_mac.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::ComputeMac;
using test::MacVariant;
using test::OpenSslMac;
using test::Masked;
using test::Without;

using test::BatchMessages;
using test::FileHeaderMessage;
using test::kUntouched;
using test::MacHeader;
using test::Record;
using test::RecordingSurface;
using test::Strings;
using test::TempFile;
using test::Trailer;

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kKeyKcv = "B690D735";

// ---------------------------------------------------------------------------
// Reference MACs: OpenSSL's DES-CBC over the bytes each variant feeds it.

struct ExpectedMacs {
  std::string all, nhd, nsp;
};

// What each variant should compute for a file whose MAC range is
// [headerLength, size - trailerLength).
ExpectedMacs ReferenceMacs(std::string_view key, const std::string& file, std::size_t headerLength,
                           std::size_t trailerLength) {
  const std::string range = file.substr(headerLength, file.size() - headerLength - trailerLength);
  return {OpenSslMac(key, Masked(file)), OpenSslMac(key, Masked(Without(range, "\r\n\t"))),
          OpenSslMac(key, Masked(Without(range, "\r\n\t ")))};
}

struct BatchFile {
  std::string bytes;
  std::size_t headerLength;
  std::size_t trailerLength;
};

BatchFile MakeBatch(int messages, std::string_view declaredMac) {
  BatchFile file;
  file.bytes = MacHeader() + "\r\n";
  file.headerLength = file.bytes.size();
  file.bytes += Record(FileHeaderMessage()) + BatchMessages(messages);
  const std::string trailer = Record(Trailer(declaredMac));
  file.trailerLength = trailer.size();
  file.bytes += trailer;
  return file;
}

// A MAC range of exactly `size` bytes between a bare 60-byte header and a bare
// 55-byte trailer: "1644", then digit-free filler with spaces, CR, LF, TAB
// and bytes outside 0x20..0x7E; `lineEnds` CR/LF bytes come first.
std::string RangeFile(std::size_t size, std::size_t lineEnds = 0, unsigned seed = 7) {
  static constexpr std::string_view kFiller = "ABCXYZ abc xyz/.-\t\r\n\xAA\x7F\x80\xFF\x01";
  std::string range = "1644";
  for (std::size_t i = 0; i < lineEnds; ++i) range += i % 2 == 0 ? '\r' : '\n';
  std::mt19937 random(seed);
  while (range.size() < size) range += kFiller[random() % kFiller.size()];
  range.resize(size);
  return MacHeader() + range + Trailer("00000000");
}

// One variant over the range that a header of headerLength and a trailer of
// trailerLength bytes leave.
int RunVariant(WindowSurface& surface, const std::string& path, MacVariant variant, const MacKeys& keys,
               std::int64_t headerLength = 0, std::int64_t trailerLength = 0) {
  MacRecords envelope;
  envelope.headerLength = headerLength;
  envelope.trailerLength = trailerLength;
  MacRun run;
  return ComputeMac(surface, path, variant, keys, envelope, run);
}

int RunCheck(WindowSurface& surface, const std::string& path, std::string_view key = kKey) {
  std::string kcv = "(00000000)";
  return CheckFileMac(surface, path, std::span<char>(kcv), key);
}

// A key installed as the driver installs it, for calling the variants alone.
struct InstalledKey {
  MacKeys keys(std::string_view kcvText) const { return {store, cryptogram, kcvText}; }
  InstalledKey() {
    EXPECT_EQ(CreateKCV(kcv.data(), kKey, 8), 1);
    EXPECT_EQ(InstallKey(store, cryptogram, kKey, kcv.data(), std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}), 0);
  }
  KeyStore store{};
  KeyCryptogram cryptogram{};
  std::array<char, 9> kcv{};
};

// ---------------------------------------------------------------------------
// Masking

TEST(MaskNonPrintable, OnlyPrintableAsciiPassesUnchanged) {
  std::array<std::uint8_t, 256> bytes{};
  for (int b = 0; b < 256; ++b) bytes[b] = static_cast<std::uint8_t>(b);
  MaskNonPrintable(bytes.data(), 256);
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(bytes[b], b >= 0x20 && b <= 0x7E ? b : 0xAA);
  }
  std::array<std::uint8_t, 2> untouched{0x0D, 0x0A};
  MaskNonPrintable(untouched.data(), 0);
  MaskNonPrintable(untouched.data(), -5);
  EXPECT_EQ(untouched, (std::array<std::uint8_t, 2>{0x0D, 0x0A}));
}

// ---------------------------------------------------------------------------
// MACALL

TEST(MacAll, FiguresAndMacForEachCutting) {
  struct Case {
    std::size_t size;
    Strings calls;       // MacCalls edit, in order
    Strings byteCount;   // ByteCount edit, in order
    std::string blocks;  // status panel 1 at the end
    int progressMax;
  };
  const Case cases[] = {
      {1300, {"3", "2*512+276"}, {"-?-", "1300"}, "Blocks: 2*512+276", 3},
      {1024, {"2", "1*512+512"}, {"-?-", "1024"}, "Blocks: 1*512+512", 2},
      {513, {"2", "1*512+1"}, {"-?-", "513"}, "Blocks: 1*512+1", 2},
      {512, {"1", "0*512+512"}, {"-?-", "512"}, "Blocks: 0*512+512", 1},
      {300, {"1", "0*512+300"}, {"-?-", "300"}, "Blocks: 0*512+300", 1},
  };
  InstalledKey key;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::string bytes = RangeFile(c.size - 115);
    ASSERT_EQ(bytes.size(), c.size);
    const TempFile file(bytes);
    RecordingSurface surface;
    ASSERT_EQ(RunVariant(surface, file.str(), MacVariant::All, key.keys(key.kcv.data())), 1);
    EXPECT_EQ(surface.history(Edit::CalcMac1BNum), c.calls);
    EXPECT_EQ(surface.history(Edit::CalcMac1FSize), c.byteCount);
    EXPECT_EQ(surface.history(Edit::CalcMac1BSize), Strings{"512"});
    EXPECT_EQ(surface.statuses[0], Strings{"FileSize: " + std::to_string(c.size)});
    EXPECT_EQ(surface.statuses[1].front(), "Blocks: " + c.calls.front());
    EXPECT_EQ(surface.status(1), c.blocks);
    EXPECT_EQ(surface.progressMax(), c.progressMax);
    EXPECT_EQ(surface.progressPosition(), c.progressMax);
    EXPECT_EQ(surface.editText(Edit::CalcMacAll), OpenSslMac(kKey, Masked(bytes)));
  }
}

// The stage that opens the message shows in the failure a wrong KCV causes.
TEST(MacAll, StageFailuresStopBeforeTheMac) {
  InstalledKey key;
  struct Case {
    std::size_t size;
    std::string_view status2;
  };
  const Case cases[] = {
      {1300, "MACAll: GenerateMAC FIRST error: Wrong check value for key dorvmac"},
      {400, "MACAll: GenerateMAC SINGLE error: Wrong check value for key dorvmac"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const TempFile file(RangeFile(c.size - 115));
    RecordingSurface surface;
    surface.presetResults();
    EXPECT_EQ(RunVariant(surface, file.str(), MacVariant::All, key.keys("00000000")), 0);
    EXPECT_EQ(surface.status(2), c.status2);
    EXPECT_EQ(surface.editText(Edit::CalcMacAll), kUntouched);
  }
  RecordingSurface surface;
  EXPECT_EQ(RunVariant(surface, "/nonexistent/batch.dat", MacVariant::All, key.keys(key.kcv.data())), 0);
  EXPECT_EQ(surface.status(1), "MACAll: FileOpen error");
}

// ---------------------------------------------------------------------------
// MACNHD and MACNSP

TEST(TrimmedVariants, CuttingOfTheRange) {
  struct Case {
    std::size_t range;
    std::size_t lineEnds;
    std::string blocks;    // MACNHD's MacCalls at the end
    std::string nspCalls;  // MACNSP's MacCalls at the end
    std::string_view firstMode;
  };
  const Case cases[] = {
      {512, 0, "1", "1", "4"},    {513, 0, "2", "2", "1"},  {1535, 0, "3", "2", "1"},
      {1536, 0, "3", "3", "1"},   {2047, 0, "4", "3", "1"}, {2048, 0, "4", "4", "1"},
      {600, 100, "2", "2", "1"},  {5, 0, "1", "1", "4"},
  };
  InstalledKey key;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const std::string bytes = RangeFile(c.range, c.lineEnds);
    const std::string range = bytes.substr(60, c.range);
    const TempFile file(bytes);
    RecordingSurface surface;
    ASSERT_EQ(RunVariant(surface, file.str(), MacVariant::Nhd, key.keys(key.kcv.data()), 60, 55), 1);
    ASSERT_EQ(RunVariant(surface, file.str(), MacVariant::Nsp, key.keys(key.kcv.data()), 60, 55), 1);
    const std::string nhd = Without(range, "\r\n\t");
    const std::string nsp = Without(range, "\r\n\t ");
    EXPECT_EQ(surface.history(Edit::CalcMac2BNum), (Strings{c.blocks, c.blocks}));
    EXPECT_EQ(surface.history(Edit::CalcMac3BNum), (Strings{c.blocks, c.nspCalls}));
    EXPECT_EQ(surface.editText(Edit::CalcMac2FSize), std::to_string(nhd.size()));
    EXPECT_EQ(surface.editText(Edit::CalcMac3FSize), std::to_string(nsp.size()));
    EXPECT_EQ(surface.editText(Edit::CalcMac2BSize), "512");
    EXPECT_EQ(surface.editText(Edit::CalcMacNHD), OpenSslMac(kKey, Masked(nhd)));
    EXPECT_EQ(surface.editText(Edit::CalcMacNSP), OpenSslMac(kKey, Masked(nsp)));
    EXPECT_EQ(surface.statuses[1], (Strings{"Blocks: " + c.blocks, "Blocks: " + c.blocks}));
    EXPECT_EQ(surface.progressMax(), std::stoi(c.blocks));
    EXPECT_EQ(surface.progressPosition(), std::stoi(c.nspCalls));
    EXPECT_TRUE(surface.statuses[0].empty());

    RecordingSurface failing;
    failing.presetResults();
    EXPECT_EQ(RunVariant(failing, file.str(), MacVariant::Nhd, key.keys("00000000"), 60, 55), 0);
    EXPECT_EQ(failing.status(2), "MACNHD: GenerateMAC error MODE: " + std::string(c.firstMode) + " Error : 1");
    EXPECT_EQ(failing.editText(Edit::CalcMacNHD), kUntouched);
  }
}

// A range of 0 bytes or less is one SINGLE call with no data.
TEST(TrimmedVariants, EmptyRangeGivesTheZeroMac) {
  InstalledKey key;
  const std::string bytes = RangeFile(40);
  const TempFile file(bytes);
  for (const std::int64_t header : {std::int64_t{100}, static_cast<std::int64_t>(bytes.size()), std::int64_t{1} << 40}) {
    SCOPED_TRACE(header);
    RecordingSurface surface;
    ASSERT_EQ(RunVariant(surface, file.str(), MacVariant::Nhd, key.keys(key.kcv.data()), header, 55), 1);
    ASSERT_EQ(RunVariant(surface, file.str(), MacVariant::Nsp, key.keys(key.kcv.data()), header, 55), 1);
    EXPECT_EQ(surface.editText(Edit::CalcMacNHD), "00000000");
    EXPECT_EQ(surface.editText(Edit::CalcMacNSP), "00000000");
    EXPECT_EQ(surface.editText(Edit::CalcMac2FSize), "0");
    EXPECT_EQ(surface.editText(Edit::CalcMac3FSize), "0");
    EXPECT_EQ(surface.editText(Edit::CalcMac2BNum), "0");
    EXPECT_EQ(surface.editText(Edit::CalcMac3BNum), "1");
  }
  RecordingSurface surface;
  EXPECT_EQ(RunVariant(surface, "", MacVariant::Nsp, key.keys(key.kcv.data()), 60, 55), 0);
  EXPECT_EQ(surface.status(1), "MACNSP: FileOpen error");
}

// ---------------------------------------------------------------------------
// The driver

TEST(CheckFileMac, SamplesUnderTheirKeys) {
  struct Case {
    const char* file;
    std::string_view key, kcv, declared, all, nhd, nsp;
    TextColour allColour, nhdColour, nspColour;
  };
  const auto R = TextColour::Red, G = TextColour::Green;
  const Case cases[] = {
      {"batch-nsp.dat", kKey, "B690D735", "4F47F843", "022E4A9E", "46B45CB2", "4F47F843", R, R, G},
      {"batch-nhd.dat", "1C587F1C13924FEF", "0D40BFF8", "7AAE5FFA", "FAC76B4A", "7AAE5FFA", "480F0E01", R, G, R},
      {"batch-bad-prefix.dat", kKey, "B690D735", "35E0E8D5", "41667628", "1D49E5C4", "35E0E8D5", R, R, G},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto path = test::SamplePath(c.file);
    const std::string before = test::ReadFileBytes(path);
    for (int run = 0; run < 2; ++run) {  // a new KeyCryptogram each time, the same MACs
      RecordingSurface surface;
      std::string kcvCopy = "(00000000)";
      EXPECT_EQ(CheckFileMac(surface, path.string(), std::span<char>(kcvCopy), c.key), 1);
      EXPECT_EQ(kcvCopy, std::string(c.kcv) + "0)");  // the first 8 characters overwritten
      EXPECT_EQ(surface.editText(Edit::INFileMacMeth), "1");
      EXPECT_EQ(surface.editText(Edit::INFileMacVer), "01");
      EXPECT_EQ(surface.editText(Edit::INFileKcv), c.kcv);
      EXPECT_EQ(surface.editText(Edit::INFileMac), c.declared);
      EXPECT_EQ(surface.editText(Edit::CalcMacAll), c.all);
      EXPECT_EQ(surface.editText(Edit::CalcMacNHD), c.nhd);
      EXPECT_EQ(surface.editText(Edit::CalcMacNSP), c.nsp);
      EXPECT_EQ(surface.editColour(Edit::CalcMacAll), c.allColour);
      EXPECT_EQ(surface.editColour(Edit::CalcMacNHD), c.nhdColour);
      EXPECT_EQ(surface.editColour(Edit::CalcMacNSP), c.nspColour);
    }
    EXPECT_EQ(test::ReadFileBytes(path), before);
  }
}

TEST(CheckFileMac, GeneratedBatchMatchesOpenSsl) {
  BatchFile batch = MakeBatch(40, "00000000");
  const ExpectedMacs expected = ReferenceMacs(kKey, batch.bytes, batch.headerLength, batch.trailerLength);
  // declare the MACNSP result; the trailer lies outside the range, so the
  // trimmed MACs stay as they are
  batch.bytes.replace(batch.bytes.size() - batch.trailerLength + 47, 8, expected.nsp);
  const TempFile file(batch.bytes);
  RecordingSurface surface;
  ASSERT_EQ(RunCheck(surface, file.str()), 1);
  EXPECT_EQ(surface.editText(Edit::CalcMacAll), OpenSslMac(kKey, Masked(batch.bytes)));
  EXPECT_EQ(surface.editText(Edit::CalcMacNHD), expected.nhd);
  EXPECT_EQ(surface.editText(Edit::CalcMacNSP), expected.nsp);
  EXPECT_EQ(surface.editColour(Edit::CalcMacAll), TextColour::Red);
  EXPECT_EQ(surface.editColour(Edit::CalcMacNHD), TextColour::Red);
  EXPECT_EQ(surface.editColour(Edit::CalcMacNSP), TextColour::Green);
}

TEST(CheckFileMac, StopsBeforeTheVariants) {
  struct Case {
    const char* name;
    std::string key;
    std::string path;
    std::string_view status1, status2;
  };
  const TempFile good(MakeBatch(2, "00000000").bytes);
  const TempFile noFileHeader(MacHeader() + "\r\n" + Record("1240F234") + Record(FileHeaderMessage()));
  const Case cases[] = {
      {"15-digit key", "A4F1C07B3E9D265", good.str(), "Create KCV error ", ""},
      {"17-digit key", "A4F1C07B3E9D26580", good.str(), "Create KCV error ", ""},
      {"empty key", "", good.str(), "Create KCV error ", ""},
      // not hex: refused like a wrong length, not read as some other key
      {"letter O for zero", "A4F1C07B3E9D265O", good.str(), "Create KCV error ", ""},
      {"blank inside", "A4F1C07B 3E9D265", good.str(), "Create KCV error ", ""},
      {"byte above ASCII", "A4F1C07B3E9D265\xC6", good.str(), "Create KCV error ", ""},
      {"32 digits, the second half not hex", "A4F1C07B3E9D2658GHIJKLMNOPQRSTUV", good.str(), "Create KCV error ", ""},
      {"32-digit key", "A4F1C07B3E9D26581C587F1C13924FEF", good.str(), "InstallKey error: 1", ""},
      {"empty path", std::string(kKey), "", "MAC Records error", "DORV open error"},
      {"no file header", std::string(kKey), noFileHeader.str(), "MAC Records error", "File Header not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSurface surface;
    surface.presetResults();
    EXPECT_EQ(RunCheck(surface, c.path, c.key), 0);
    EXPECT_EQ(surface.statuses[1], Strings{std::string(c.status1)});
    EXPECT_EQ(surface.status(2), c.status2);
    EXPECT_EQ(surface.statuses[0].size(), 0u);
    EXPECT_TRUE(surface.edits.empty());
    EXPECT_EQ(surface.editColour(Edit::CalcMacNSP), TextColour::Black);
  }
}

// Without a trailer every result is red against the empty declared MAC and
// the trimmed variants run to the end of the file; a trailer cut short
// leaves a range of 0 bytes or less.
TEST(CheckFileMac, MissingAndShortTrailer) {
  {
    const std::string bytes = MacHeader() + "\r\n" + Record(FileHeaderMessage()) + BatchMessages(3);
    const ExpectedMacs expected = ReferenceMacs(kKey, bytes, 62, 0);
    const TempFile file(bytes);
    RecordingSurface surface;
    ASSERT_EQ(RunCheck(surface, file.str()), 1);
    EXPECT_EQ(surface.statuses[2], Strings{"MAC Trailer not found"});
    EXPECT_EQ(surface.editText(Edit::INFileMac), "");
    EXPECT_EQ(surface.editText(Edit::CalcMacAll), expected.all);
    EXPECT_EQ(surface.editText(Edit::CalcMacNHD), expected.nhd);
    EXPECT_EQ(surface.editText(Edit::CalcMacNSP), expected.nsp);
    for (const Edit e : {Edit::CalcMacAll, Edit::CalcMacNHD, Edit::CalcMacNSP}) {
      EXPECT_EQ(surface.editColour(e), TextColour::Red);
    }
  }
  {
    const TempFile file(MacHeader() + "1644" + Trailer("").substr(0, 40));
    RecordingSurface surface;
    ASSERT_EQ(RunCheck(surface, file.str()), 1);
    EXPECT_EQ(surface.editText(Edit::CalcMacNHD), "00000000");
    EXPECT_EQ(surface.editText(Edit::CalcMacNSP), "00000000");
    EXPECT_EQ(surface.editText(Edit::CalcMac2FSize), "0");
    EXPECT_EQ(surface.editText(Edit::INFileMac), "");
  }
}

// The key material lives in the caller's storage while the check runs and is
// zero once it returns, on a finished run and on a stopped one.
TEST(CheckFileMac, KeyMaterialIsWipedWhenTheRunEnds) {
  const auto allZero = [](const auto& object) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&object);
    return std::all_of(bytes, bytes + sizeof object, [](unsigned char b) { return b == 0; });
  };
  const TempFile file(MakeBatch(3, "00000000").bytes);
  for (const std::string_view key : {kKey, std::string_view("A4F1C07B3E9D265")}) {
    SCOPED_TRACE(key);
    MacCheckSecrets secrets;
    std::memset(static_cast<void*>(&secrets), 0x5A, sizeof secrets);
    bool liveDuringRun = false;
    RecordingSurface surface;
    surface.onEdit = [&](Edit edit) {
      // MACALL's figures go up as the variants' read starts
      if (edit == Edit::CalcMac1BSize) liveDuringRun = !allZero(secrets.keyStore) && !allZero(secrets.keyCryptogram);
    };
    std::string kcv = "(00000000)";
    const int result = CheckFileMac(surface, file.str(), std::span<char>(kcv), key, secrets);
    EXPECT_EQ(liveDuringRun, result == 1);
    EXPECT_TRUE(allZero(secrets));
  }
}

// While a clear key is held the process makes no core dump; afterwards it
// is as it was, however the holders of keys overlap.
TEST(NoCoreDumps, OffWhileAnyKeyIsHeld) {
  const int dumpableBefore = ::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0);
  rlimit before{};
  ASSERT_EQ(::getrlimit(RLIMIT_CORE, &before), 0);
  const auto coreLimit = [] {
    rlimit now{};
    ::getrlimit(RLIMIT_CORE, &now);
    return now.rlim_cur;
  };
  {
    auto first = std::make_unique<NoCoreDumps>();
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    EXPECT_EQ(coreLimit(), 0u);
    auto second = std::make_unique<NoCoreDumps>();
    first.reset();  // the first holder ends while the second still holds its key
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
    EXPECT_EQ(coreLimit(), 0u);
  }
  EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), dumpableBefore);
  EXPECT_EQ(coreLimit(), before.rlim_cur);
}

// ---------------------------------------------------------------------------
// One read of the file for the three variants

// The window state the variants leave: their edits, the status panels and
// the progress bar.
std::string VariantState(const HeadlessSurface& surface) {
  std::string state;
  for (int edit = static_cast<int>(Edit::CalcMac1BSize); edit < kEditCount; ++edit) {
    state += std::string(kEditNames[edit]) + "=" + surface.editText(static_cast<Edit>(edit)) + "\n";
  }
  for (int panel = 0; panel < 3; ++panel) state += "panel" + std::to_string(panel) + "=" + surface.status(panel) + "\n";
  state += "progress=" + std::to_string(surface.progressMin()) + ".." + std::to_string(surface.progressMax()) + "@" +
           std::to_string(surface.progressPosition());
  return state;
}

// The line ends of a generated file (CR LF) changed to another style.
std::string WithLineEnds(const std::string& bytes, std::string_view style) {
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
      out += style;
      ++i;
    } else if (style == "\t" && bytes[i] == ' ' && i % 7 == 0) {
      out += '\t';  // TABs among the padding too
    } else {
      out += bytes[i];
    }
  }
  return out;
}

TEST(OneRead, EqualsTheThreeSeparateVariants) {
  const std::string generated = filegen::GenerateFileBytes({.size = 900'000, .seed = 11, .mac = "4F47F843"});
  struct Case {
    std::string name;
    std::string bytes;
  };
  std::vector<Case> cases;
  for (const auto& [name, style] : {std::pair{"CR LF", "\r\n"}, {"LF", "\n"}, {"CR", "\r"}, {"none", ""},
                                    {"LF CR", "\n\r"}, {"TAB", "\t"}}) {
    cases.push_back({std::string("generated, line ends ") + name, WithLineEnds(generated, style)});
  }
  for (const std::size_t range : {0, 1, 511, 512, 513, 1023, 1024, 1535, 1536, 1537, 300'000}) {
    cases.push_back({"range of " + std::to_string(range), RangeFile(std::max<std::size_t>(range, 4), 100)});
  }
  cases.push_back({"no trailer", MacHeader() + "\r\n" + Record(FileHeaderMessage()) + BatchMessages(900)});
  cases.push_back({"long separator", MacHeader() + std::string(700'000, ' ') + Record(FileHeaderMessage()) +
                                         BatchMessages(5) + Record(Trailer("00000000"))});
  cases.push_back({"trailer's 51 bytes cut short", MacHeader() + Record(FileHeaderMessage()) + "1844" +
                                                       std::string(40, '0') + "971"});
  const InstalledKey key;
  for (const Case& c : cases) {
    const TempFile file(c.bytes);
    MacRecords records;
    RecordingSurface lookup;
    ASSERT_TRUE(FindMacRecords(lookup, file.str(), records)) << c.name;
    // a wrong check value stops every variant at its first call
    for (const std::string_view kcv : {std::string_view(key.kcv.data(), 8), std::string_view("00000000")}) {
      SCOPED_TRACE(c.name + ", check value " + std::string(kcv));
      RecordingSurface separate;
      const MacKeys keys{key.store, key.cryptogram, kcv};
      std::array<int, 3> separateResults{};
      std::size_t at = 0;
      for (const MacVariant variant : {MacVariant::All, MacVariant::Nhd, MacVariant::Nsp}) {
        MacRun run{};
        separateResults[at++] = ComputeMac(separate, file.str(), variant, keys, records, run);
      }
      RecordingSurface once;
      std::array<MacRun, 3> runs{};
      TransactionFile opened(file.str());
      FileMacResult result;
      ReadMacVariants(opened, keys, records.headerLength, records.trailerLength, runs, VariantDisplayHooks(once),
                      result);
      EXPECT_EQ(result.stop, MacCheckStop::Variants);
      EXPECT_EQ(ShowVariantResults(once, result), separateResults[2]);
      for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(result.variants[i].computed, separateResults[i] == 1) << kMacVariants[i].caption;
        EXPECT_EQ(result.variants[i].mac, separateResults[i] == 1 ? separate.editText(kMacVariants[i].result) : "");
      }
      EXPECT_EQ(VariantState(once), VariantState(separate));
    }
  }
  // and the whole check against OpenSSL, once per line-end style
  for (std::size_t i = 0; i < 6; ++i) {
    SCOPED_TRACE(cases[i].name);
    const TempFile file(cases[i].bytes);
    MacRecords records;
    RecordingSurface lookup;
    ASSERT_TRUE(FindMacRecords(lookup, file.str(), records));
    const ExpectedMacs expected = ReferenceMacs(kKey, cases[i].bytes, static_cast<std::size_t>(records.headerLength),
                                                static_cast<std::size_t>(records.trailerLength));
    RecordingSurface surface;
    ASSERT_EQ(RunCheck(surface, file.str()), 1);
    EXPECT_EQ(surface.editText(Edit::CalcMacAll), expected.all);
    EXPECT_EQ(surface.editText(Edit::CalcMacNHD), expected.nhd);
    EXPECT_EQ(surface.editText(Edit::CalcMacNSP), expected.nsp);
  }
}

// A window with an event loop: events and progress while the file is read,
// and a stop flag that a closing window sets.
class PumpedSurface : public RecordingSurface {
 public:
  bool hasEventLoop() const override { return true; }
  void processEvents() override {
    ++pumps;
    positions.push_back(progressPosition());
    if (onPump) onPump();
  }
  int pumps = 0;
  std::vector<int> positions;
  std::function<void()> onPump;
};

TEST(OneRead, TheWindowTakesEventsAndSeesProgressWhileTheFileIsRead) {
  const std::string bytes = filegen::GenerateFileBytes({.size = 3'000'000, .seed = 5});
  const TempFile file(bytes);
  PumpedSurface surface;
  int lookupPumps = -1;
  surface.onEdit = [&](Edit edit) {
    if (edit == Edit::CalcMac1BSize) lookupPumps = surface.pumps;
  };
  ASSERT_EQ(RunCheck(surface, file.str()), 1);
  // the lookup's read too, once a buffer
  EXPECT_GE(lookupPumps, static_cast<int>(bytes.size() / TransactionFile::kDefaultBufferSize));
  // at least once per 32 KiB of MACALL's chain, whichever thread is behind
  EXPECT_GE(surface.pumps - lookupPumps, static_cast<int>(bytes.size() / (32 * 1024)));
  std::vector<int> distinct = surface.positions;
  distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
  EXPECT_GE(distinct.size(), 10u);
  EXPECT_TRUE(std::is_sorted(surface.positions.begin(), surface.positions.end()));
  HeadlessSurface reference;
  ASSERT_EQ(RunCheck(reference, file.str()), 1);
  EXPECT_EQ(VariantState(surface), VariantState(reference));
}

// A stop while the lookup reads the file for its trailer, and one while the
// variants read it.
TEST(OneRead, AStopEndsTheCheckWithoutResultsAndWipesTheKey) {
  const TempFile file(filegen::GenerateFileBytes({.size = 3'000'000, .seed = 5}));
  for (const bool inVariants : {false, true}) {
    SCOPED_TRACE(inVariants ? "in the variants' read" : "in the lookup");
    std::atomic<bool> stop = false;
    PumpedSurface surface;
    surface.presetResults();
    int startedAt = -1;  // the pumps before the variants' read started
    surface.onEdit = [&](Edit edit) {
      if (edit == Edit::CalcMac1BSize) startedAt = surface.pumps;
    };
    surface.onPump = [&] {
      if (inVariants ? startedAt >= 0 && surface.pumps == startedAt + 3 : surface.pumps == 2) stop = true;
    };
    MacCheckSecrets secrets;
    std::string kcv = "(00000000)";
    MacCheckReport report;
    EXPECT_EQ(CheckFileMac(surface, file.str(), std::span<char>(kcv), kKey, secrets, report, &stop), 0);
    EXPECT_EQ(report.stop, MacCheckStop::Stopped);
    EXPECT_EQ(startedAt >= 0, inVariants);
    EXPECT_LT(surface.pumps, (inVariants ? startedAt : 0) + 20);  // it ended soon after
    for (const Edit e : {Edit::CalcMacAll, Edit::CalcMacNHD, Edit::CalcMacNSP}) {
      EXPECT_EQ(surface.editText(e), kUntouched);
      EXPECT_EQ(surface.editColour(e), TextColour::Black);
    }
    // the declared values go up as the variants' read starts
    EXPECT_EQ(surface.editText(Edit::INFileMac) != kUntouched, inVariants);
    const auto* raw = reinterpret_cast<const unsigned char*>(&secrets);
    EXPECT_TRUE(std::all_of(raw, raw + sizeof secrets, [](unsigned char b) { return b == 0; }));
  }
}

// ---------------------------------------------------------------------------
// The MAC command

TEST(MacCommand, ReportsOnPanelTwo) {
  const TempFile file(MakeBatch(2, "00000000").bytes);
  {
    RecordingSurface surface;
    EXPECT_EQ(MacCommand(surface, file.str(), "(B690D735)", kKey), 1);
    EXPECT_EQ(surface.statuses[2], (Strings{"Processing MAC", "MAC processed"}));
    EXPECT_GE(surface.repaintCount(), 1);
    EXPECT_EQ(surface.editText(Edit::CalcMacAll).size(), 8u);
  }
  {
    RecordingSurface surface;
    EXPECT_EQ(MacCommand(surface, "", "", kKey), 0);  // an empty check-value text gets room too
    EXPECT_EQ(surface.statuses[2], (Strings{"Processing MAC", "DORV open error"}));
    EXPECT_EQ(surface.status(1), "MAC Records error");
  }
}

}  // namespace
}  // namespace kalvrin
