// Bad input of every kind, through the commands as the window runs them and
// through the kalvrin-check program, and the promises that hold whatever the
// input: the transaction file is never changed, no key outlives a MAC run,
// and every failure shows one clear text.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "testgen/filegen.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "iso/message_decoder.h"
#include "mac/file_mac.h"
#include "mac/key_install.h"
#include "mac/mac_command.h"
#include "mac/mac_core.h"
#include "support/reference_mac.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::OpenSslMac;
using test::Masked;

namespace fs = std::filesystem;
using filegen::BuildMessage;
using filegen::BuildRawMessage;
using test::ReadFileBytes;
using test::SamplePath;
using test::TempFile;

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kStartUpKcvText = "(B690D735)";
constexpr std::int64_t kGiB = std::int64_t{1} << 30;

// ---------------------------------------------------------------------------
// The window, in-process

// A surface on which a test can act in the middle of a command.
class HookedSurface : public HeadlessSurface {
 public:
  void setEditText(Edit edit, std::string_view text) override {
    HeadlessSurface::setEditText(edit, text);
    if (onEdit) onEdit(edit);
  }
  void setStatus(int panel, std::string_view text) override {
    HeadlessSurface::setStatus(panel, text);
    if (onStatus) onStatus(panel);
  }
  std::function<void(Edit)> onEdit;
  std::function<void(int)> onStatus;
};

// The window right after start-up, on which one button is pressed.
struct Window {
  HookedSurface surface;
  FormatCheck check{surface};
  Window() { StartUpState(check, surface); }

  int Iso(const std::string& path) { return IsoCommand(check, surface, path); }
  int Mac(const std::string& path, std::string_view key = kKey) {
    return MacCommand(surface, path, kStartUpKcvText, key);
  }
  std::array<std::string, 3> Status() const { return {surface.status(0), surface.status(1), surface.status(2)}; }
  int DataRows() const { return surface.gridRowCount() - 1; }
  // A cell found by its column title, as a user reads the grid.
  std::string Cell(int row, std::string_view title) const {
    const std::vector<std::string> titles = surface.row(0);
    for (std::size_t col = 0; col < titles.size(); ++col) {
      if (titles[col] == title) return surface.cell(static_cast<int>(col), row);
    }
    ADD_FAILURE() << "no column " << title;
    return {};
  }
};

// ---------------------------------------------------------------------------
// The kalvrin-check program

struct Ran {
  bool exited = false;  // false: ended by a signal (a crash, or killed as hung)
  int exitCode = -1;
  std::string err;
};

// Runs kalvrin-check with its standard output discarded; as `user` when
// given. A run that outlives `limit` seconds is killed as hung.
Ran RunCheck(std::vector<std::string> args, std::optional<uid_t> user = std::nullopt, unsigned limit = 300) {
  const TempFile errFile("", "stderr.txt");
  args.insert(args.begin(), test::kCheckProgram);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int errFd = ::open(errFile.str().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  const int nullFd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(nullFd, 1);
    ::dup2(errFd, 2);
    if (user && (::setgroups(0, nullptr) != 0 || ::setgid(*user) != 0 || ::setuid(*user) != 0)) ::_exit(126);
    ::alarm(limit);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(errFd);
  ::close(nullFd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  Ran ran;
  ran.exited = WIFEXITED(status);
  ran.exitCode = ran.exited ? WEXITSTATUS(status) : -1;
  ran.err = ReadFileBytes(errFile.path());
  return ran;
}

// Exit status 2 and exactly one line on standard error.
void ExpectCannotRun(const Ran& ran, const std::string& line) {
  ASSERT_TRUE(ran.exited) << "kalvrin-check was killed; stderr: " << ran.err;
  EXPECT_EQ(ran.exitCode, 2);
  EXPECT_EQ(ran.err, "kalvrin-check: " + line + "\n");
}

// ---------------------------------------------------------------------------
// Files

// A file of `size` bytes, zero except for the given pieces; the zeros are
// holes, so even gibibytes take no room on the disk.
void WriteSparse(const fs::path& path, std::int64_t size, const std::vector<std::pair<std::int64_t, std::string>>& pieces) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
  for (const auto& [offset, bytes] : pieces) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
              static_cast<ssize_t>(bytes.size()));
  }
  ::close(fd);
}

