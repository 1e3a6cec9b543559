// The MAC explanation: each candidate's computation against OpenSSL and the
// ISO/IEC 9797-1 steps written out here, and files whose declared MAC was
// made under one cause explained with that cause.
#include <iconv.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "io/transaction_file.h"
#include "mac/key_install.h"
#include "mac/mac_envelope.h"
#include "mac/mac_explain.h"
#include "support/check_runner.h"
#include "support/mac_files.h"
#include "support/reference_mac.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::MacHeader;
using test::Masked;
using test::OpenSslEcb;
using test::Record;
using test::TempFile;
using test::Trailer;
using test::Without;

constexpr std::string_view kSingleKey = "A4F1C07B3E9D2658";
constexpr std::string_view kDoubleKey = "A4F1C07B3E9D26580123456789ABCDEF";

DesBytes BytesOfHex(std::string_view hex) {
  DesBytes out{};
  HexToBytes(out.data(), hex, out.size());
  return out;
}

// ISO/IEC 9797-1's steps over OpenSSL's block cipher: padding method 1 (none
// for an empty message) or 2, CBC under DES or two-key triple DES, MAC
// algorithm 3's last two steps, and either half of the last block.
struct Steps {
  bool pad80 = false;
  bool ede = false;
  bool retail = false;
  bool rightHalf = false;
  bool rightKey = false;  // single DES under the key's right half
};
std::string ReferenceMac(std::string data, std::string_view keyHex, const Steps& steps) {
  std::array<std::uint8_t, 16> key{};
  HexToBytes(key.data(), keyHex, keyHex.size() / 2);
  if (keyHex.size() == 16) std::copy_n(key.begin(), 8, key.begin() + 8);
  const std::uint8_t* single = steps.rightKey ? key.data() + 8 : key.data();
  if (steps.pad80) data.push_back('\x80');
  data.resize((data.size() + 7) / 8 * 8, '\0');
  DesBytes value{};
  for (std::size_t at = 0; at < data.size(); at += 8) {
    DesBytes block;
    for (std::size_t i = 0; i < 8; ++i) block[i] = static_cast<std::uint8_t>(data[at + i]) ^ value[i];
    value = BytesOfHex(steps.ede ? OpenSslEcb("DES-EDE-ECB", key.data(), block, true)
                                 : OpenSslEcb("DES-ECB", single, block, true));
  }
  if (steps.retail) {
    value = BytesOfHex(OpenSslEcb("DES-ECB", key.data() + 8, value, false));
    value = BytesOfHex(OpenSslEcb("DES-ECB", key.data(), value, true));
  }
  char text[9];
  BytesToHex(text, value.data() + (steps.rightHalf ? 4 : 0), 4);
  return text;
}

// The whole text through iconv at once.
std::string Ebcdic(const std::string& text, const char* codePage) {
  iconv_t cd = iconv_open(codePage, "ISO-8859-1");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << codePage;
  std::string out(text.size() + 1, '\0');
  char* in = const_cast<char*>(text.data());
  char* to = out.data();
  std::size_t inLeft = text.size();
  std::size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &to, &outLeft);
  iconv_close(cd);
  out.resize(text.size());
  return out;
}

