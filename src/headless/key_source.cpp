// kalvrin-check's key sources: reading a key without leaving copies of it.
#include "headless/key_source.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>


#include "headless/surface_output.h"  // PathForLine
#include "mac/wipe.h"

namespace kalvrin {

namespace {

constexpr std::string_view kStandardInput = "-";

// How long a key file may keep the caller waiting for its first line: a
// named pipe nobody writes to would otherwise hold the command for ever,
// while <(pass show ...) needs time for a passphrase to be typed.
constexpr const char* kKeyTimeoutVariable = "KALVRIN_KEY_TIMEOUT";
constexpr std::uint32_t kDefaultKeyTimeoutSeconds = 60;

using Clock = std::chrono::steady_clock;

// A line end counts as a blank too: a line read never holds one, and the
// environment may (KALVRIN_KEY="$(cat key)" keeps none, a quoted echo does).
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// In place, so that no shorter copy of the key is left behind.
void TrimBlanks(std::string& text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  std::size_t begin = 0;
  while (begin < end && IsBlank(text[begin])) ++begin;
  std::memmove(text.data(), text.data() + begin, end - begin);
  SecureWipe(text.data() + (end - begin), text.size() - (end - begin));
  text.resize(end - begin);
}

std::string ModeText(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

bool KeyTimeout(std::uint32_t& seconds, std::string& error) {
  seconds = kDefaultKeyTimeoutSeconds;
  const char* text = std::getenv(kKeyTimeoutVariable);
  if (text == nullptr || *text == '\0') return true;
  const char* end = text + std::strlen(text);
  const auto [stop, failure] = std::from_chars(text, end, seconds);
  if (failure != std::errc() || stop != end || seconds == 0) {
    error = std::string(kKeyTimeoutVariable) + " must be a whole number of seconds, 1 or more";
    return false;
  }
  return true;
}

// Waits until the descriptor has a byte or its end to give, or the deadline
// passes (false, errno ETIMEDOUT).
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      errno = ETIMEDOUT;
      return false;
    }
    pollfd wait{};
    wait.fd = fd;
    wait.events = POLLIN;
    // in steps a poll's int can hold
    const int ready = ::poll(&wait, 1, static_cast<int>(std::min<std::int64_t>(left, 3'600'000)));
    if (ready < 0 && errno != EINTR) return false;
    if (ready > 0) return true;
  }
}

// The first line, at most kLongestKeyLine bytes of it, by the deadline. The
// descriptor may be one opened without blocking: a named pipe with no writer
// yet, or a writer that writes nothing, does not hold the caller past it.
bool ReadFirstLineBy(int fd, Clock::time_point deadline, std::string& line) {
  line.clear();
  line.reserve(kLongestKeyLine);  // never reallocated, so never copied
  char c = 0;
  bool ok = true;
  while (line.size() < kLongestKeyLine) {
    if (!WaitReadable(fd, deadline)) {
      ok = false;
      break;
    }
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) {
      ok = false;
      break;
    }
    if (got == 0 || c == '\n') break;
    line.push_back(c);
  }
  const int failure = errno;
  SecureWipe(&c, sizeof c);
  errno = failure;
  return ok;
}

bool KeyFromLine(bool read, std::string_view source, std::string& key, std::string& error) {
  if (!read) {
    error = "cannot read the key from " + std::string(source) + ": " + std::strerror(errno);
    return false;
  }
  TrimBlanks(key);
  if (key.empty()) {
    error = "no key on the first line of " + std::string(source);
    return false;
  }
  return true;
}

bool ReadKeyLine(int fd, std::string_view source, std::string& key, std::string& error) {
  return KeyFromLine(ReadFirstLine(fd, key), source, key, error);
}

bool ReadKeyFile(const std::string& keyFile, std::string& key, std::string& error) {
  const std::string path = PathForLine(keyFile);  // for the error lines only
  std::uint32_t timeout = 0;
  if (!KeyTimeout(timeout, error)) return false;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(timeout);
  // Without blocking, so that opening a named pipe does not wait for a writer.
  const int fd = ::open(keyFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    error = "cannot open key file " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat info {};
  bool ok = ::fstat(fd, &info) == 0;
  if (!ok) {
    error = "cannot read key file " + path + ": " + std::strerror(errno);
  } else if (S_ISDIR(info.st_mode)) {
    error = "key file " + path + " is a folder";
    ok = false;
  } else if ((info.st_mode & 077) != 0) {
    error = "key file " + path + " is open to other users (mode " + ModeText(info.st_mode) +
            "); make it readable by its owner only: chmod 600 " + path;
    ok = false;
  }
  if (ok) {
    const bool read = ReadFirstLineBy(fd, deadline, key);
    if (!read && errno == ETIMEDOUT) {
      SecureWipe(key.data(), key.size());
      key.clear();
      error = "no key from key file " + path + " within " + std::to_string(timeout) +
              (timeout == 1 ? " second (" : " seconds (") + kKeyTimeoutVariable + " sets the wait)";
      ok = false;
    } else {
      ok = KeyFromLine(read, "key file " + path, key, error);
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace

void DeclareKeyOptions(CommandOptions& app, KeyOptions& options, std::string_view fallback) {
  CommandOption key = app.option(
      "--key", options.key,
      "the MAC key, 16 hex digits (or 32 with equal halves), or - to read it from standard input (default: $KALVRIN_KEY, else " +
          std::string(fallback) + "); on the command line every user of the machine can read it");
  CommandOption file = app.option(
      "--key-file", options.keyFile,
      "read the MAC key from the first line of this file (mode 600), waiting at most $KALVRIN_KEY_TIMEOUT seconds "
      "(default 60) for it");
  key.excludes(file);
}

bool ReadFirstLine(int fd, std::string& line) { return ReadFirstLineBy(fd, Clock::time_point::max(), line); }

bool ReadKey(KeyOptions& options, std::string_view defaultKey, std::string& key, std::string& error) {
  key.clear();
  key.reserve(kLongestKeyLine);
  if (options.key == kStandardInput) return ReadKeyLine(STDIN_FILENO, "standard input", key, error);
  if (options.key) {
    key.assign(*options.key);
    SecureWipe(options.key->data(), options.key->size());
    return true;
  }
  if (!options.keyFile.empty()) return ReadKeyFile(options.keyFile, key, error);
  if (const char* environment = std::getenv(kKeyEnvironmentVariable); environment != nullptr && *environment != '\0') {
    // Trimmed as a key file's line is. Blanks alone were meant as a key, so
    // they are refused rather than taken for no key at all.
    key.assign(environment);
    TrimBlanks(key);
    if (key.empty()) {
      error = std::string("no key in ") + kKeyEnvironmentVariable;
      return false;
    }
    return true;
  }
  key.assign(defaultKey);
  return true;
}

}  // namespace kalvrin
