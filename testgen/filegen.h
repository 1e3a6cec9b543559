// Transaction files for tests, benchmarks and fuzzing: single messages built
// from {element: value}, and whole valid batch files of any size with their
// MAC, into which named faults can be injected at chosen messages.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "mac/key_install.h"

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
// `starts`, when given, receives where each element (its prefix, if any)
// starts within the message.
std::string BuildMessage(std::string_view mti, const std::map<int, std::string>& elements,
                         std::map<int, std::size_t>* starts = nullptr);

// The default key of the window and kalvrin-check, and its check value.
inline constexpr std::string_view kDefaultKey = kalvrin::kDefaultKey;

// A fault to inject: a rule id of kalvrin-check verify and the record (the
// message number, counted from 1 as the grid's Rec#) it goes into; record 0
// picks a suitable record that holds no other fault, where the faults
// already placed neither hide it from verify nor are hidden by it.
struct Fault {
  std::string rule;
  std::int64_t record = 0;
};

// Where a fault went: what verify is to report for it.
struct Injected {
  std::string rule;
  std::int64_t record = 0;   // 0: the file as a whole
  int element = 0;           // 0: none
  std::int64_t offset = -1;  // the first offending byte, -1: none
  std::string what;
  std::string hiddenBy;  // in `hidden`: the fault that keeps verify from finding it, as "RULE at record N"
};

struct FileOptions {
  std::uint64_t size = 0;  // the file is the smallest whole number of records reaching this size
  std::uint32_t seed = 1;
  std::string key{kDefaultKey};  // the MAC key: check values and the declared MAC (MACNSP)
  std::string mac{};             // when not empty, what the trailer declares instead
  std::vector<Fault> faults{};
  double chip = 0;  // the fraction of transactions (0 to 1) that carry chip data in P55 consistent with them
};

struct FileSummary {
  std::uint64_t bytes = 0;
  std::uint64_t messages = 0;  // every message written: the format check's rows
  std::vector<Injected> injected;  // what verify finds, in the order of writing
  std::vector<Injected> hidden;    // written into the file, but another fault keeps verify from finding it
  std::string error;  // a fault that cannot be injected into this file; nothing is written then
};

inline constexpr std::size_t kRecordLength = 512;  // including the CR LF
inline constexpr std::size_t kMacHeaderLength = 60;

// The rule ids GenerateFile can inject, in the order it injects them into
// one record.
const std::vector<std::string_view>& InjectableFaults();

// A 60-byte MAC header record and CR LF, the 1644 file header (P53 with the
// key's check value), batches of 1140/1240/1440 transactions each closed by
// a 1542 with its totals, then the 1844 trailer with function code 971 and
// the MACNSP MAC of the key. Every date is a calendar date, every card number
// passes the Luhn check, S71 counts the messages from 1, and every message is
// padded with spaces to 510 bytes and followed by CR LF. The bytes go to
// `sink` in pieces.
FileSummary GenerateFile(const FileOptions& options, const std::function<void(std::string_view)>& sink);

// The whole file as one string (for small sizes).
std::string GenerateFileBytes(const FileOptions& options, FileSummary* summary = nullptr);

// Writes the file to `path`; false when it cannot be written or a fault
// cannot be injected (summary->error says which), and what stood at the
// path is then left as it was.
bool WriteGeneratedFile(const std::filesystem::path& path, const FileOptions& options, FileSummary* summary = nullptr);

}  // namespace kalvrin::filegen
