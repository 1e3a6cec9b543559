// Files the tests write for themselves, removed when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kalvrin::test {

// A file in a fresh temporary folder holding exactly the given bytes; the
// folder goes when the object does.
class TempFile {
 public:
  explicit TempFile(std::string_view bytes, std::string_view name = "batch.dat");
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }

 private:
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

// The bytes of a file.
std::string ReadFileBytes(const std::filesystem::path& path);

// The built kalvrin-check program.
inline constexpr const char* kCheckProgram = KALVRIN_CHECK_PROGRAM;

// A file of the project's samples/ folder.
std::filesystem::path SamplePath(std::string_view name);

}  // namespace kalvrin::test
