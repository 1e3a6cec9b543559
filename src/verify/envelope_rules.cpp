// The envelope rules' findings. The texts name the bytes the MAC check reads
// as it counts them.
#include "verify/envelope_rules.h"

#include <algorithm>

#include "iso/format_rules.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"
#include "verify/finding_text.h"

namespace kalvrin::verify {

namespace {

constexpr int kFunctionCode = 24;
constexpr int kSecurity = 53;
constexpr int kMessageNumber = 71;
constexpr int kMac = 128;

// Method, version and key check value as the record and P53 declare them.
constexpr std::size_t kDeclaredLength = kMacKcvAt + kKcvDigits - kMacMethodAt;
constexpr std::size_t kMethodAndVersion = kMacKcvAt - kMacMethodAt;

// The first malformed byte of the record's declared values and what is wrong
// with it, or -1.
std::pair<std::int64_t, std::string_view> FirstMalformed(std::string_view header) {
  if (!IsDigit(header[kMacMethodAt])) {
    return {static_cast<std::int64_t>(kMacMethodAt), "its MAC method (byte 41) is not a digit"};
  }
  if (!IsDigit(header[kMacVersionAt]) || !IsDigit(header[kMacVersionAt + 1])) {
    return {static_cast<std::int64_t>(IsDigit(header[kMacVersionAt]) ? kMacVersionAt + 1 : kMacVersionAt),
            "its MAC version (bytes 42-43) is not two digits"};
  }
  for (std::size_t at = kMacKcvAt; at < kMacKcvAt + kKcvDigits; ++at) {
    if (!IsHex(header[at])) {
      return {static_cast<std::int64_t>(at), "its key check value (bytes 44-51) is not eight hex digits"};
    }
  }
  return {-1, {}};
}

}  // namespace

bool CheckMacHeaderRecord(const FileStart& start, Reporter& report) {
  if (start.size < static_cast<std::int64_t>(kMacHeaderSize)) {
    report(Rule::MacHeader, kNoRecord, kNoOffset, kNoElement,
           "the file has " + std::to_string(start.size) + " bytes, fewer than the 60 of a MAC header record");
    return false;
  }
  const auto [bad, what] = FirstMalformed(start.macHeader);
  if (bad < 0) return true;
  report(Rule::MacHeader, kNoRecord, bad, kNoElement,
         "MAC header record " + Quoted(start.macHeader.substr(kMacMethodAt, kDeclaredLength)) + ": " +
             std::string(what));
  return false;
}

void CheckFileHeaderTest(const FileStart& start, Reporter& report) {
  if (start.fileHeaderFound) return;
  if (start.headerDigit < 0) {
    report(Rule::FileHeader, kNoRecord, kNoOffset, kNoElement,
           "no digit follows the MAC header record, so no 1644 file header");
    return;
  }
  report(Rule::FileHeader, kNoRecord, start.headerDigit, kNoElement,
         "the first digit after the MAC header record begins " + Quoted(start.headerMti) +
             ", not the 1644 file header (File Header not found)");
}

void CheckSecurity(const DecodedMessage& fileHeader, std::string_view macHeader, MessageFileReader& reader,
                   Reporter& report) {
  const DecodedElement* security = CompleteElement(fileHeader, kSecurity);
  if (security == nullptr) return;
  const std::string declared = security->value.substr(0, kDeclaredLength);
  const std::string record(macHeader.substr(kMacMethodAt, kDeclaredLength));
  const bool same = declared.size() == kDeclaredLength &&
                    declared.substr(0, kMethodAndVersion) == record.substr(0, kMethodAndVersion) &&
                    SameHex(declared.substr(kMethodAndVersion), record.substr(kMethodAndVersion));
  if (same) return;
  std::size_t differs = 0;
  while (differs < declared.size() && differs < record.size() &&
         (differs < kMethodAndVersion ? declared[differs] == record[differs]
                                      : SameHex(declared.substr(differs, 1), record.substr(differs, 1)))) {
    ++differs;
  }
  report(Rule::KcvMismatch, 1, reader.OffsetInValue(*security, std::min(differs, security->value.size())), kSecurity,
         "the file header's P53 declares method, version and key check value " + Quoted(declared) +
             ", the MAC header record " + Quoted(record),
         declared, record);
}

TrailerFacts FactsOf(const ReadMessage& trailer) {
  TrailerFacts facts;
  facts.record = trailer.record;
  facts.offset = trailer.decoded.span.offset;
  facts.complete = trailer.broken == MessageBreak::None;
  for (const DecodedElement& element : trailer.decoded.elements) {
    facts.elements.emplace_back(element.number, element.span.offset);
    if (element.number == kMac && element.complete) {
      facts.mac = element.value;
      facts.macOffset = element.span.offset;
    }
  }
  return facts;
}

void CheckTrailerLayout(const TrailerFacts& t, MessageFileReader& reader, Reporter& report) {
  const std::int64_t record = t.record;
  for (const auto& [number, offset] : t.elements) {
    if (number == kFunctionCode || number == kMessageNumber || number == kMac) continue;
    report(Rule::TrailerMac, record, offset, number,
           "the trailer carries " + ElementName(number) +
               " beyond P24, S71 and S128, so the MAC check reads its function code and MAC at the wrong bytes");
    return;
  }
  const auto at = [&t](int number) -> std::int64_t {
    for (const auto& [n, offset] : t.elements) {
      if (n == number) return offset;
    }
    return -1;
  };
  const std::int64_t functionCode = at(kFunctionCode) - t.offset;
  if (functionCode != static_cast<std::int64_t>(kTrailerFunctionCodeAt)) {
    report(Rule::TrailerMac, record, at(kFunctionCode), kFunctionCode,
           "the trailer's P24 stands " + std::to_string(functionCode) +
               " bytes after its MTI, not 36 where the MAC check reads it");
    return;
  }
  if (t.macOffset < 0) {
    report(Rule::TrailerMac, record, t.offset, kMac, "the trailer has no S128, so it declares no MAC");
    return;
  }
  if (t.macOffset - t.offset != static_cast<std::int64_t>(kTrailerMacAt)) {
    report(Rule::TrailerMac, record, t.macOffset, kMac,
           "the trailer's S128 stands " + std::to_string(t.macOffset - t.offset) +
               " bytes after its MTI, not 47 where the MAC check reads it");
    return;
  }
  const auto bad = std::find_if_not(t.mac.begin(), t.mac.end(), IsHex);
  if (bad != t.mac.end()) {
    report(Rule::TrailerMac, record,
           reader.OffsetOfCharacter(t.macOffset, static_cast<std::size_t>(bad - t.mac.begin())), kMac,
           "the trailer's MAC " + Quoted(t.mac) + " is not eight hex digits");
  }
}

}  // namespace kalvrin::verify
