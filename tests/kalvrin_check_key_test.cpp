// kalvrin-check mac's key sources, run as the built program: each gives the
// same MAC, a key file open to other users is refused, and the key never
// shows: not in the process list, not in any output or error line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "mac/key_argument.h"
#include "support/child_process.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::ChildProcess;
using test::Printed;
using test::RunProgram;

const std::string kNhdKey = "1C587F1C13924FEF";  // batch-nhd.dat's key; not the default one
const std::string kNoKeyInEnvironment = "KALVRIN_KEY=";

std::string Sample(const char* name) { return test::SamplePath(name).string(); }

std::vector<std::string> MacArgs(std::vector<std::string> more) {
  std::vector<std::string> args{test::CheckProgramPath(), "mac", Sample("batch-nhd.dat"), "--expect", "nhd"};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// A key file of the given mode in a folder of its own.
struct KeyFile {
  test::TempFile file;
  KeyFile(const std::string& text, mode_t mode) : file(text, "mac.key") { ::chmod(file.path().c_str(), mode); }
  std::string str() const { return file.str(); }
};

void ExpectNoKeyIn(const Printed& printed, const std::string& key) {
  EXPECT_EQ(printed.out.find(key), std::string::npos) << printed.out;
  EXPECT_EQ(printed.err.find(key), std::string::npos) << printed.err;
  // nor its halves, which a message could quote
  EXPECT_EQ(printed.err.find(key.substr(0, 8)), std::string::npos) << printed.err;
  EXPECT_EQ(printed.err.find(key.substr(8)), std::string::npos) << printed.err;
}

TEST(KalvrinCheckKey, EverySourceGivesTheKeysMac) {
  const KeyFile file(kNhdKey + "\n", 0600);
  const KeyFile crlfBlanks("  " + kNhdKey + " \r\nsecond line ignored\n", 0400);
  struct Case {
    const char* source;
    std::vector<std::string> args;
    std::string input;
    std::vector<std::string> env;
  };
  const Case cases[] = {
      {"--key HEX", {"--key", kNhdKey}, "", {kNoKeyInEnvironment}},
      {"--key - (standard input)", {"--key", "-"}, kNhdKey + "\n", {kNoKeyInEnvironment}},
      {"--key - without a line end", {"--key", "-"}, kNhdKey, {kNoKeyInEnvironment}},
      {"--key-file", {"--key-file", file.str()}, "", {kNoKeyInEnvironment}},
      {"--key-file, blanks and CR LF", {"--key-file", crlfBlanks.str()}, "", {kNoKeyInEnvironment}},
      {"KALVRIN_KEY", {}, "", {"KALVRIN_KEY=" + kNhdKey}},
      {"KALVRIN_KEY, blanks and a line end", {}, "", {"KALVRIN_KEY= \t" + kNhdKey + " \r\n"}},
      // an option comes before the environment
      {"--key over KALVRIN_KEY", {"--key", kNhdKey}, "", {"KALVRIN_KEY=A4F1C07B3E9D2658"}},
      {"--key-file over KALVRIN_KEY", {"--key-file", file.str()}, "", {"KALVRIN_KEY=A4F1C07B3E9D2658"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    for (const char* format : {"--json", "--csv", "--text"}) {
      SCOPED_TRACE(format);
      std::vector<std::string> args = c.args;
      if (std::string(format) != "--text") args.push_back(format);
      const Printed printed = RunProgram(MacArgs(args), c.input, c.env);
      EXPECT_EQ(printed.exitCode, 0) << printed.err;
      if (std::string(format) == "--json") {
        EXPECT_NE(printed.out.find("\"txtCalcMacNHD\":\"green\""), std::string::npos) << printed.out;
      }
      ExpectNoKeyIn(printed, kNhdKey);
    }
  }
  // Without any source: the default key, which is not this file's.
  const Printed fallback = RunProgram(MacArgs({}), "", {kNoKeyInEnvironment});
  EXPECT_EQ(fallback.exitCode, 1);
}

TEST(KalvrinCheckKey, UnusableSourcesAreRefusedInOneLine) {
  const KeyFile groupReadable(kNhdKey + "\n", 0640);
  const KeyFile worldReadable(kNhdKey + "\n", 0604);
  const KeyFile groupWritable(kNhdKey + "\n", 0620);
  const KeyFile empty("\n", 0600);
  // a path keeps its UTF-8; a line end, ESC and 0xFF in it are escaped
  const std::string hostileName = "/nonexistent/k\xc3\xa9y\n\x1b[2J\xff.key";
  const test::TempFile hostileOpen(kNhdKey + "\n", "mac\n\x1b.key");
  ::chmod(hostileOpen.path().c_str(), 0644);
  const std::string hostileShown = hostileOpen.path().parent_path().string() + "/mac\\n\\x1B.key";
  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string err;
  };
  const Case cases[] = {
      {{"--key-file", groupReadable.str()}, "",
       "key file " + groupReadable.str() + " is open to other users (mode 0640); make it readable by its owner only: "
       "chmod 600 " + groupReadable.str()},
      {{"--key-file", worldReadable.str()}, "",
       "key file " + worldReadable.str() + " is open to other users (mode 0604); make it readable by its owner only: "
       "chmod 600 " + worldReadable.str()},
      {{"--key-file", groupWritable.str()}, "",
       "key file " + groupWritable.str() + " is open to other users (mode 0620); make it readable by its owner only: "
       "chmod 600 " + groupWritable.str()},
      {{"--key-file", "/nonexistent/mac.key"}, "", "cannot open key file /nonexistent/mac.key: No such file or directory"},
      {{"--key-file", empty.file.path().parent_path().string()}, "",
       "key file " + empty.file.path().parent_path().string() + " is a folder"},
      {{"--key-file", empty.str()}, "", "no key on the first line of key file " + empty.str()},
      {{"--key-file", hostileName}, "",
       "cannot open key file /nonexistent/k\xc3\xa9y\\n\\x1B[2J\\xFF.key: No such file or directory"},
      {{"--key-file", hostileOpen.str()}, "",
       "key file " + hostileShown + " is open to other users (mode 0644); make it readable by its owner only: "
       "chmod 600 " + hostileShown},
      {{"--key", "-"}, "", "no key on the first line of standard input"},
      {{"--key", kNhdKey, "--key-file", empty.str()}, "", "--key excludes --key-file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    for (const char* format : {"--json", "--csv"}) {
      std::vector<std::string> args = c.args;
      args.push_back(format);
      const Printed printed = RunProgram(MacArgs(args), c.input, {kNoKeyInEnvironment});
      EXPECT_EQ(printed.exitCode, 2);
      EXPECT_EQ(printed.out, "");
      EXPECT_EQ(printed.err, "kalvrin-check: " + c.err + "\n");
      ExpectNoKeyIn(printed, kNhdKey);
    }
  }
}

// A source that gives nothing usable but is set is refused, not passed over.
TEST(KalvrinCheckKey, EnvironmentWithoutAUsableValueIsRefused) {
  const KeyFile file(kNhdKey + "\n", 0600);
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string err;
  };
  const std::string badTimeout = "KALVRIN_KEY_TIMEOUT must be a whole number of seconds, 1 or more";
  const Case cases[] = {
      {{}, {"KALVRIN_KEY= \t \n"}, "no key in KALVRIN_KEY"},
      {{"--key-file", file.str()}, {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=0"}, badTimeout},
      {{"--key-file", file.str()}, {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=-5"}, badTimeout},
      {{"--key-file", file.str()}, {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=1.5"}, badTimeout},
      {{"--key-file", file.str()}, {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=ten"}, badTimeout},
      {{"--key-file", file.str()}, {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=99999999999"}, badTimeout},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env.back());
    const Printed mac = RunProgram(MacArgs(c.args), "", c.env);
    EXPECT_EQ(mac.exitCode, 2);
    EXPECT_EQ(mac.out, "");
    EXPECT_EQ(mac.err, "kalvrin-check: " + c.err + "\n");
    std::vector<std::string> verify{test::CheckProgramPath(), "verify", Sample("batch-nhd.dat")};
    verify.insert(verify.end(), c.args.begin(), c.args.end());
    const Printed verified = RunProgram(verify, "", c.env);
    EXPECT_EQ(verified.exitCode, 2);
    EXPECT_EQ(verified.err, "kalvrin-check: " + c.err + "\n");
  }
  // The wait applies to key files only: the other sources do not read it.
  const Printed direct = RunProgram(MacArgs({"--key", kNhdKey}), "", {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=ten"});
  EXPECT_EQ(direct.exitCode, 0) << direct.err;
}

// A key file that never gives its line (a named pipe nobody opens, or a
// writer that stays silent, such as a password tool nobody answers) ends the
// command after KALVRIN_KEY_TIMEOUT seconds with one line; a writer that
// answers in time is waited for.
TEST(KalvrinCheckKey, AKeyFileThatGivesNothingEndsAfterTheTimeout) {
  const test::TempFile folder("", "placeholder");
  const std::filesystem::path pipe = folder.path().parent_path() / "mac.key";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::vector<std::string> timeout{kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=1"};
  const auto tooLate = [](const std::string& path) {
    return "kalvrin-check: no key from key file " + path + " within 1 second (KALVRIN_KEY_TIMEOUT sets the wait)\n";
  };

  for (const char* command : {"mac", "verify", "report"}) {
    SCOPED_TRACE(command);
    const auto start = std::chrono::steady_clock::now();
    const Printed printed = RunProgram(
        {test::CheckProgramPath(), command, Sample("batch-nhd.dat"), "--key-file", pipe.string(), "--json"}, "",
        timeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.out, "");
    EXPECT_EQ(printed.err, tooLate(pipe.string()));
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::seconds(30));
  }

  // Standard input as the key file: a pipe whose writer, the test, is there
  // but silent.
  {
    ChildProcess child(MacArgs({"--key-file", "/dev/stdin", "--json"}), timeout);
    EXPECT_EQ(child.ReadRest(), "");
    EXPECT_EQ(child.Wait(), 2);
    EXPECT_EQ(child.Errors(), tooLate("/dev/stdin"));
  }
  {
    ChildProcess child(MacArgs({"--key-file", "/dev/stdin", "--json"}), {kNoKeyInEnvironment, "KALVRIN_KEY_TIMEOUT=20"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    child.WriteInput(kNhdKey + "\n");
    const std::string out = child.ReadRest();
    EXPECT_EQ(child.Wait(), 0) << child.Errors();
    EXPECT_NE(out.find("\"txtCalcMacNHD\":\"green\""), std::string::npos) << out;
  }
}

// verify takes the key from the same sources; without one it skips the MAC rules.
TEST(KalvrinCheckKey, VerifyTakesTheSameSources) {
  const KeyFile file(kNhdKey + "\n", 0600);
  const KeyFile open(kNhdKey + "\n", 0644);
  const std::string nhd = Sample("batch-nhd.dat");
  const std::string program = test::CheckProgramPath();
  const std::string matched = "MAC MACNHD equals the declared 7AAE5FFA";
  struct Case {
    const char* source;
    std::vector<std::string> args;
    std::string input;
    std::vector<std::string> env;
    bool checksMac;
  };
  const Case cases[] = {
      {"--key HEX", {"--key", kNhdKey}, "", {kNoKeyInEnvironment}, true},
      {"--key -", {"--key", "-"}, kNhdKey + "\n", {kNoKeyInEnvironment}, true},
      {"--key-file", {"--key-file", file.str()}, "", {kNoKeyInEnvironment}, true},
      {"KALVRIN_KEY", {}, "", {"KALVRIN_KEY=" + kNhdKey}, true},
      {"no key", {}, "", {kNoKeyInEnvironment}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    std::vector<std::string> args{program, "verify", nhd};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Printed printed = RunProgram(args, c.input, c.env);
    EXPECT_EQ(printed.out.find(matched) != std::string::npos, c.checksMac) << printed.out;
    ExpectNoKeyIn(printed, kNhdKey);
  }
  const Printed refused = RunProgram({program, "verify", nhd, "--key-file", open.str()}, "", {kNoKeyInEnvironment});
  EXPECT_EQ(refused.exitCode, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err, "kalvrin-check: key file " + open.str() +
                             " is open to other users (mode 0644); make it readable by its owner only: chmod 600 " +
                             open.str() + "\n");
}

// Keys that fail in every way: none of them is ever printed back.
TEST(KalvrinCheckKey, AKeyThatFailsIsNotPrintedEither) {
  for (const std::string key : {"0123456789ABCDEF", "A4F1C07B3E9D265O", "A4F1C07B3E9D26581C587F1C13924FEF",
                                "A4F1C07B3E9D26", "A4F1C07B3E9D2658AB"}) {
    SCOPED_TRACE(key);
    for (const char* format : {"--json", "--csv", "--text"}) {
      std::vector<std::string> args{"--key", "-"};
      if (std::string(format) != "--text") args.push_back(format);
      const Printed printed = RunProgram(MacArgs(args), key + "\n", {kNoKeyInEnvironment});
      EXPECT_NE(printed.exitCode, 0);
      EXPECT_FALSE(printed.err.empty());
      ExpectNoKeyIn(printed, key);
    }
  }
}

// While the program runs (here: waiting for its key file, a pipe, to be
// written), its command line, which every user can read, holds no key.
TEST(KalvrinCheckKey, TheRunningProgramsCommandLineHoldsNoKey) {
  const test::TempFile folder("", "placeholder");
  const std::filesystem::path pipe = folder.path().parent_path() / "mac.key";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const std::vector<std::string> args = MacArgs({"--key-file", pipe.string(), "--json"});
  ChildProcess child(args, {kNoKeyInEnvironment});

  // The command line once the program has replaced the test's copy of itself.
  const std::string procFile = "/proc/" + std::to_string(child.pid()) + "/cmdline";
  std::string cmdline;
  for (int tries = 0; tries < 500 && cmdline.find(" mac ") == std::string::npos; ++tries) {
    std::ifstream in(procFile, std::ios::binary);
    cmdline.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    for (char& c : cmdline) c = c == '\0' ? ' ' : c;
    if (cmdline.find(" mac ") == std::string::npos) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(cmdline.find(" mac " + Sample("batch-nhd.dat")), std::string::npos) << cmdline;
  EXPECT_NE(cmdline.find("--key-file " + pipe.string()), std::string::npos) << cmdline;
  EXPECT_EQ(cmdline.find(kNhdKey), std::string::npos) << cmdline;

  {
    std::ofstream key(pipe);  // opens once the program opens its end
    key << kNhdKey << '\n';
  }
  const std::string out = child.ReadRest();
  EXPECT_EQ(child.Wait(), 0) << child.Errors();
  EXPECT_NE(out.find("\"txtCalcMacNHD\":\"green\""), std::string::npos) << out;
  EXPECT_EQ(out.find(kNhdKey), std::string::npos);
}

// The arguments as the process list shows them: NULs between them, and in
// place of the blanked key.
std::string Shown(const std::vector<std::string>& arguments) {
  std::vector<std::vector<char>> storage;
  std::vector<char*> argv;
  for (const std::string& argument : arguments) {
    storage.emplace_back(argument.begin(), argument.end());
    storage.back().push_back('\0');
  }
  for (auto& bytes : storage) argv.push_back(bytes.data());
  BlankKeyArguments(static_cast<int>(argv.size()), argv.data());
  std::string shown;
  for (const auto& bytes : storage) {
    for (const char c : bytes) shown += c == '\0' ? '_' : c;
  }
  return shown;
}

TEST(KalvrinCheckKey, KeyArgumentsAreBlankedInPlace) {
  const std::string key = "A4F1C07B3E9D2658";
  EXPECT_EQ(Shown({"kalvrin-check", "mac", "f.dat", "--key", key, "--json"}),
            "kalvrin-check_mac_f.dat_--key_" + std::string(16, '_') + "_--json_");
  EXPECT_EQ(Shown({"kalvrin-check", "verify", "--key=" + key, "f.dat"}),
            "kalvrin-check_verify_--key=" + std::string(16, '_') + "_f.dat_");
  // every --key, not the key file's path, and nothing after "--", where a file may be named --key
  EXPECT_EQ(Shown({"p", "--key", key, "--key", "-", "--key-file", "k", "--", "--key", "x.dat"}),
            "p_--key_" + std::string(16, '_') + "_--key___--key-file_k_--_--key_x.dat_");
  // --key as the last argument has no value to blank
  EXPECT_EQ(Shown({"p", "f.dat", "--key"}), "p_f.dat_--key_");
}

// With --key on the command line, the running program's command line no
// longer holds it once parsed. Many files' summaries fill the output pipe,
// which the test reads only afterwards, so the program is still there to
// be looked at.
TEST(KalvrinCheckKey, TheRunningProgramsCommandLineHoldsNoKeyGivenWithKey) {
  std::vector<std::string> args{test::CheckProgramPath(), "verify", "--key", kNhdKey, "--jobs", "1"};
  for (int i = 0; i < 60; ++i) args.push_back(Sample("batch-nhd.dat"));  // some 290 kB of findings
  ChildProcess child(args, {kNoKeyInEnvironment});
  std::string first;
  ASSERT_TRUE(child.ReadLine(first)) << child.Errors();  // parsed and checking by now
  std::ifstream in("/proc/" + std::to_string(child.pid()) + "/cmdline", std::ios::binary);
  std::string cmdline(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  for (char& c : cmdline) c = c == '\0' ? ' ' : c;
  ASSERT_NE(cmdline.find(" verify --key "), std::string::npos) << cmdline.substr(0, 300);
  EXPECT_EQ(cmdline.find(kNhdKey), std::string::npos) << cmdline.substr(0, 300);
  const std::string rest = child.ReadRest();
  EXPECT_EQ(child.Wait(), 1) << child.Errors();  // the sample's own findings
  EXPECT_NE(rest.find("MAC MACNHD equals the declared"), std::string::npos);
}

}  // namespace
}  // namespace kalvrin