// Line ends rewritten: every CR LF, lone CR and lone LF as `to`.
std::string LineEnds(const std::string& text, std::string_view to) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += to;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A form's bytes of a file, cut out here as the forms are described.
std::string FormBytes(const std::string& file, const MacFormLayout& l, MacForm form) {
  const auto at = [&](std::int64_t offset) { return static_cast<std::size_t>(std::min<std::int64_t>(offset, l.size)); };
  const std::size_t field = at(l.trailerStart + 47);
  const std::size_t fieldEnd = at(l.trailerStart + 55);
  std::string withoutField = file;
  withoutField.erase(field, fieldEnd - field);
  std::string zeros = file;
  std::string spaces = file;
  std::fill(zeros.begin() + static_cast<std::ptrdiff_t>(field), zeros.begin() + static_cast<std::ptrdiff_t>(fieldEnd), '0');
  std::fill(spaces.begin() + static_cast<std::ptrdiff_t>(field), spaces.begin() + static_cast<std::ptrdiff_t>(fieldEnd), ' ');
  const std::string range = file.substr(at(l.headerLength), at(l.trailerStart) - at(l.headerLength));
  switch (form) {
    case MacForm::All: return file;
    case MacForm::Nhd: return Without(range, "\r\n\t");
    case MacForm::Nsp: return Without(range, "\r\n\t ");
    case MacForm::AllZeros: return zeros;
    case MacForm::AllSpaces: return spaces;
    case MacForm::AllToTrailer: return file.substr(0, at(l.trailerStart));
    case MacForm::NhdEnvelope: return Without(withoutField, "\r\n\t");
    case MacForm::NspEnvelope: return Without(withoutField, "\r\n\t ");
  }
  return {};
}

// The candidate's MAC as the cause's table says to reproduce it.
std::string ReferenceCandidate(const std::string& file, const MacFormLayout& layout, MacCandidate c,
                               std::string_view key) {
  const std::string form = FormBytes(file, layout, c.form);
  const std::string left(key.substr(0, 16));
  switch (c.cause) {
    case MacCause::None: return ReferenceMac(Masked(form), left, {});
    case MacCause::LineEndsCrlf: return ReferenceMac(Masked(LineEnds(form, "\r\n")), left, {});
    case MacCause::LineEndsLf: return ReferenceMac(Masked(LineEnds(form, "\n")), left, {});
    case MacCause::LineEndsNone: return ReferenceMac(Masked(LineEnds(form, "")), left, {});
    case MacCause::Ebcdic037: return ReferenceMac(Ebcdic(form, "IBM037"), left, {});
    case MacCause::Ebcdic500: return ReferenceMac(Ebcdic(form, "IBM500"), left, {});
    case MacCause::Ebcdic1047: return ReferenceMac(Ebcdic(form, "IBM1047"), left, {});
    case MacCause::NoMask: return ReferenceMac(form, left, {});
    case MacCause::Pad80: return ReferenceMac(Masked(form), left, {.pad80 = true});
    case MacCause::RightHalf: return ReferenceMac(Masked(form), left, {.rightHalf = true});
    case MacCause::Retail: return ReferenceMac(Masked(form), key, {.retail = true});
    case MacCause::TdesCbc: return ReferenceMac(Masked(form), key, {.ede = true});
    case MacCause::KeyRight: return ReferenceMac(Masked(form), key, {.rightKey = true});
  }
  return {};
}

std::string Label(MacCandidate c) {
  return std::string(FormInfo(c.form).id) + "/" + std::string(CauseInfo(c.cause).id);
}

// Random bytes weighted towards the ones the causes treat apart.
std::string RandomBytes(std::mt19937& random, std::size_t length) {
  constexpr std::string_view kSpecial = "\r\n\t [ ]!^|0A\x80\xAA\xFF\x01";
  std::string bytes(length, '\0');
  for (char& c : bytes) {
    const auto pick = random();
    c = pick % 2 == 0 ? kSpecial[(pick >> 1) % kSpecial.size()] : static_cast<char>(pick >> 8);
  }
  return bytes;
}

