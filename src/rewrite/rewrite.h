// Test copies of a transaction file: the input read as verify reads it,
// edited, optionally anonymised, renumbered, re-totalled and re-MACed, and
// written to a new file. The input is never opened for writing; the copy is
// written to a temporary file beside OUT and renamed over it only when all
// went well, so a failure leaves no half-written copy.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rewrite/edits.h"
#include "verify/finding.h"

namespace kalvrin::rewrite {

// The MAC variants S128 may be written in, as the MAC check orders them.
inline constexpr std::array<std::string_view, 3> kMacVariantNames = {"MACALL", "MACNHD", "MACNSP"};
inline constexpr std::size_t kMacAll = 0, kMacNhd = 1, kMacNsp = 2;

struct RewriteOptions {
  std::vector<Edit> edits;      // applied in this order
  bool anonymize = false;
  std::string anonymizeSecret;  // the mapping's key; empty: a random one, forgotten at the end
  bool renumber = false;        // S71 counts 1, 2, 3 ... in OUT's order
  bool retotal = false;         // totals as verify computes them, in the reading the message uses
  bool remac = false;           // S128 (and, for another key, its check value) for `key`
  std::string key;
  std::optional<std::size_t> macVariant;  // index into kMacVariantNames; default: the one that matched in IN
  verify::ProgressCallback progress;      // the main read of IN; false stops the rewrite
};

// One change made, for the report. Card data never stands whole in it.
struct Change {
  std::int64_t record = 0;     // IN's record (0: the file as a whole; for stray text the message before it)
  std::int64_t outRecord = 0;  // where the message stands in OUT (0: deleted, a copy, or not a message)
  int element = 0;             // 0: the whole message, or text between messages
  std::string what;            // set, unset, delete, copy, renumber, retotal, anonymize, strayText, kcv, mac
  std::string before;
  std::string after;
};
using ChangeSink = std::function<void(const Change&)>;

struct RewriteResult {
  bool written = false;
  std::string error;          // one line when nothing was written
  bool badEdit = false;       // the error is an edit's (a record IN does not have, a broken message)
  std::int64_t messagesIn = 0;
  std::int64_t messagesOut = 0;
  std::int64_t changes = 0;
  std::size_t cardNumbers = 0;    // distinct card numbers of IN, with --anonymize
  std::size_t cardMapBytes = 0;   // what their mapping held
  std::string macVariant;         // with --remac: the variant written
  std::string mac;                // and its MAC
  std::string note;               // why the variant is not the one asked or matched
};

// Checks the options before anything is read: the key for remac, the MAC
// variant, OUT not being IN. Empty when they are fine.
std::string OptionsRefusal(std::string_view in, std::string_view out, const RewriteOptions& options);

RewriteResult RewriteFile(std::string_view in, std::string_view out, const RewriteOptions& options,
                          const ChangeSink& changes = {});

}  // namespace kalvrin::rewrite
