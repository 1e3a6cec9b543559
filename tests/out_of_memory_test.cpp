// Running out of memory: kalvrin-check ends with one line and exit status 2
// instead of an abort, in a child process whose memory is limited.
#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <sstream>
#include <streambuf>
#include <string>
#include <cstring>
#include <vector>

#include "testgen/filegen.h"
#include "headless/check_app.h"
#include "support/test_files.h"

#if defined(__SANITIZE_ADDRESS__)
#define KALVRIN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KALVRIN_TEST_ASAN 1
#endif
#endif

#ifdef KALVRIN_TEST_ASAN
// AddressSanitizer reserves terabytes of address space for its shadow
// memory, and its operator new ends the program instead of throwing, so an
// address-space limit cannot be tried there. Under it, this program's own
// operator new keeps the child's limit: it fails once the child has asked
// for more than its allowance.
namespace {
std::atomic<std::size_t> allowance{static_cast<std::size_t>(-1)};
}

// GCC cannot see that these replace the global pair, and takes the free()
// of a block from operator new for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
// Each block carries its size before it, so that a block given back gives
// its room back, as under a real limit: the error line of a command that ran
// out is written with the room its unwinding freed.
constexpr std::size_t kSizeHeader = 16;  // keeps malloc's alignment
void* operator new(std::size_t size) {
  std::size_t left = allowance.load();
  do {
    if (size > left) throw std::bad_alloc();
  } while (!allowance.compare_exchange_weak(left, left - size));
  if (auto* block = static_cast<unsigned char*>(std::malloc(size + kSizeHeader))) {
    std::memcpy(block, &size, sizeof size);
    return block + kSizeHeader;
  }
  allowance += size;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
  if (block == nullptr) return;
  auto* start = static_cast<unsigned char*>(block) - kSizeHeader;
  std::size_t size = 0;
  std::memcpy(&size, start, sizeof size);
  allowance += size;
  std::free(start);
}
void operator delete(void* block, std::size_t) noexcept { operator delete(block); }
#pragma GCC diagnostic pop
#endif

namespace kalvrin {
namespace {

// What a child process may allocate beyond what it holds when it starts.
constexpr std::size_t kHeadroom = 4u << 20;

#ifndef KALVRIN_TEST_ASAN
// The address space a new thread takes for its stack, and a little more for
// its guard and thread-local storage.
std::size_t ThreadReserve() {
  pthread_attr_t attributes;
  std::size_t stack = 8u << 20;
  if (::pthread_getattr_default_np(&attributes) == 0) {
    ::pthread_attr_getstacksize(&attributes, &stack);
    ::pthread_attr_destroy(&attributes);
  }
  return stack + (64u << 10);
}
#endif

// `threads`: the threads the child starts besides its own, which take
// address space but no allocation.
void LimitMemory(std::size_t threads) {
#ifdef KALVRIN_TEST_ASAN
  (void)threads;
  allowance = kHeadroom;
#else
  long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;  // the address space in use
  const auto used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(::sysconf(_SC_PAGESIZE));
  const rlim_t allowed = used + kHeadroom + threads * ThreadReserve();
  const rlimit limit{allowed, allowed};
  if (::setrlimit(RLIMIT_AS, &limit) != 0) std::_Exit(100);
#endif
}

struct ChildResult {
  int exitCode;  // -1 when the child did not exit by itself
  std::string err;
};

// Runs `body` in a child process under the memory limit; what the child
// writes to `err` comes back through a file.
ChildResult InLimitedChild(const std::function<int(std::ostream& err)>& body, std::size_t threads = 0) {
  const test::TempFile errFile("", "err.txt");
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    // whatever happens, the child ends here and never returns to the tests
    int code = 101;
    try {
      std::ofstream err(errFile.path());
      LimitMemory(threads);
      code = body(err);
    } catch (...) {
      code = 102;  // the exception escaped the program
    }
    std::_Exit(code);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, test::ReadFileBytes(errFile.path())};
}

// Output that goes nowhere: only the memory the check itself takes counts.
class NullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

TEST(OutOfMemory, KalvrinCheckEndsWithOneLineAndExitStatus2) {
  // some 30 000 messages: the readable report holds its first 8192 rows to
  // find the widths of its columns, beyond the limit; --json streams every
  // row and needs no more memory for a longer file
  const test::TempFile file(filegen::GenerateFileBytes({.size = 10u << 20, .seed = 3}));
#ifndef KALVRIN_TEST_ASAN  // there the allowance counts every allocation, freed or not
  {
    const ChildResult result = InLimitedChild([&](std::ostream& err) {
      const std::string path = file.str();
      const char* argv[] = {"kalvrin-check", "iso", path.c_str(), "--json"};
      NullBuffer nothing;
      std::ostream out(&nothing);
      return RunKalvrinCheck(4, argv, out, err);
    });
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
  }
#endif
  for (const std::vector<std::string>& args : {std::vector<std::string>{"kalvrin-check", "iso", file.str()}}) {
    SCOPED_TRACE(args.back());
    const ChildResult result = InLimitedChild([&](std::ostream& err) {
      std::vector<const char*> argv;
      for (const std::string& arg : args) argv.push_back(arg.c_str());
      NullBuffer nothing;
      std::ostream out(&nothing);
      return RunKalvrinCheck(static_cast<int>(argv.size()), argv.data(), out, err);
    });
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "kalvrin-check: out of memory while reading " + file.str() + "\n");
  }

