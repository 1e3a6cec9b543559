// The explanation's computation: which candidates give the same bytes on a
// file, and one read of the file for the chains of those that differ.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "mac/des.h"
#include "mac/mac_explain.h"

namespace kalvrin {

// Reads up to `count` bytes at `at`; 0 at the end or on an error.
using CandidateReader = std::function<std::size_t(std::int64_t at, std::uint8_t* bytes, std::size_t count)>;

// The clear key's schedules for one explanation; wiped by its owner.
struct CandidateKeys {
  KeySchedule left{};
  KeySchedule right{};
  bool doubleKey = false;   // a 32-digit key
  bool sameHalves = true;   // its halves are equal (always, for 16 digits)
};

// Reads a 16- or 32-digit key text into keys; false for any other text.
bool ReadCandidateKeys(std::string_view keyText, CandidateKeys& keys);

struct CandidateComputation {
  std::vector<std::string> macs;    // one per candidate asked for, in its order
  std::vector<int> computations;    // which distinct computation each is
  LineEndCounts lineEnds;           // the whole file's
  bool stopped = false;
};

// The MACs of the candidates over the file the reader reads (the layout's
// size bytes), a candidate the engine cannot compute (no EBCDIC table on
// this system, a 32-digit cause under a 16-digit key) left empty with
// computation -1. Candidates may include plain MACALL, MACNHD and MACNSP.
CandidateComputation ComputeCandidates(const CandidateReader& reader, const MacFormLayout& layout,
                                       const CandidateKeys& keys, const std::vector<MacCandidate>& candidates,
                                       const ExplainProgress& progress = {});

// Latin-1 to an EBCDIC code page as the system's iconv converts it ("IBM037",
// "IBM500", "IBM1047"); nullptr when it cannot.
const std::array<std::uint8_t, 256>* EbcdicTable(MacCause cause);

}  // namespace kalvrin