// Each candidate's computation over random data around the block edges,
// the data as a file whose MAC header ends at a quarter and whose trailer
// starts at the half (its MAC field past the end for the short ones).
TEST(MacCandidateComputation, EveryCandidateAgreesWithTheReferenceOnRandomData) {
  std::mt19937 random(2026);
  const std::vector<MacCandidate> all = MacCandidates(32);
  for (std::size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 3, 5, 11, 13, 64, 130, 250}) {
    for (int round = 0; round < 2; ++round) {
      const std::string data = RandomBytes(random, length);
      const auto size = static_cast<std::int64_t>(length);
      const MacFormLayout layout{size / 4, size / 2, size};
      for (const MacCandidate c : all) {
        SCOPED_TRACE(Label(c) + " length " + std::to_string(length));
        EXPECT_EQ(CandidateMac(data, layout, c, kDoubleKey), ReferenceCandidate(data, layout, c, kDoubleKey));
      }
      for (const MacForm form : {MacForm::All, MacForm::Nhd, MacForm::Nsp}) {
        EXPECT_EQ(CandidateMac(data, layout, {form, MacCause::None}, kSingleKey),
                  ReferenceCandidate(data, layout, {form, MacCause::None}, kSingleKey));
      }
    }
  }
}

TEST(MacCandidateComputation, KeysTheCandidatesCannotTake) {
  EXPECT_EQ(CandidateMac("abc", {0, 3, 3}, {MacForm::AllZeros, MacCause::Retail}, kSingleKey), std::nullopt);
  EXPECT_EQ(CandidateMac("abc", {0, 3, 3}, {MacForm::AllZeros, MacCause::None}, "A4F1"), std::nullopt);
  EXPECT_EQ(CandidateMac("abc", {0, 3, 3}, {MacForm::AllZeros, MacCause::None}, "A4F1C07B3E9D265G"), std::nullopt);
  EXPECT_EQ(MacCandidates(16).size(), 56U);
  EXPECT_EQ(MacCandidates(32).size(), 77U);
}

// A small enveloped batch: MAC header, file header, messages with spaces,
// a TAB and bytes outside 0x20..0x7E, the trailer with its MAC to fill in.
struct Batch {
  std::string bytes;
  MacFormLayout layout;
};
Batch MakeBatch(std::string_view kcv, int messages = 6) {
  Batch b;
  const std::string head = MacHeader(std::string("101") + std::string(kcv)) + "\r\n";
  b.bytes = head + Record(test::FileHeaderMessage()) + test::BatchMessages(messages) + "1240[a]!^|\r\n";
  b.layout.headerLength = static_cast<std::int64_t>(head.size());
  b.layout.trailerStart = static_cast<std::int64_t>(b.bytes.size());
  b.bytes += Record(Trailer("FFFFFFFF"));
  b.layout.size = static_cast<std::int64_t>(b.bytes.size());
  return b;
}

void Declare(Batch& b, std::string_view mac) {
  b.bytes.replace(static_cast<std::size_t>(b.layout.trailerStart) + 47, 8, mac);
}

MacExplanation Explain(const std::string& bytes, std::string_view key) {
  const TempFile temp(bytes);
  TransactionFile file(temp.str());
  return ExplainFileMac(file, key);
}

std::string KcvOf(std::string_view key) {
  char kcv[9] = {};
  CreateKCV(kcv, key, 8);
  return kcv;
}

// For every cause and form it applies to: a batch whose declared MAC was
// made under that candidate is explained with it, and whatever else is
// listed gives that MAC too.
TEST(MacExplanation, EachCandidateNamesItsCause) {
  for (const std::string_view key : {kSingleKey, kDoubleKey}) {
    Batch batch = MakeBatch(KcvOf(key));
    for (const MacCandidate c : MacCandidates(static_cast<int>(key.size()))) {
      SCOPED_TRACE(Label(c) + " key of " + std::to_string(key.size()));
      const std::string declared = ReferenceCandidate(batch.bytes, batch.layout, c, key);
      Declare(batch, declared);
      const MacExplanation ex = Explain(batch.bytes, key);
      ASSERT_EQ(ex.result, ExplainResult::Matched) << ExplanationLine(ex);
      EXPECT_TRUE(std::ranges::any_of(ex.matches, [&](const auto& m) { return m.candidate == c; }))
          << ExplanationLine(ex);
      for (const MacCandidateMatch& m : ex.matches) {
        EXPECT_EQ(ReferenceCandidate(batch.bytes, batch.layout, m.candidate, key), declared) << Label(m.candidate);
      }
      EXPECT_GT(ex.candidatesTried, 0);
      EXPECT_LE(ex.candidatesTried, static_cast<int>(MacCandidates(static_cast<int>(key.size())).size()));
    }
  }
}