  // the same run has room enough without the limit
  const ChildResult unlimited = [&] {
    std::vector<const char*> argv{"kalvrin-check", "iso", nullptr, "--json"};
    const std::string path = file.str();
    argv[2] = path.c_str();
    NullBuffer nothing;
    std::ostream out(&nothing);
    std::ostringstream err;
    return ChildResult{RunKalvrinCheck(4, argv.data(), out, err), err.str()};
  }();
  EXPECT_EQ(unlimited.exitCode, 0);
  EXPECT_EQ(unlimited.err, "");
}

// Transactions that differ only in P11: verify's index of transaction keys
// grows with every one of them, to several times the headroom.
std::string ManyTransactions(std::size_t count) {
  std::map<int, std::size_t> starts;
  const std::string message = filegen::BuildMessage("1240", {{11, "000000"}, {70, "301"}}, &starts) + "\n";
  std::string bytes;
  bytes.reserve(count * message.size());
  for (std::size_t i = 0; i < count; ++i) {
    std::string number = std::to_string(i);
    number.insert(0, 6 - number.size(), '0');
    bytes += message;
    bytes.replace(bytes.size() - message.size() + starts.at(11), 6, number);
  }
  return bytes;
}

// kalvrin-check with its output thrown away.
int RunCheck(const std::vector<std::string>& args, std::ostream& err) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  NullBuffer nothing;
  std::ostream out(&nothing);
  return RunKalvrinCheck(static_cast<int>(argv.size()), argv.data(), out, err);
}

// On a worker thread as on the calling one: the first file in argument
// order that ran out names itself in the one line, and nothing aborts.
TEST(OutOfMemory, VerifyEndsWithOneLineNamingTheFileOnEveryThread) {
  const std::string bytes = ManyTransactions(400000);
  const test::TempFile first(bytes, "first.dat");
  const test::TempFile second(bytes, "second.dat");
  struct Case {
    std::vector<std::string> args;
    std::size_t threads;
  };
  const Case cases[] = {
      {{"kalvrin-check", "verify", first.str()}, 0},
      {{"kalvrin-check", "verify", "--jobs", "2", first.str(), second.str()}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.size());
    const ChildResult result = InLimitedChild([&](std::ostream& err) { return RunCheck(c.args, err); }, c.threads);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, "kalvrin-check: out of memory while reading " + first.str() + "\n");
  }
  // without the limit both files are checked (their findings: no envelope)
  std::ostringstream err;
  EXPECT_EQ(RunCheck({"kalvrin-check", "verify", "--jobs", "2", first.str(), second.str()}, err), 1);
  EXPECT_EQ(err.str(), "");
}

}  // namespace
}  // namespace kalvrin
