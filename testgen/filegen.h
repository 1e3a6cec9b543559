// Transaction files for tests and benchmarks: single messages built from
// {element: value}, and whole batch files of any size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace kalvrin::filegen {

// 0 for a fixed element, 2 for LL, 3 for LLL. Written independently of the
// checker's own table, so that tests built from it catch a wrong entry there.
int PrefixDigits(int element);

// The primary and secondary bitmap (32 upper-case hex characters) marking
// the given elements; bit 1 is set whenever a secondary element is present.
std::string EncodeBitmaps(const std::map<int, std::string>& elements);

// MTI, both bitmaps, then the values in element order exactly as given
// (a prefixed element's value must carry its own prefix). Elements 1 and 64
// are never data and are ignored.
std::string BuildRawMessage(std::string_view mti, const std::map<int, std::string>& elements);

// The same with the length prefixes computed: values are the data only.
std::string BuildMessage(std::string_view mti, const std::map<int, std::string>& elements);

struct FileOptions {
  std::uint64_t size = 0;    // the file is the smallest whole number of records reaching this size
  std::uint32_t seed = 1;
  std::string mac = "00000000";  // what the trailer's element 128 declares
};

struct FileSummary {
  std::uint64_t bytes = 0;
  std::uint64_t messages = 0;  // file header, batch messages and trailer: the format check's rows
};

inline constexpr std::size_t kRecordLength = 512;  // including the CR LF
inline constexpr std::size_t kMacHeaderLength = 60;

// A 60-byte MAC header record and CR LF, the 1644 file header, batch
// messages (1140/1240/1440/1542) with fixed, LL and LLL elements in both
// sets, then the 1844 trailer with function code 971 and element 128; every
// message padded with spaces to 510 bytes and followed by CR LF. The bytes
// go to `sink` in pieces.
FileSummary GenerateFile(const FileOptions& options, const std::function<void(std::string_view)>& sink);

// The whole file as one string (for small sizes).
std::string GenerateFileBytes(const FileOptions& options, FileSummary* summary = nullptr);

// Writes the file to `path`; false when it cannot be written.
bool WriteGeneratedFile(const std::filesystem::path& path, const FileOptions& options, FileSummary* summary = nullptr);

}  // namespace kalvrin::filegen