TEST(MacExplanation, JudgementBeforeTheCandidates) {
  Batch batch = MakeBatch(KcvOf(kSingleKey));
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::Nsp, MacCause::None}, kSingleKey));
  MacExplanation ex = Explain(batch.bytes, kSingleKey);
  EXPECT_EQ(ex.result, ExplainResult::NotNeeded);
  EXPECT_EQ(ExplanationLine(ex), "explained: not needed, MACNSP equals the declared MAC");

  // compared as hex digits, case ignored
  std::string lower = ReferenceCandidate(batch.bytes, batch.layout, {MacForm::AllZeros, MacCause::Pad80}, kSingleKey);
  std::ranges::transform(lower, lower.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  Declare(batch, lower);
  EXPECT_EQ(Explain(batch.bytes, kSingleKey).result, ExplainResult::Matched);

  // wrong key: the file's check value is another key's
  EXPECT_EQ(Explain(batch.bytes, "0123456789ABCDEF").result, ExplainResult::WrongKey);
  EXPECT_EQ(ExplanationLine(Explain(batch.bytes, "0123456789ABCDEF")), "not explained: wrong key");

  // a digit of an amount changed after MACing
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::NspEnvelope, MacCause::None}, kSingleKey));
  const std::size_t amount = batch.bytes.find("000000001234");
  batch.bytes[amount + 8] = '9';
  ex = Explain(batch.bytes, kSingleKey);
  EXPECT_EQ(ex.result, ExplainResult::None);
  EXPECT_TRUE(ex.matches.empty());
  EXPECT_GT(ex.candidatesTried, 20);
  EXPECT_EQ(ExplanationLine(ex), "not explained: the key is right (check value " + KcvOf(kSingleKey) +
                                     " equals the file's), and none of the " + std::to_string(ex.candidatesTried) +
                                     " candidates gives the declared MAC: the content changed after it was MACed, "
                                     "or it was MACed in a way not tried");

  // no trailer: nothing declared, nothing tried
  const std::string noTrailer = batch.bytes.substr(0, static_cast<std::size_t>(batch.layout.trailerStart));
  ex = Explain(noTrailer, kSingleKey);
  EXPECT_EQ(ex.result, ExplainResult::None);
  EXPECT_EQ(ex.candidatesTried, 0);
  EXPECT_EQ(ExplanationLine(ex), "not explained: the file has no trailer, so it declares no MAC");
  EXPECT_EQ(ExplanationLine(Explain(batch.bytes, "12")), "not explained: the key must be 16 or 32 hex digits");
}

// The words of a line-end cause and of several matches.
TEST(MacExplanation, TheLineNamesTheFirstMatchAndTheOthers) {
  Batch batch = MakeBatch(KcvOf(kSingleKey));
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::AllZeros, MacCause::LineEndsLf}, kSingleKey));
  const MacExplanation ex = Explain(batch.bytes, kSingleKey);
  EXPECT_EQ(ExplanationLine(ex),
            "explained: MACALL-zeros with line-ends-lf: the declared MAC was computed over the file with LF line "
            "ends and its MAC field as zeros; this file has CR LF (it was converted after it was MACed)");
  EXPECT_EQ(FirstCause(ex), "MACALL-zeros/line-ends-lf");

  // a file of printable bytes only: no-mask is the same computation as none
  Batch plain;
  const std::string head = MacHeader("101" + KcvOf(kSingleKey));
  plain.bytes = head + "16448000000100000000000000030000000000000069200000000000101";
  plain.layout = {static_cast<std::int64_t>(head.size()), static_cast<std::int64_t>(plain.bytes.size()), 0};
  plain.bytes += Trailer("FFFFFFFF");
  plain.layout.size = static_cast<std::int64_t>(plain.bytes.size());
  Declare(plain, ReferenceCandidate(plain.bytes, plain.layout, {MacForm::NhdEnvelope, MacCause::None}, kSingleKey));
  const MacExplanation both = Explain(plain.bytes, kSingleKey);
  ASSERT_GE(both.matches.size(), 2U);
  EXPECT_EQ(ExplanationLine(both).substr(0, 40), "explained: MACNHD-envelope with none: th");
  EXPECT_NE(ExplanationLine(both).find("(also: MACNHD-envelope with no-mask"), std::string::npos);
}