// 60 bytes declaring method 1, version 01 and the default key's KCV.
std::string MacHeader() {
  std::string header(60, ' ');
  header.replace(0, 7, "DORVMAC");
  header.replace(41, 11, "101B690D735");
  return header;
}

// The trailer message's first 55 bytes, declaring `mac`.
std::string Trailer(std::string_view mac) {
  return "1844" + filegen::EncodeBitmaps({{24, ""}, {128, ""}}) + "971" + "00000001" + std::string(mac);
}

std::string FileHeaderMessage() { return BuildMessage("1644", {{24, "692"}}); }

// The sample with a NUL after each of its bytes.
std::string WithNulsEverywhere(const std::string& bytes) {
  std::string spread;
  for (const char c : bytes) {
    spread += c;
    spread += '\0';
  }
  return spread;
}

// The bytes MACNSP feeds the MAC: no CR, LF, TAB or space, the rest masked.
std::string NspBytes(std::string range) {
  std::erase_if(range, [](char c) { return c == '\r' || c == '\n' || c == '\t' || c == ' '; });
  return Masked(range);
}

// ---------------------------------------------------------------------------
// Bad files: each gives one clear text, on the window and from kalvrin-check

TEST(BadInput, EachFileGivesOneClearText) {
  const TempFile empty("");
  const fs::path folder = empty.path().parent_path();
  const std::string sample = ReadFileBytes(SamplePath("batch-nsp.dat"));
  const TempFile nuls(WithNulsEverywhere(sample));
  struct Case {
    const char* name;
    std::string path;
    int isoResult;
    std::string isoPanel1;  // "Cannot open file", or the size when the check ran
    std::string macPanel2;  // the envelope lookup's message
    std::string reason;     // what the system says, on standard error only
  };
  const Case cases[] = {
      {"a folder", folder.string(), 0, "Cannot open file", "DORV open error", ": Is a directory"},
      {"a missing file", (folder / "missing.dat").string(), 0, "Cannot open file", "DORV open error",
       ": No such file or directory"},
      {"a file of 0 bytes", empty.str(), 1, "0", "MAC Header read error", ""},
      // a regular file that opens but whose every read fails
      {"a file that cannot be read", "/proc/self/mem", 0, "Cannot open file", "MAC Header read error",
       ": Input/output error"},
      // the lookup takes the four bytes after the first digit as they stand
      {"NUL bytes everywhere", nuls.str(), 1, std::to_string(2 * sample.size()), "File Header not found", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Window iso;
    EXPECT_EQ(iso.Iso(c.path), c.isoResult);
    EXPECT_EQ(iso.surface.status(1), c.isoPanel1);
    EXPECT_EQ(iso.surface.status(2), c.isoResult != 0 ? "Format processed" : "Processing format");

    Window mac;
    EXPECT_EQ(mac.Mac(c.path), 0);
    EXPECT_EQ(mac.Status(), (std::array<std::string, 3>{"", "MAC Records error", c.macPanel2}));
    EXPECT_EQ(mac.surface.editText(Edit::CalcMacAll), "");  // no variant ran

    const Ran isoRan = RunCheck({"iso", c.path, "--json"});
    if (c.isoResult != 0) {
      EXPECT_TRUE(isoRan.exited && isoRan.exitCode == 0 && isoRan.err.empty()) << isoRan.err;
    } else {
      ExpectCannotRun(isoRan, "Cannot open file: " + c.path + c.reason);
    }
    const bool macOpened = c.macPanel2 != "DORV open error";
    ExpectCannotRun(RunCheck({"mac", c.path, "--json"}), c.macPanel2 + ": " + c.path + (macOpened ? "" : c.reason));
  }
}

// NULs are control characters: the format check reads past them as if they
// were not there, and a NUL in the path names no file.
TEST(BadInput, NulBytesChangeNothingButTheReadPositions) {
  const std::string sample = ReadFileBytes(SamplePath("batch-nsp.dat"));
  const TempFile plain(sample);
  const TempFile nuls(WithNulsEverywhere(sample));
  Window expected;
  ASSERT_EQ(expected.Iso(plain.str()), 1);
  Window w;
  ASSERT_EQ(w.Iso(nuls.str()), 1);
  ASSERT_EQ(w.surface.gridRowCount(), expected.surface.gridRowCount());
  for (int row = 1; row < w.surface.gridRowCount(); ++row) EXPECT_EQ(w.surface.row(row), expected.surface.row(row));
  EXPECT_EQ(w.surface.progressPosition(), static_cast<int>(2 * sample.size()));

  const std::string cut = plain.str() + std::string(1, '\0') + ".dat";
  Window iso;
  EXPECT_EQ(iso.Iso(cut), 0);
  EXPECT_EQ(iso.surface.status(1), "Cannot open file");
  Window mac;
  EXPECT_EQ(mac.Mac(cut), 0);
  EXPECT_EQ(mac.surface.status(2), "DORV open error");
}

// Opens the writing end of a named pipe if a check still waits for a writer
// after a few seconds, so that a check that waits ends and the test fails
// instead of hanging.
class PipeRescue {
 public:
  explicit PipeRescue(fs::path fifo) : thread_([this, fifo] { Watch(fifo); }) {}
  ~PipeRescue() {
    Finish();
    thread_.join();
  }
  void Finish() {
    const std::lock_guard lock(mutex_);
    done_ = true;
    finished_.notify_all();
  }
  bool Needed() {
    const std::lock_guard lock(mutex_);
    return needed_;
  }

 private:
  void Watch(const fs::path& fifo) {
    std::unique_lock lock(mutex_);
    if (finished_.wait_for(lock, std::chrono::seconds(5), [this] { return done_; })) return;
    needed_ = true;
    while (!done_) {
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // fails while nobody reads
      if (fd >= 0) ::close(fd);
      finished_.wait_for(lock, std::chrono::milliseconds(50), [this] { return done_; });
    }
  }

  std::mutex mutex_;
  std::condition_variable finished_;
  bool done_ = false;
  bool needed_ = false;
  std::thread thread_;
};

// A named pipe has no end to read to, and opening one would wait for a
// writer: both checks and the inspector's reader refuse it at once.
TEST(BadInput, NamedPipeIsRefusedWithoutWaitingForAWriter) {
  const TempFile folder("");
  const fs::path fifo = folder.path().parent_path() / "pipe.dat";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  {
    PipeRescue rescue(fifo);
    Window w;
    EXPECT_EQ(w.Iso(fifo.string()), 0);
    rescue.Finish();
    EXPECT_FALSE(rescue.Needed()) << "the format check waited for a writer";
    EXPECT_EQ(w.surface.status(1), "Cannot open file");
  }
  {
    PipeRescue rescue(fifo);
    Window w;
    EXPECT_EQ(w.Mac(fifo.string()), 0);
    rescue.Finish();
    EXPECT_FALSE(rescue.Needed()) << "the MAC check waited for a writer";
    EXPECT_EQ(w.surface.status(2), "DORV open error");
    EXPECT_EQ(w.surface.status(1), "MAC Records error");
  }
  {
    PipeRescue rescue(fifo);
    const DecodedMessage message = DecodeMessageAt(fifo.string(), 0);  // the inspector's reader
    rescue.Finish();
    EXPECT_FALSE(rescue.Needed()) << "the message decoder waited for a writer";
    EXPECT_EQ(message.stop, DecodeStop::CannotRead);
  }
  ExpectCannotRun(RunCheck({"iso", fifo.string()}, std::nullopt, 20),
                  "Cannot open file: " + fifo.string() + ": a named pipe, not a file");
  ExpectCannotRun(RunCheck({"mac", fifo.string()}, std::nullopt, 20),
                  "DORV open error: " + fifo.string() + ": a named pipe, not a file");
}

// Runs `body` as a user the file's permission bits keep out. Tests run as
// root in CI, and root reads any file whatever its bits say: then the body
// runs in a child process that has given up root for the user "nobody", and
// its texts come back through a pipe. Nothing when root cannot give itself up.
constexpr uid_t kNobody = 65534;

std::optional<std::string> AsUnprivileged(const std::function<std::string()>& body) {
  if (::geteuid() != 0) return body();
  int channel[2];
  if (::pipe(channel) != 0) return std::nullopt;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(channel[0]);
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(126);
    const std::string text = body();
    const bool written = ::write(channel[1], text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(channel[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<std::size_t>(got));
  ::close(channel[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

TEST(BadInput, FileWithoutReadPermission) {
  const TempFile file(ReadFileBytes(SamplePath("batch-nsp.dat")));
  fs::permissions(file.path().parent_path(), fs::perms(0755));
  fs::permissions(file.path(), fs::perms::none);
  const std::optional<std::string> texts = AsUnprivileged([&] {
    Window iso;
    const int isoResult = iso.Iso(file.str());
    Window mac;
    const int macResult = mac.Mac(file.str());
    return std::to_string(isoResult) + "|" + iso.surface.status(1) + "|" + std::to_string(macResult) + "|" +
           mac.surface.status(1) + "|" + mac.surface.status(2);
  });
  if (!texts) GTEST_SKIP() << "cannot run as a user without root's rights here";
  EXPECT_EQ(*texts, "0|Cannot open file|0|MAC Records error|DORV open error");

  const std::optional<uid_t> user = ::geteuid() == 0 ? std::optional<uid_t>(kNobody) : std::nullopt;
  ExpectCannotRun(RunCheck({"iso", file.str()}, user), "Cannot open file: " + file.str() + ": Permission denied");
  ExpectCannotRun(RunCheck({"mac", file.str()}, user), "DORV open error: " + file.str() + ": Permission denied");
}

// The MAC check opens the file once and reads it twice: a file removed, or
// replaced by another renamed over its path, or cut short after the lookup
// ends the check with the one error of a changed file and no MAC, neither
// the opened file's (which the path no longer names) nor MACALL's "not read
// to EOF"; and nothing is read outside the file.
TEST(BadInput, FileRemovedReplacedOrCutAfterTheLookup) {
  const std::string sample = ReadFileBytes(SamplePath("batch-nsp.dat"));
  const TempFile other(ReadFileBytes(SamplePath("batch-nsp.dat")).replace(100, 3, "XYZ"));
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
  };
  const Case cases[] = {
      {"removed", [](const fs::path& path) { fs::remove(path); }},
      {"replaced", [&](const fs::path& path) { fs::copy_file(other.path(), path.string() + ".new");
                                               fs::rename(path.string() + ".new", path); }},
      {"cut to 10 bytes", [](const fs::path& path) { fs::resize_file(path, 10); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TempFile file(sample);
    Window w;
    std::vector<std::string> panel2;
    w.surface.onStatus = [&](int panel) {
      if (panel == kCommandPanel) panel2.push_back(w.surface.status(panel));
    };
    // the declared MAC goes up as the variants' read starts
    w.surface.onEdit = [&](Edit edit) {
      if (edit == Edit::INFileMac) c.change(file.path());
    };
    EXPECT_EQ(w.Mac(file.str()), 0);
    EXPECT_EQ(w.surface.editText(Edit::INFileMac), "4F47F843");
    for (const Edit edit : kMacResultEdits) EXPECT_EQ(w.surface.editText(edit), "");
    EXPECT_EQ(std::find(panel2.begin(), panel2.end(), "MACAll: GenerateMAC LAST error: file not read to EOF"),
              panel2.end());
    EXPECT_EQ(w.surface.status(2), "the file changed while it was read");
  }
}

// ---------------------------------------------------------------------------
// Large input

// The gigabyte files take seconds in an optimised build (both of
// scripts/test's builds are) and minutes in an unoptimised one.
constexpr bool kOptimised =
#ifdef __OPTIMIZE__
    true;
#else
    false;
#endif

// One message whose every LLL element of up to 999 characters is full, in a
// record padded with spaces to 10 MB.
TEST(LargeInput, TenMegabyteMessageWithLllPrefixesOf999) {
  constexpr std::size_t kTenMegabytes = 10'000'000;
  const int fullElements[] = {47, 48, 96, 111, 112, 113, 114, 115, 116, 117, 118,
                              119, 120, 121, 122, 123, 124, 125, 126, 127};
  std::map<int, std::string> elements;
  std::string value;
  for (int i = 0; i < 999; ++i) value += static_cast<char>('!' + i % 94);  // MTI digits among them
  for (const int element : fullElements) elements[element] = value;
  std::string message = BuildMessage("1240", elements);
  const std::size_t data = std::size(fullElements) * 999;
  ASSERT_EQ(message.size(), 36 + data + std::size(fullElements) * 3);
  message.resize(kTenMegabytes, ' ');
  const std::size_t spaces = kTenMegabytes - 36 - data - std::size(fullElements) * 3;

  {
    const TempFile file(message);
    Window w;
    EXPECT_EQ(w.Iso(file.str()), 1);
    EXPECT_EQ(w.DataRows(), 1);
    EXPECT_EQ(w.Cell(1, "S123 (reserved)"), value);
    EXPECT_EQ(w.Cell(1, "PAD"), std::to_string(spaces));
    EXPECT_EQ(w.Cell(1, "SIZE"), std::to_string(36 + data + 1));
    // the read position after the message: its gap's first space
    const std::string position = std::to_string(message.size() - spaces + 1);
    EXPECT_EQ(w.Status(), (std::array<std::string, 3>{position, "10000000", "Format processed"}));
  }

  // 999 announced where the element holds at most 204: a format error.
  {
    std::string raw = BuildRawMessage("1240", {{46, "999" + value}});
    raw.resize(kTenMegabytes, ' ');
    const TempFile file(raw);
    Window w;
    EXPECT_EQ(w.Iso(file.str()), 0);
    EXPECT_EQ(w.surface.status(2), "Error Process P 46 Len: '999'");
    const Ran ran = RunCheck({"iso", file.str(), "--csv"});
    EXPECT_TRUE(ran.exited);
    EXPECT_EQ(ran.exitCode, 1);
    EXPECT_TRUE(ran.err.starts_with("kalvrin-check: Error Process P 46 Len: '999'")) << ran.err;
    EXPECT_EQ(std::count(ran.err.begin(), ran.err.end(), '\n'), 1) << ran.err;
  }

  // The same message between a MAC envelope whose trailer declares the
  // MACNSP of its range.
  {
    const std::string range = FileHeaderMessage() + "\r\n" + message + "\r\n";
    const std::string mac = OpenSslMac(kKey, NspBytes(range));
    const std::string bytes = MacHeader() + "\r\n" + range + Trailer(mac) + "   \r\n";
    const TempFile file(bytes);
    Window w;
    EXPECT_EQ(w.Mac(file.str()), 1);
    EXPECT_EQ(w.surface.editText(Edit::CalcMacNSP), mac);
    EXPECT_EQ(w.surface.editColour(Edit::CalcMacNSP), TextColour::Green);
    EXPECT_EQ(w.surface.editText(Edit::CalcMac3FSize), std::to_string(NspBytes(range).size()));
    EXPECT_EQ(w.surface.editText(Edit::CalcMac2FSize), std::to_string(range.size() - 4));  // two CR LF
    EXPECT_EQ(w.surface.status(2), "MAC processed");
    const Ran ran = RunCheck({"mac", file.str(), "--expect", "nsp"});
    EXPECT_TRUE(ran.exited && ran.exitCode == 0 && ran.err.empty()) << ran.err;
  }
}

// A sparse file of just over 4 GiB: a message at its start and one at its
// end, NULs between. Sizes, read positions and the progress bar go beyond 32
// bits without overflowing. The MAC check stops at its lookup, since the
// file's first message is no file header.
TEST(LargeInput, FourGibibyteSparseFile) {
  if (!kOptimised) GTEST_SKIP() << "an unoptimised build takes minutes over gigabytes";
  const std::string message = BuildMessage("1240", {{3, "000000"}, {4, "000000001234"}});
  const std::string first = MacHeader() + "\r\n" + message + " ";
  const std::int64_t lastAt = 4 * kGiB + 100;
  const std::int64_t size = lastAt + static_cast<std::int64_t>(message.size()) + 3;
  const TempFile file("");
  WriteSparse(file.path(), size, {{0, first}, {lastAt, message + "  "}});

  Window w;
  EXPECT_EQ(w.Iso(file.str()), 1);
  EXPECT_EQ(w.DataRows(), 2);
  EXPECT_EQ(w.Cell(2, "TCode"), "1240");
  EXPECT_EQ(w.Cell(2, "PAD"), "2");
  // the position after the last message read to its end: its gap's first space
  EXPECT_EQ(w.Status(), (std::array<std::string, 3>{std::to_string(size - 2), std::to_string(size), "Format processed"}));
  EXPECT_GT(w.surface.progressMax(), 0);
  EXPECT_EQ(w.surface.progressPosition(), w.surface.progressMax());
  // the bar's range is the size scaled down by a power of two
  EXPECT_EQ(std::int64_t{w.surface.progressMax()}, size >> 2);

  Window mac;
  EXPECT_EQ(mac.Mac(file.str()), 0);
  EXPECT_EQ(mac.Status(), (std::array<std::string, 3>{"", "MAC Records error", "File Header not found"}));
  ExpectCannotRun(RunCheck({"mac", file.str()}), "File Header not found: " + file.str());
}

// The MAC check's core call over a file beyond 2^31 bytes: MACALL's figures
// and the trailer's distance from the end are 64-bit counts, and the read
// reports its progress to the end. The trailer stands near the start, so
// that MACNHD and MACNSP stay short and the test affordable.
TEST(LargeInput, MacCheckBeyondTwoGibibytes) {
  if (!kOptimised) GTEST_SKIP() << "an unoptimised build takes minutes over gigabytes";
  const std::int64_t size = 2 * kGiB + 1300;
  const std::string range = FileHeaderMessage() + "\r\n";
  const std::string head = MacHeader() + "\r\n" + range + Trailer("00000000");
  const TempFile file("");
  WriteSparse(file.path(), size, {{0, head}, {size - 4, "END!"}});

  TransactionFile opened(file.str());
  std::int64_t lastRead = 0;
  std::int64_t reports = 0;
  bool ordered = true;
  MacReadHooks hooks;
  hooks.progress = [&](std::int64_t bytesRead, std::int64_t fileSize) {
    ordered = ordered && bytesRead >= lastRead && fileSize == size;
    lastRead = bytesRead;
    ++reports;
    return true;
  };
  const FileMacResult result = ComputeFileMac(opened, kKey, hooks);
  ASSERT_EQ(result.stop, MacCheckStop::Variants);
  EXPECT_EQ(result.fileSize, size);
  EXPECT_TRUE(result.trailerFound);
  EXPECT_EQ(result.headerLength, 62);
  EXPECT_EQ(result.trailerLength, size - static_cast<std::int64_t>(62 + range.size()));

  const MacVariantResult& all = result.variants[0];
  EXPECT_TRUE(all.computed) << all.failure;
  EXPECT_EQ(all.blocks, (size + 511) / 512);
  EXPECT_EQ(all.bytes, size);
  EXPECT_EQ(all.mac.size(), 8u);
  EXPECT_EQ(result.variants[1].mac, OpenSslMac(kKey, Masked(test::Without(range, "\r\n\t"))));
  EXPECT_EQ(result.variants[2].mac, OpenSslMac(kKey, NspBytes(range)));
  EXPECT_EQ(result.variants[2].bytes, static_cast<std::int64_t>(NspBytes(range).size()));

  EXPECT_TRUE(ordered);
  EXPECT_EQ(lastRead, size);
  EXPECT_GE(reports, size / (256 * 1024));
}

// ---------------------------------------------------------------------------
// Guarantees

struct FileState {
  std::string bytes;
  struct stat info {};
};

FileState StateOf(const fs::path& path) {
  FileState state{ReadFileBytes(path), {}};
  EXPECT_EQ(::stat(path.c_str(), &state.info), 0);
  return state;
}

// Both commands, in the window and in kalvrin-check, leave the transaction
// file's bytes, its modification and change times and its inode as they were.
TEST(Guarantees, TransactionFileIsNeverWritten) {
  for (const char* name : {"batch-nsp.dat", "batch-nhd.dat", "batch-bad-prefix.dat"}) {
    SCOPED_TRACE(name);
    const TempFile file(ReadFileBytes(SamplePath(name)));
    // an old time, so that any write would show as a change
    const struct timespec times[2] = {{1'000'000'000, 123}, {1'000'000'000, 456'000'000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.path().c_str(), times, 0), 0);
    const FileState before = StateOf(file.path());

    Window iso;
    iso.Iso(file.str());
    Window mac;
    EXPECT_EQ(mac.Mac(file.str()), 1);
    for (const char* command : {"iso", "mac"}) {
      const Ran ran = RunCheck({command, file.str(), "--json"});
      EXPECT_TRUE(ran.exited) << command;
    }

    const FileState after = StateOf(file.path());
    EXPECT_EQ(after.bytes, before.bytes);
    EXPECT_EQ(after.info.st_ino, before.info.st_ino);
    EXPECT_EQ(after.info.st_size, before.info.st_size);
    EXPECT_EQ(after.info.st_mtim.tv_sec, before.info.st_mtim.tv_sec);
    EXPECT_EQ(after.info.st_mtim.tv_nsec, before.info.st_mtim.tv_nsec);
    EXPECT_EQ(after.info.st_ctim.tv_sec, before.info.st_ctim.tv_sec);
    EXPECT_EQ(after.info.st_ctim.tv_nsec, before.info.st_ctim.tv_nsec);
  }
}

// The MAC button's run keeps its key material in storage the test can look
// at: live while the run works, all zero once the command returns, however
// it ended.
TEST(Guarantees, MacCommandWipesTheKeyWhenItsRunEnds) {
  constexpr unsigned char kFill = 0x5A;
  const auto allAre = [](const auto& object, unsigned char value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&object);
    return std::all_of(bytes, bytes + sizeof object, [value](unsigned char b) { return b == value; });
  };
  // an installed key's schedules: neither the test's fill nor the wipe's zeros
  const auto holdsKey = [&](const KeyStore& store) { return !allAre(store, kFill) && !allAre(store, 0); };
  const TempFile vanishing(ReadFileBytes(SamplePath("batch-nsp.dat")));
  struct Case {
    const char* name;
    std::string path;
    std::string_view key;
    bool shownWithKey;  // the run showed something while it held the installed key
    bool removeFile;
  };
  const Case cases[] = {
      {"the MAC check completes", SamplePath("batch-nsp.dat").string(), kKey, true, false},
      {"the key is too short", SamplePath("batch-nsp.dat").string(), "A4F1C07B3E9D265", false, false},
      // the lookup stops it before it shows anything but the outcome
      {"the file is a folder", SamplePath("").string(), kKey, false, false},
      {"the file goes before the variants", vanishing.str(), kKey, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MacCheckSecrets secrets;
    std::memset(static_cast<void*>(&secrets), kFill, sizeof secrets);
    bool live = false;
    Window w;
    w.surface.onStatus = [&](int) { live = live || holdsKey(secrets.keyStore); };
    w.surface.onEdit = [&](Edit edit) {
      live = live || holdsKey(secrets.keyStore);
      if (c.removeFile && edit == Edit::INFileMac) fs::remove(c.path);
    };
    MacCommand(w.surface, c.path, kStartUpKcvText, c.key, secrets);
    EXPECT_EQ(live, c.shownWithKey);
    EXPECT_TRUE(allAre(secrets, 0));
  }
}

}  // namespace
}  // namespace kalvrin
