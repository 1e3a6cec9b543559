#include "support/test_files.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

namespace kalvrin::test {

TempFile::TempFile(std::string_view bytes, std::string_view name) {
  static std::atomic<int> counter{0};
  dir_ = std::filesystem::temp_directory_path() /
         ("kalvrin-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(dir_);
  path_ = dir_ / std::string(name);
  std::ofstream out(path_, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path_.string());
}

TempFile::~TempFile() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path SamplePath(std::string_view name) {
  return std::filesystem::path(KALVRIN_SAMPLES_DIR) / std::string(name);
}

}  // namespace kalvrin::test
