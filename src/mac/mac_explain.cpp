// The explanation's judgement and its words: the variants first, then the
// key's check value, then the candidates.
#include "mac/mac_explain.h"

#include <set>

#include "mac/key_install.h"
#include "mac/mac_candidates.h"
#include "mac/mac_envelope.h"
#include "mac/wipe.h"

namespace kalvrin {

namespace {

constexpr std::array<MacForm, 3> kVariantForms = {MacForm::All, MacForm::Nhd, MacForm::Nsp};

bool SameHexDigits(std::string_view a, std::string_view b) {
  auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (upper(a[i]) != upper(b[i])) return false;
  }
  return true;
}

bool IsSpecified(MacForm form) { return form == MacForm::All || form == MacForm::Nhd || form == MacForm::Nsp; }

// How the file's own line ends read: "CR LF", "LF", "CR", "mixed line ends".
std::string_view LineEndsOf(const LineEndCounts& c) {
  const int kinds = (c.crlf > 0) + (c.loneLf > 0) + (c.loneCr > 0);
  if (kinds == 0) return "no line ends";
  if (kinds > 1) return "mixed line ends";
  return c.crlf > 0 ? "CR LF" : c.loneLf > 0 ? "LF" : "CR";
}

}  // namespace

std::vector<MacCandidate> MacCandidates(int keyDigits) {
  std::vector<MacCandidate> list;
  for (std::size_t f = 0; f < kMacFormCount; ++f) {
    const auto form = static_cast<MacForm>(f);
    if (form == MacForm::All) continue;  // it covers the declared MAC itself
    for (std::size_t c = 0; c < kMacCauseCount; ++c) {
      const auto cause = static_cast<MacCause>(c);
      const MacCauseInfo& info = kMacCauses[c];
      if (cause == MacCause::None && IsSpecified(form)) continue;
      if (info.lineEnds && !FormInfo(form).keepsLineEnds) continue;
      if (info.doubleKey && keyDigits != 32) continue;
      list.push_back({form, cause});
    }
  }
  return list;
}

MacExplanation ExplainFileMac(TransactionFile& file, std::string_view key, const std::array<std::string, 3>* known,
                              const ExplainProgress& progress) {
  MacExplanation ex;
  CandidateKeys keys;
  WipeGuard<CandidateKeys> guard(keys);
  char kcv[kKcvDigits + 1] = {};
  if (!ReadCandidateKeys(key, keys) || CreateKCV(kcv, key, static_cast<int>(kKcvDigits)) == 0) {
    ex.failure = "the key must be 16 or 32 hex digits";
    return ex;
  }
  ex.keyKcv = kcv;

  MacRecords records;
  MacLookupProgress going;
  if (progress) going = [&](std::int64_t) { return progress(0, 2 * file.Size()); };
  const MacEnvelopeLookup envelope = LookUpMacRecords(file, records, going);
  if (envelope.stopped) {
    ex.stopped = true;
    return ex;
  }
  if (!envelope.found) {
    ex.failure = std::string(envelope.status.empty() ? "no MAC envelope" : envelope.status);
    return ex;
  }
  if (records.trailerLength == 0) {
    ex.failure = "the file has no trailer, so it declares no MAC";
    return ex;
  }
  ex.declaredMac = DeclaredMac(records);
  const std::string_view settings = DeclaredSettings(records);
  ex.declaredKcv = std::string(settings.substr(std::min(settings.size(), kMacKcvAt - kMacMethodAt), kKcvDigits));

  if (known != nullptr) {
    for (std::size_t v = 0; v < 3; ++v) {
      if (!(*known)[v].empty() && SameHexDigits((*known)[v], ex.declaredMac)) {
        ex.variants = *known;
        ex.result = ExplainResult::NotNeeded;
        ex.matchingVariant = kVariantForms[v];
        return ex;
      }
    }
  }

  const bool rightKey = SameHexDigits(ex.keyKcv, ex.declaredKcv);
  std::vector<MacCandidate> asked(kVariantForms.size());
  for (std::size_t v = 0; v < 3; ++v) asked[v] = {kVariantForms[v], MacCause::None};
  const std::vector<MacCandidate> candidates = rightKey ? MacCandidates(keys.doubleKey ? 32 : 16)
                                                        : std::vector<MacCandidate>{};
  asked.insert(asked.end(), candidates.begin(), candidates.end());

  const MacFormLayout layout{records.headerLength, file.Size() - records.trailerLength, file.Size()};
  const CandidateReader reader = [&file](std::int64_t at, std::uint8_t* bytes, std::size_t count) -> std::size_t {
    if (file.Position() != at && !file.Seek(at)) return 0;
    return file.Read(bytes, count);
  };
  const CandidateComputation computed = ComputeCandidates(reader, layout, keys, asked, progress);
  ex.lineEnds = computed.lineEnds;
  if (computed.stopped) {
    ex.stopped = true;
    return ex;
  }
  for (std::size_t v = 0; v < 3; ++v) ex.variants[v] = computed.macs[v];
  for (std::size_t v = 0; v < 3; ++v) {
    if (SameHexDigits(ex.variants[v], ex.declaredMac)) {
      ex.result = ExplainResult::NotNeeded;
      ex.matchingVariant = kVariantForms[v];
      return ex;
    }
  }
  if (!rightKey) {
    ex.result = ExplainResult::WrongKey;
    return ex;
  }
  std::set<int> distinct;
  for (std::size_t i = 3; i < asked.size(); ++i) {
    if (computed.computations[i] < 0) continue;
    distinct.insert(computed.computations[i]);
    if (SameHexDigits(computed.macs[i], ex.declaredMac)) ex.matches.push_back({asked[i], computed.macs[i]});
  }
  ex.candidatesTried = static_cast<int>(distinct.size());
  ex.result = ex.matches.empty() ? ExplainResult::None : ExplainResult::Matched;
  return ex;
}

