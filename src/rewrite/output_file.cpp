// The temporary file and its rename.
#include "rewrite/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

namespace kalvrin::rewrite {

namespace {

constexpr std::size_t kStreamBuffer = std::size_t{1} << 20;

std::string Reason() { return std::strerror(errno); }

}  // namespace

bool SameFile(std::string_view a, std::string_view b) {
  struct stat first {};
  struct stat second {};
  if (::stat(std::string(a).c_str(), &first) != 0 || ::stat(std::string(b).c_str(), &second) != 0) return false;
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

OutputFile::OutputFile(std::string_view path, std::string_view like) : path_(path) {
  const std::filesystem::path target(path_);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    Fail("cannot create a file in " + folder.string());
    return;
  }
  temporary_ = name.data();
  struct stat source {};
  const mode_t mode = ::stat(std::string(like).c_str(), &source) == 0 ? (source.st_mode & 0666) : 0600;
  if (::fchmod(fd, mode) != 0 || (stream_ = ::fdopen(fd, "wb")) == nullptr) {
    Fail("cannot write " + temporary_);
    ::close(fd);
    return;
  }
  std::setvbuf(stream_, nullptr, _IOFBF, kStreamBuffer);
}

OutputFile::~OutputFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
}

bool OutputFile::Fail(std::string_view what) {
  if (error_.empty()) error_ = std::string(what) + ": " + Reason();
  return false;
}

bool OutputFile::Write(std::string_view bytes) {
  if (stream_ == nullptr) return false;
  if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size()) return Fail("cannot write " + path_);
  written_ += static_cast<std::int64_t>(bytes.size());
  return true;
}

bool OutputFile::Close() {
  if (stream_ == nullptr) return false;
  std::FILE* stream = stream_;
  stream_ = nullptr;
  const bool flushed = std::fflush(stream) == 0 && ::fsync(::fileno(stream)) == 0;
  const bool closed = std::fclose(stream) == 0;
  return (flushed && closed) || Fail("cannot write " + path_);
}

bool OutputFile::Patch(std::int64_t offset, std::string_view bytes) {
  const int fd = ::open(temporary_.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return Fail("cannot write " + path_);
  const bool written = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
                           static_cast<ssize_t>(bytes.size()) &&
                       ::fsync(fd) == 0;
  ::close(fd);
  return written || Fail("cannot write " + path_);
}

bool OutputFile::Commit() {
  if (temporary_.empty() || !error_.empty()) return false;
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) return Fail("cannot write " + path_);
  committed_ = true;
  return true;
}

}  // namespace kalvrin::rewrite