// A batch over several of the pass's pieces, its trailer in another piece
// than its start: the shared chains part at the trailer as they should.
TEST(MacExplanation, LargeBatchAcrossPieces) {
  Batch batch = MakeBatch(KcvOf(kSingleKey), 2500);
  ASSERT_GT(batch.bytes.size(), std::size_t{700} << 10);
  const std::string form = FormBytes(batch.bytes, batch.layout, MacForm::AllSpaces);
  Declare(batch, test::OpenSslMac(kSingleKey, Masked(LineEnds(form, "\n"))));
  MacExplanation ex = Explain(batch.bytes, kSingleKey);
  ASSERT_EQ(ex.result, ExplainResult::Matched);
  EXPECT_EQ(FirstCause(ex), "MACALL-spaces/line-ends-lf");

  Declare(batch, test::OpenSslMac(kSingleKey, Ebcdic(FormBytes(batch.bytes, batch.layout, MacForm::Nsp), "IBM500")));
  ex = Explain(batch.bytes, kSingleKey);
  ASSERT_EQ(ex.result, ExplainResult::Matched);
  EXPECT_TRUE(std::ranges::any_of(ex.matches, [](const auto& m) { return m.candidate.cause == MacCause::Ebcdic500; }));
}

TEST(MacExplanation, StopsWhenAsked) {
  Batch batch = MakeBatch(KcvOf(kSingleKey), 200);
  const TempFile temp(batch.bytes);
  TransactionFile file(temp.str());
  int calls = 0;
  const MacExplanation ex = ExplainFileMac(file, kSingleKey, nullptr, [&](std::int64_t, std::int64_t) {
    return ++calls < 2;
  });
  EXPECT_TRUE(ex.stopped);
  EXPECT_EQ(ExplanationLine(ex), "not explained: stopped");
}

// kalvrin-check mac --explain: the line after the usual report, the object
// in the JSON, the exit status the check gives.
TEST(MacExplainCommand, EveryOutputFormKeepsTheCheckAndAddsTheExplanation) {
  Batch batch = MakeBatch(KcvOf(kSingleKey));
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::AllZeros, MacCause::LineEndsLf}, kSingleKey));
  const TempFile file(batch.bytes);
  const std::string key(kSingleKey);

  const test::Printed plain = test::Check({"mac", file.str(), "--key", key});
  const test::Printed text = test::Check({"mac", file.str(), "--key", key, "--explain"});
  EXPECT_EQ(plain.exitCode, 1);
  EXPECT_EQ(text.exitCode, 1);
  EXPECT_EQ(text.err, plain.err);
  ASSERT_EQ(text.out.substr(0, plain.out.size()), plain.out);
  EXPECT_EQ(text.out.substr(plain.out.size()),
            "explained: MACALL-zeros with line-ends-lf: the declared MAC was computed over the file with LF line "
            "ends and its MAC field as zeros; this file has CR LF (it was converted after it was MACed)\n");

  const test::Printed json = test::Check({"mac", file.str(), "--key", key, "--explain", "--json"});
  EXPECT_EQ(json.exitCode, 1);
  const auto parsed = nlohmann::json::parse(json.out);
  auto withoutExplain = parsed;
  withoutExplain.erase("explain");
  EXPECT_EQ(withoutExplain, nlohmann::json::parse(test::Check({"mac", file.str(), "--key", key, "--json"}).out));
  const auto& explain = parsed.at("explain");
  EXPECT_EQ(explain.at("result"), "matched");
  EXPECT_GT(explain.at("candidatesTried").get<int>(), 20);
  ASSERT_GE(explain.at("matches").size(), 1U);
  EXPECT_EQ(explain.at("matches")[0].at("variant"), "MACALL-zeros");
  EXPECT_EQ(explain.at("matches")[0].at("cause"), "line-ends-lf");
  EXPECT_EQ(explain.at("matches")[0].at("computed"), parsed.at("edits").at("txtINFileMac"));

  // the CSV is the grid only, as without --explain
  EXPECT_EQ(test::Check({"mac", file.str(), "--key", key, "--explain", "--csv"}).out,
            test::Check({"mac", file.str(), "--key", key, "--csv"}).out);

  // a matching file: not needed, exit 0
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::Nhd, MacCause::None}, kSingleKey));
  const TempFile clean(batch.bytes);
  const test::Printed matched = test::Check({"mac", clean.str(), "--key", key, "--explain", "--json"});
  EXPECT_EQ(matched.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(matched.out).at("explain"),
            nlohmann::json::parse(R"({"result":"not-needed","candidatesTried":0,"matches":[]})"));
}

