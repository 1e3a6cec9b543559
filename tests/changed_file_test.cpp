// Files that change while they are read: cut short, extended or replaced by
// another file renamed over the path, from the first progress call on. The
// message reader, verify, the format check and the MAC check each end with
// the one error and never read for ever; a file left alone reads as before.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>

#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "iso/iso_texts.h"
#include "mac/file_mac_texts.h"
#include "mac/mac_command.h"
#include "support/test_files.h"
#include "testgen/filegen.h"
#include "verify/message_reader.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

using test::TempFile;

enum class Change { None, Truncate, Extend, Replace };

const char* NameOf(Change change) {
  switch (change) {
    case Change::None: return "none";
    case Change::Truncate: return "truncate";
    case Change::Extend: return "extend";
    case Change::Replace: return "replace";
  }
  return "";
}

constexpr Change kChanges[] = {Change::Truncate, Change::Extend, Change::Replace};

// A generated file large enough for many progress calls.
std::string Bytes() { return filegen::GenerateFileBytes({.size = 2u << 20, .seed = 12}); }

// Does to the file what another process might while it is read.
void Apply(Change change, const std::filesystem::path& path, const std::string& bytes) {
  switch (change) {
    case Change::None: return;
    case Change::Truncate:
      ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(bytes.size() / 3)), 0);
      return;
    case Change::Extend:
      std::ofstream(path, std::ios::binary | std::ios::app) << bytes.substr(0, bytes.size() / 2);
      return;
    case Change::Replace: {
      const std::filesystem::path other = path.string() + ".new";
      std::ofstream(other, std::ios::binary) << filegen::GenerateFileBytes({.size = 1u << 20, .seed = 99});
      std::filesystem::rename(other, path);
      return;
    }
  }
}

// A progress callback that changes the file on its first call.
struct Hook {
  Change change;
  const TempFile& file;
  const std::string& bytes;
  int calls = 0;
  bool operator()(std::int64_t, std::int64_t) {
    if (calls++ == 0) Apply(change, file.path(), bytes);
    return true;
  }
};

class NoVisitor final : public verify::MessageVisitor {
 public:
  void OnStart(const verify::FileStart&) override {}
  void OnMessage(const verify::ReadMessage&) override { ++messages; }
  void OnStrayText(const verify::StrayText&) override {}
  std::int64_t messages = 0;
};

TEST(ChangedFile, TheMessageReaderEndsWithChanged) {
  const std::string bytes = Bytes();
  for (const Change change : {Change::None, Change::Truncate, Change::Extend, Change::Replace}) {
    SCOPED_TRACE(NameOf(change));
    const TempFile file(bytes);
    verify::MessageFileReader reader(file.str());
    NoVisitor visitor;
    Hook hook{change, file, bytes};
    const verify::ReadEnd end = reader.Read(visitor, std::ref(hook));
    EXPECT_EQ(end, change == Change::None ? verify::ReadEnd::EndOfFile : verify::ReadEnd::Changed);
    EXPECT_EQ(reader.Changed(), change != Change::None);
    if (change == Change::None) {
      EXPECT_EQ(visitor.messages, static_cast<std::int64_t>(bytes.size() / filegen::kRecordLength));
    }
  }
}

// New bytes under the old size and modification time: the messages the scan
// saw are gone when they are decoded, and the reader says so instead of
// reading on.
TEST(ChangedFile, TheMessageReaderNoticesMessagesThatAreGone) {
  const std::string bytes = Bytes();
  const TempFile file(bytes);
  struct stat before {};
  ASSERT_EQ(::stat(file.str().c_str(), &before), 0);
  verify::MessageFileReader reader(file.str());
  NoVisitor visitor;
  int calls = 0;
  const verify::ReadEnd end = reader.Read(visitor, [&](std::int64_t, std::int64_t) {
    if (calls++ == 0) {
      std::fstream out(file.path(), std::ios::binary | std::ios::in | std::ios::out);
      out.seekp(100000);
      out << std::string(100000, '.');
      out.close();
      const timespec times[2] = {before.st_atim, before.st_mtim};
      EXPECT_EQ(::utimensat(AT_FDCWD, file.str().c_str(), times, 0), 0);
    }
    return true;
  });
  EXPECT_EQ(end, verify::ReadEnd::Changed);
  EXPECT_FALSE(reader.Changed());  // its identity is as it was
  EXPECT_LT(visitor.messages, 200000 / static_cast<std::int64_t>(filegen::kRecordLength));
}

class NoFindings final : public verify::FindingSink {
 public:
  void OnFinding(const verify::Finding&) override {}
};

TEST(ChangedFile, VerifyEndsWithOneErrorAndChecksNoMore) {
  const std::string bytes = Bytes();
  for (const Change change : kChanges) {
    SCOPED_TRACE(NameOf(change));
    const TempFile file(bytes);
    Hook hook{change, file, bytes};
    verify::VerifyOptions options;
    options.key = filegen::kDefaultKey;
    options.progress = std::ref(hook);
    NoFindings sink;
    const verify::VerifySummary summary = verify::VerifyFile(file.str(), options, sink);
    EXPECT_FALSE(summary.read);
    EXPECT_EQ(summary.error, "the file changed while it was read");
    EXPECT_FALSE(summary.mac.checked);
  }
}

