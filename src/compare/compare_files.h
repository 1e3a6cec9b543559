// Two batch files compared message by message and element by element. Both
// are read as verify reads them; messages are paired by a key, and what one
// file has and the other lacks, what moved to another batch and what
// changed inside a pair comes out as difference records, in the new file's
// order, then a summary. Memory holds a small entry per message, not the
// files: the elements of a pair are read again by offset only when the pair
// differs.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "verify/finding.h"

namespace kalvrin::compare {

enum class Change { LineEnds, Envelope, Removed, Added, Moved, Changed, Unreadable };

// "line-ends", "envelope", "removed", "added", "moved", "changed", "unreadable".
std::string_view ChangeName(Change change);

inline constexpr std::int64_t kNoRecord = 0;
inline constexpr std::int64_t kNoOffset = -1;
inline constexpr int kNoElement = 0;

struct Difference {
  Change change = Change::Changed;
  std::int64_t oldRecord = kNoRecord;  // verify's record numbers, from 1
  std::int64_t newRecord = kNoRecord;
  std::int64_t oldOffset = kNoOffset;  // of the message's MTI
  std::int64_t newOffset = kNoOffset;
  int element = kNoElement;
  std::string field;                  // envelope only: "method", "version" or "kcv"
  std::optional<std::string> oldValue;  // moved: the batch number, from 1
  std::optional<std::string> newValue;
  std::string key;  // for people, empty when the record concerns no message
};

struct Summary {
  std::int64_t oldMessages = 0;  // unreadable ones included
  std::int64_t newMessages = 0;
  std::int64_t pairs = 0;
  std::int64_t equal = 0;  // pairs without a record
  std::int64_t removed = 0;
  std::int64_t added = 0;
  std::int64_t changed = 0;  // records, not pairs
  std::int64_t moved = 0;
  std::int64_t envelope = 0;
  std::int64_t lineEnds = 0;
  std::int64_t unreadable = 0;

  std::int64_t Records() const { return removed + added + changed + moved + envelope + lineEnds + unreadable; }
};

// Indexed by element number, 2 to 128.
using ElementSet = std::bitset<129>;

struct CompareOptions {
  // The key of transaction messages after the MTI; empty: P2, P11, P12, P37.
  std::vector<int> match;
  ElementSet ignore;  // elements not compared inside a pair
  bool maskCardNumbers = false;
  verify::ProgressCallback progress;  // over both files' bytes, about three reads of each
};

// The default key elements of transaction messages.
inline constexpr std::array<int, 4> kDefaultMatch = {2, 11, 12, 37};

// An element list as the command line writes it, "P2,P11" or "S71": P2 to
// P63 and S65 to S128, separated by commas. nullopt and `error` set for
// anything else.
std::optional<std::vector<int>> ParseElementList(std::string_view text, std::string& error);

class DifferenceSink {
 public:
  virtual ~DifferenceSink() = default;
  virtual void OnDifference(const Difference& difference) = 0;
};

struct CompareResult {
  bool read = false;   // false: a file could not be read, see error
  std::string error;   // names the file
  std::string errorPath;  // the file it concerns
  bool stopped = false;
  Summary summary;
};

// Compares the two files; differences go to `sink` in order, the summary
// comes back.
CompareResult CompareFiles(std::string_view oldPath, std::string_view newPath, const CompareOptions& options,
                           DifferenceSink& sink);

// The kinds of line end a file holds: "CR LF", "LF", "CR", "none" or
// "mixed". Empty and `failed` set when the file cannot be read. `going`
// hears the bytes read after each block; false ends the scan early (its
// answer is then of no use).
std::string LineEndKind(std::string_view path, bool& failed, const std::function<bool(std::int64_t)>& going = {});

}  // namespace kalvrin::compare
