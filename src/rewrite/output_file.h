// The new file a rewrite writes: a temporary file in OUT's folder, renamed
// over OUT only once it is whole; removed when anything failed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kalvrin::rewrite {

// Whether two paths name one file (through links too); false when either
// does not exist.
bool SameFile(std::string_view a, std::string_view b);

class OutputFile {
 public:
  // Creates the temporary file beside `path`, with the permissions of the
  // file at `like` (a copy of a restricted file stays restricted).
  OutputFile(std::string_view path, std::string_view like);
  ~OutputFile();  // removes the temporary file unless Commit succeeded
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  bool IsOpen() const { return stream_ != nullptr; }
  const std::string& Error() const { return error_; }
  const std::string& TemporaryPath() const { return temporary_; }

  bool Write(std::string_view bytes);
  std::int64_t Written() const { return written_; }
  // Ends the writing; the file can then be read and patched.
  bool Close();
  // Overwrites bytes at an offset of the closed file.
  bool Patch(std::int64_t offset, std::string_view bytes);
  // Renames it over OUT.
  bool Commit();

 private:
  bool Fail(std::string_view what);
  std::string path_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  std::int64_t written_ = 0;
  bool committed_ = false;
  std::string error_;
};

}  // namespace kalvrin::rewrite
