// What the verify pass reports: one finding per fault, handed to a sink as
// soon as it is known, and a progress callback, so that a window can list
// findings and move a bar while a large file is read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kalvrin::verify {

enum class Severity { Error, Warning };

constexpr std::string_view SeverityName(Severity severity) {
  return severity == Severity::Error ? "error" : "warning";
}

inline constexpr std::int64_t kNoRecord = 0;   // the finding concerns the file
inline constexpr std::int64_t kNoOffset = -1;  // no byte of the file is at fault
inline constexpr int kNoElement = 0;

struct Finding {
  std::string_view rule;  // a rule id of kRules, e.g. "element.date"
  Severity severity = Severity::Error;
  std::int64_t record = kNoRecord;  // counted from 1 in file order, as the grid's Rec#
  std::int64_t offset = kNoOffset;  // the first offending byte
  int element = kNoElement;
  std::string message;  // with the values involved; bytes as the file holds them
  std::optional<std::string> declared;
  std::optional<std::string> computed;
  // With the MAC explanation asked for (mac.mismatch only): the first
  // candidate that gives the declared MAC, FORM/CAUSE, empty for none.
  bool explained = false;
  std::string cause;
};

// Receives the findings of one file in the order the pass meets them.
class FindingSink {
 public:
  virtual ~FindingSink() = default;
  virtual void OnFinding(const Finding& finding) = 0;
};

// Bytes read so far and the file's size; returning false stops the pass
// (its summary then says it was stopped). Called a few thousand times per
// file at most.
using ProgressCallback = std::function<bool(std::int64_t done, std::int64_t total)>;

// "P12" or "S86": how findings and the grid name an element.
inline std::string ElementName(int element) {
  return (element < 65 ? "P" : "S") + std::to_string(element);
}

}  // namespace kalvrin::verify
