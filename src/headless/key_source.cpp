// kalvrin-check's key sources: reading a key without leaving copies of it.
#include "headless/key_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <CLI/CLI.hpp>

#include "mac/wipe.h"

namespace kalvrin {

namespace {

constexpr std::string_view kStandardInput = "-";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

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

bool ReadKeyLine(int fd, std::string_view source, std::string& key, std::string& error) {
  if (!ReadFirstLine(fd, key)) {
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

bool ReadKeyFile(const std::string& path, std::string& key, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
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
  ok = ok && ReadKeyLine(fd, "key file " + path, key, error);
  ::close(fd);
  return ok;
}

}  // namespace

void DeclareKeyOptions(CLI::App& app, KeyOptions& options, std::string_view fallback) {
  CLI::Option* key = app.add_option(
      "--key", options.key,
      "the MAC key, 16 hex digits, or - to read it from standard input (default: $KALVRIN_KEY, else " +
          std::string(fallback) + "); on the command line every user of the machine can read it");
  CLI::Option* file =
      app.add_option("--key-file", options.keyFile, "read the MAC key from the first line of this file (mode 600)");
  key->excludes(file);
}

bool ReadFirstLine(int fd, std::string& line) {
  line.clear();
  line.reserve(kLongestKeyLine);  // never reallocated, so never copied
  char c = 0;
  while (line.size() < kLongestKeyLine) {
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0 || c == '\n') break;
    line.push_back(c);
  }
  SecureWipe(&c, sizeof c);
  return true;
}

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
    key.assign(environment);
    return true;
  }
  key.assign(defaultKey);
  return true;
}

}  // namespace kalvrin