// A 32-digit key: the check refuses it as before, the explanation runs.
TEST(MacExplainCommand, DoubleLengthKeyStillRefusedByTheCheck) {
  Batch batch = MakeBatch(KcvOf(kDoubleKey));
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::NspEnvelope, MacCause::Retail}, kDoubleKey));
  const TempFile file(batch.bytes);
  const test::Printed json = test::Check({"mac", file.str(), "--key", std::string(kDoubleKey), "--explain", "--json"});
  EXPECT_EQ(json.exitCode, 2);
  const auto parsed = nlohmann::json::parse(json.out);
  EXPECT_EQ(parsed.at("status")[1], "InstallKey error: 1");
  EXPECT_EQ(parsed.at("explain").at("result"), "matched");
  EXPECT_EQ(parsed.at("explain").at("matches")[0].at("cause"), "retail");
}

// verify --explain: the mismatch finding carries the line and a cause.
TEST(MacExplainCommand, VerifyFindingCarriesTheCause) {
  Batch batch = MakeBatch(KcvOf(kSingleKey));
  Declare(batch, ReferenceCandidate(batch.bytes, batch.layout, {MacForm::Nsp, MacCause::RightHalf}, kSingleKey));
  const TempFile file(batch.bytes);
  const std::string key(kSingleKey);
  const auto mismatch = [](const std::string& lines) {
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
      const auto json = nlohmann::json::parse(line);
      if (json.value("rule", "") == "mac.mismatch") return json;
    }
    return nlohmann::json();
  };
  const auto plain = mismatch(test::Check({"verify", file.str(), "--key", key, "--json"}).out);
  ASSERT_FALSE(plain.is_null());
  EXPECT_FALSE(plain.contains("cause"));
  const test::Printed explained = test::Check({"verify", file.str(), "--key", key, "--json", "--explain"});
  const auto finding = mismatch(explained.out);
  EXPECT_EQ(finding.at("cause"), "MACNSP/right-half");
  EXPECT_NE(finding.at("message").get<std::string>().find("; explained: MACNSP with right-half: "), std::string::npos);

  batch.bytes[batch.bytes.find("000000001234") + 8] = '7';
  const TempFile changed(batch.bytes);
  const auto none = mismatch(test::Check({"verify", changed.str(), "--key", key, "--json", "--explain"}).out);
  EXPECT_TRUE(none.at("cause").is_null());
  EXPECT_NE(none.at("message").get<std::string>().find("none of the"), std::string::npos);
}

}  // namespace
}  // namespace kalvrin
