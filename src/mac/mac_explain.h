// Why a declared MAC equals none of the three variants: a fixed set of
// candidates, each a form of the MAC's byte range with one cause applied,
// tried over the file, and the ones that give the declared MAC named.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "io/transaction_file.h"

namespace kalvrin {

// The bytes that reach the MAC, before masking. The first three are the
// MAC check's own variants.
enum class MacForm : std::uint8_t { All, Nhd, Nsp, AllZeros, AllSpaces, AllToTrailer, NhdEnvelope, NspEnvelope };
inline constexpr std::size_t kMacFormCount = 8;

// What the sender did differently, one at a time.
enum class MacCause : std::uint8_t {
  None, LineEndsCrlf, LineEndsLf, LineEndsNone, Ebcdic037, Ebcdic500, Ebcdic1047,
  NoMask, Pad80, RightHalf, Retail, TdesCbc, KeyRight };
inline constexpr std::size_t kMacCauseCount = 13;

struct MacFormInfo {
  std::string_view id;
  std::string_view subject;  // "the declared MAC was computed over <subject>"
  std::string_view suffix;   // and then, after the cause's words: "and <suffix>"
  bool keepsLineEnds;        // line-end causes apply
};
inline constexpr std::array<MacFormInfo, kMacFormCount> kMacForms{{
    {"MACALL", "every byte of the file", "", true},
    {"MACNHD", "the bytes between the MAC header and the trailer without CR, LF and TAB", "", false},
    {"MACNSP", "the bytes between the MAC header and the trailer without CR, LF, TAB and spaces", "", false},
    {"MACALL-zeros", "the file", "its MAC field as zeros", true},
    {"MACALL-spaces", "the file", "its MAC field as spaces", true},
    {"MACALL-to-trailer", "the file up to the trailer", "", true},
    {"MACNHD-envelope", "the whole file, MAC header and trailer included, without CR, LF, TAB and the trailer's MAC",
     "", false},
    {"MACNSP-envelope",
     "the whole file, MAC header and trailer included, without CR, LF, TAB, spaces and the trailer's MAC", "", false},
}};

struct MacCauseInfo {
  std::string_view id;
  std::string_view words;  // after the form's subject
  bool lineEnds;           // only on forms that keep CR and LF
  bool doubleKey;          // only with a 32-digit key
};
inline constexpr std::array<MacCauseInfo, kMacCauseCount> kMacCauses{{
    {"none", "", false, false},
    {"line-ends-crlf", "with CR LF line ends", true, false},
    {"line-ends-lf", "with LF line ends", true, false},
    {"line-ends-none", "without its line ends", true, false},
    {"ebcdic-037", "in EBCDIC (code page 037), no byte masked", false, false},
    {"ebcdic-500", "in EBCDIC (code page 500), no byte masked", false, false},
    {"ebcdic-1047", "in EBCDIC (code page 1047), no byte masked", false, false},
    {"no-mask", "without masking the bytes outside 0x20 to 0x7E", false, false},
    {"pad-80", "padded with 0x80 and zeros (ISO/IEC 9797-1 padding method 2)", false, false},
    {"right-half", "taking the right half of the last block as the MAC", false, false},
    {"retail", "as a retail MAC (ISO/IEC 9797-1 MAC algorithm 3) under the 32-digit key", false, true},
    {"tdes-cbc", "as a CBC-MAC under two-key triple DES", false, true},
    {"key-right", "under the right half of the 32-digit key", false, true},
}};

constexpr const MacFormInfo& FormInfo(MacForm form) { return kMacForms[static_cast<std::size_t>(form)]; }
constexpr const MacCauseInfo& CauseInfo(MacCause cause) { return kMacCauses[static_cast<std::size_t>(cause)]; }

struct MacCandidate {
  MacForm form;
  MacCause cause;
  bool operator==(const MacCandidate&) const = default;
};

// Every candidate tried for a key of keyDigits (16 or 32), in the order of
// the forms and, for each form, of the causes; plain MACALL, MACNHD and
// MACNSP are not among them.
std::vector<MacCandidate> MacCandidates(int keyDigits);

// A form's bytes from the positions of a file's envelope: the MAC header
// record's end (the file header's start), the trailer's start and the file's
// size; the trailer's MAC field is at trailerStart + kTrailerMacAt.
struct MacFormLayout {
  std::int64_t headerLength = 0;
  std::int64_t trailerStart = 0;
  std::int64_t size = 0;
};

// One candidate's MAC (8 upper-case hex digits) over a whole file held in
// memory, under a 16- or 32-digit key; nullopt for a key that is neither or
// a cause the key cannot take. The explanation's own computation, for the
// generator and the tests.
std::optional<std::string> CandidateMac(std::string_view fileBytes, const MacFormLayout& layout, MacCandidate candidate,
                                        std::string_view key);

// The same over an open file, its layout from its envelope; also nullopt
// for a file without a trailer. Where the file's MAC field starts, for a
// caller that writes the MAC there, goes to fieldAt when given.
std::optional<std::string> FileCandidateMac(TransactionFile& file, MacCandidate candidate, std::string_view key,
                                            std::int64_t* fieldAt = nullptr);

// The candidate named by its form's and cause's ids, when a sender could
// have made it under a key of keyDigits: not plain MACALL, a line-end cause
// only on a form that keeps line ends, the last three causes only with 32
// digits.
std::optional<MacCandidate> CandidateByIds(std::string_view form, std::string_view cause, int keyDigits);

enum class ExplainResult { Matched, None, WrongKey, NotNeeded };
inline constexpr std::array<std::string_view, 4> kExplainResultIds = {"matched", "none", "wrong-key", "not-needed"};

struct MacCandidateMatch {
  MacCandidate candidate;
  std::string computed;
};

// The file's line ends, to say what a line-end cause changed.
struct LineEndCounts {
  std::int64_t crlf = 0;
  std::int64_t loneCr = 0;
  std::int64_t loneLf = 0;
};

struct MacExplanation {
  ExplainResult result = ExplainResult::None;
  int candidatesTried = 0;
  std::vector<MacCandidateMatch> matches;  // in the order of MacCandidates
  MacForm matchingVariant = MacForm::All;  // NotNeeded: the first variant equal to the declared MAC
  std::array<std::string, 3> variants;     // MACALL's, MACNHD's and MACNSP's MAC as computed here
  std::string keyKcv;                      // the key's check value (8 digits)
  std::string declaredKcv;
  std::string declaredMac;
  LineEndCounts lineEnds;
  std::string failure;  // None without trying: why (no trailer, bad key, unreadable file)
  bool stopped = false; // the caller ended it
};

// What the caller hears while the file is read: bytes done of bytes to do;
// false stops the explanation.
using ExplainProgress = std::function<bool(std::int64_t done, std::int64_t total)>;

// The explanation over an open file under a 16- or 32-digit key text. When
// the MAC check has already computed MACALL, MACNHD and MACNSP (a 16-digit
// key), known holds them and one of them equal to the declared MAC ends it
// without a read. Reads the file twice at most after its envelope: once for
// which candidates give the same bytes, once for their chains, the chains
// shared between both cores. Safe to call from several threads at once.
MacExplanation ExplainFileMac(TransactionFile& file, std::string_view key,
                              const std::array<std::string, 3>* known = nullptr, const ExplainProgress& progress = {});

// The candidate in words: "MACALL-zeros with line-ends-lf: the declared MAC
// was computed over the file with LF line ends and its MAC field as zeros".
std::string CandidateWords(const MacCandidate& candidate, const LineEndCounts& lineEnds);

// The one line kalvrin-check prints: "explained: ...", "not explained: ...".
std::string ExplanationLine(const MacExplanation& explanation);

// "FORM/CAUSE" of the first match, or empty.
std::string FirstCause(const MacExplanation& explanation);

}  // namespace kalvrin