// The MAC's own read, after the messages were read in full.
TEST(ChangedFile, VerifyEndsWithOneErrorWhenTheFileChangesUnderItsMac) {
  const std::string bytes = Bytes();
  for (const Change change : kChanges) {
    SCOPED_TRACE(NameOf(change));
    const TempFile file(bytes);
    Hook hook{change, file, bytes};
    verify::VerifyOptions options;
    options.key = filegen::kDefaultKey;
    options.macProgress = std::ref(hook);
    NoFindings sink;
    const verify::VerifySummary summary = verify::VerifyFile(file.str(), options, sink);
    EXPECT_GT(hook.calls, 0);
    EXPECT_FALSE(summary.read);
    EXPECT_EQ(summary.error, "the file changed while it was read");
    EXPECT_FALSE(summary.mac.checked);
  }
}

// Calls `onFirstProgress` when the format check first moves the bar.
class HookedSurface final : public HeadlessSurface {
 public:
  std::function<void()> onFirstProgress;
  void setProgressPosition(int value) override {
    if (onFirstProgress) std::exchange(onFirstProgress, nullptr)();
    HeadlessSurface::setProgressPosition(value);
  }
};

TEST(ChangedFile, TheFormatCheckEndsWithOneErrorNotFormatProcessed) {
  const std::string bytes = Bytes();
  for (const Change change : {Change::None, Change::Truncate, Change::Extend, Change::Replace}) {
    SCOPED_TRACE(NameOf(change));
    const TempFile file(bytes);
    HookedSurface surface;
    FormatCheck check(surface);
    StartUpState(check, surface);
    surface.onFirstProgress = [&] { Apply(change, file.path(), bytes); };
    IsoOutcome outcome;
    const int result = IsoCommand(check, surface, file.str(), outcome);
    if (change == Change::None) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(outcome.reason, IsoReason::Processed);
      EXPECT_EQ(surface.status(kCommandPanel), iso_text::kFormatProcessed);
      continue;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(outcome.outcome, Outcome::CannotRun);
    EXPECT_EQ(outcome.reason, IsoReason::FileChanged);
    EXPECT_EQ(surface.status(kCommandPanel), iso_text::kFileChanged);
    EXPECT_TRUE(check.FileChanged());
  }
}

// The MAC command that the window and kalvrin-check share: the MAC check
// moves the bar first when the variants' read starts, after the envelope's
// lookup read the file once. A changed file shows no MAC: a shorter file's
// MACALL would otherwise end "file not read to EOF", a longer one's cover
// only its first bytes, another file's be taken for this one's.
TEST(ChangedFile, TheMacCommandEndsWithOneErrorAndShowsNoMac) {
  const std::string bytes = Bytes();
  for (const Change change : {Change::None, Change::Truncate, Change::Extend, Change::Replace}) {
    SCOPED_TRACE(NameOf(change));
    const TempFile file(bytes);
    HookedSurface surface;
    surface.onFirstProgress = [&] { Apply(change, file.path(), bytes); };
    MacOutcome outcome;
    const int result = MacCommand(surface, file.str(), KcvEditText(kDefaultKey), filegen::kDefaultKey, outcome);
    if (change == Change::None) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(outcome.reason, MacReason::Matched);
      EXPECT_EQ(surface.status(kCommandPanel), mac_texts::kMacProcessed);
      continue;
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(outcome.outcome, Outcome::CannotRun);
    EXPECT_EQ(outcome.reason, MacReason::FileChanged);
    EXPECT_EQ(surface.status(kCommandPanel), "the file changed while it was read");
    for (const Edit edit : kMacResultEdits) EXPECT_EQ(surface.editText(edit), "") << static_cast<int>(edit);
  }
}

// The same change during the envelope's lookup, which reads the file for
// its trailer before the variants start.
TEST(ChangedFile, TheMacCheckNoticesAChangeDuringItsLookup) {
  const std::string bytes = Bytes();
  for (const Change change : kChanges) {
    SCOPED_TRACE(NameOf(change));
    const TempFile file(bytes);
    Hook hook{change, file, bytes};
    MacReadHooks hooks;
    hooks.lookingUp = std::ref(hook);
    bool variantsStarted = false;
    hooks.started = [&](const FileMacResult&) { variantsStarted = true; };
    MacCheckSecrets secrets;
    const FileMacResult result = ComputeFileMac(file.str(), filegen::kDefaultKey, secrets, hooks);
    EXPECT_GT(hook.calls, 0);
    EXPECT_EQ(result.stop, MacCheckStop::FileChanged);
    EXPECT_EQ(result.failure, "the file changed while it was read");
    EXPECT_FALSE(variantsStarted);
    for (const MacVariantResult& variant : result.variants) EXPECT_FALSE(variant.computed);
  }
}

}  // namespace
}  // namespace kalvrin