std::optional<std::string> FileCandidateMac(TransactionFile& file, MacCandidate candidate, std::string_view key,
                                            std::int64_t* fieldAt) {
  CandidateKeys keys;
  WipeGuard<CandidateKeys> guard(keys);
  MacRecords records;
  if (!ReadCandidateKeys(key, keys) || !LookUpMacRecords(file, records).found || records.trailerLength == 0) {
    return std::nullopt;
  }
  const MacFormLayout layout{records.headerLength, file.Size() - records.trailerLength, file.Size()};
  if (fieldAt != nullptr) *fieldAt = layout.trailerStart + static_cast<std::int64_t>(kTrailerMacAt);
  const CandidateReader reader = [&file](std::int64_t at, std::uint8_t* bytes, std::size_t count) -> std::size_t {
    if (file.Position() != at && !file.Seek(at)) return 0;
    return file.Read(bytes, count);
  };
  const CandidateComputation computed = ComputeCandidates(reader, layout, keys, {candidate});
  if (computed.computations[0] < 0) return std::nullopt;
  return computed.macs[0];
}

std::optional<MacCandidate> CandidateByIds(std::string_view form, std::string_view cause, int keyDigits) {
  for (const MacCandidate& c : MacCandidates(keyDigits)) {
    if (FormInfo(c.form).id == form && CauseInfo(c.cause).id == cause) return c;
  }
  return std::nullopt;
}

std::string CandidateWords(const MacCandidate& candidate, const LineEndCounts& lineEnds) {
  const MacFormInfo& form = FormInfo(candidate.form);
  const MacCauseInfo& cause = CauseInfo(candidate.cause);
  std::string text = std::string(form.id) + " with " + std::string(cause.id) +
                     ": the declared MAC was computed over " + std::string(form.subject);
  if (!cause.words.empty()) text += " " + std::string(cause.words);
  if (!form.suffix.empty()) text += " and " + std::string(form.suffix);
  if (cause.lineEnds) {
    text += "; this file has ";
    text += LineEndsOf(lineEnds);
    text += candidate.cause == MacCause::LineEndsNone ? " (they were added after it was MACed)"
                                                      : " (it was converted after it was MACed)";
  }
  return text;
}

std::string ExplanationLine(const MacExplanation& ex) {
  if (ex.stopped) return "not explained: stopped";
  if (!ex.failure.empty()) return "not explained: " + ex.failure;
  switch (ex.result) {
    case ExplainResult::NotNeeded:
      return "explained: not needed, " + std::string(FormInfo(ex.matchingVariant).id) + " equals the declared MAC";
    case ExplainResult::WrongKey: return "not explained: wrong key";
    case ExplainResult::None:
      return "not explained: the key is right (check value " + ex.keyKcv + " equals the file's), and none of the " +
             std::to_string(ex.candidatesTried) +
             " candidates gives the declared MAC: the content changed after it was MACed, or it was MACed in a "
             "way not tried";
    case ExplainResult::Matched: break;
  }
  std::string text = "explained: " + CandidateWords(ex.matches.front().candidate, ex.lineEnds);
  for (std::size_t i = 1; i < ex.matches.size(); ++i) {
    text += i == 1 ? " (also: " : ", ";
    text += std::string(FormInfo(ex.matches[i].candidate.form).id) + " with " +
            std::string(CauseInfo(ex.matches[i].candidate.cause).id);
  }
  if (ex.matches.size() > 1) text += ")";
  return text;
}

std::string FirstCause(const MacExplanation& ex) {
  if (ex.result != ExplainResult::Matched || ex.matches.empty()) return {};
  const MacCandidate& c = ex.matches.front().candidate;
  return std::string(FormInfo(c.form).id) + "/" + std::string(CauseInfo(c.cause).id);
}

}  // namespace kalvrin
