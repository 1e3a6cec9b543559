// The verify pass over arbitrary file bytes, every finding and summary
// printed in each output form, with and without a key and masking; and, for
// inputs that ask for it, a generated valid batch file that must give no
// finding at all.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz_output.h"
#include "fuzz_support.h"
#include "headless/verify_subcommand.h"
#include "testgen/filegen.h"
#include "verify/message_reader.h"
#include "verify/verify_pass.h"

namespace kalvrin::fuzz {
namespace {

class PrintingSink final : public verify::FindingSink {
 public:
  // hidden: the card numbers that must not show whole; empty when output is clear
  explicit PrintingSink(const std::vector<std::string>& hidden) : hidden_(hidden) {}
  void OnFinding(const verify::Finding& finding) override {
    FUZZ_CHECK(finding.record >= 0);
    FUZZ_CHECK(finding.offset >= verify::kNoOffset);
    FUZZ_CHECK(finding.element >= 0 && finding.element <= 128);
    const std::string json = FormatFinding(OutputFormat::Json, "input.dat", finding);
    FUZZ_CHECK(nlohmann::json::accept(json));
    const std::string text = FormatFinding(OutputFormat::Text, "input.dat", finding);
    FUZZ_CHECK(!text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1);
    const std::string csv = FormatFinding(OutputFormat::Csv, "input.dat", finding);
    FUZZ_CHECK(csv.size() >= 2 && csv.compare(csv.size() - 2, 2, "\r\n") == 0);
    for (const std::string* out : {&json, &text, &csv}) {
      CheckNoRawC1(*out);
      CheckNoCardNumber(*out, hidden_);
    }
    ++count;
  }
  std::int64_t count = 0;

 private:
  const std::vector<std::string>& hidden_;
};

// The messages and stray texts of the file, as verify reads them.
class Collector final : public verify::MessageVisitor {
 public:
  void OnStart(const verify::FileStart&) override {}
  void OnMessage(const verify::ReadMessage& message) override { messages.push_back(message.decoded); }
  void OnStrayText(const verify::StrayText& text) override { strays.push_back(text.text); }
  std::vector<DecodedMessage> messages;
  std::vector<std::string> strays;
};

std::vector<std::string> CardNumbersOf(const std::string& path) {
  verify::MessageFileReader reader(path);
  Collector collector;
  reader.Read(collector);
  return CardNumbersToHide(collector.messages, collector.strays);
}

// The first byte chooses: 'G' and four seed bytes make a valid generated
// file; anything else is the file itself.
void Run(const std::uint8_t* data, std::size_t size) {
  std::string bytes;
  const bool generated = size >= 7 && data[0] == 'G';
  if (generated) {
    std::uint32_t seed = 0;
    std::memcpy(&seed, data + 1, 4);
    const std::uint64_t length = 600 + (std::uint64_t{data[5]} << 8 | data[6]) % 30000;
    filegen::FileSummary made;
    bytes = filegen::GenerateFileBytes({.size = length, .seed = seed}, &made);
    FUZZ_CHECK(made.error.empty());
  } else {
    bytes.assign(reinterpret_cast<const char*>(data), size);
  }
  const std::string path = InputFile(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  // the input's size picks a key and masking, so that a crash replays the same way
  const bool withKey = size % 2 == 1;
  const bool masked = size / 2 % 2 == 1;
  verify::VerifyOptions options;
  if (withKey) options.key = filegen::kDefaultKey;
  options.maskCardNumbers = masked;
  const std::vector<std::string> hidden = masked ? CardNumbersOf(path) : std::vector<std::string>();
  PrintingSink sink(hidden);
  const verify::VerifySummary summary = verify::VerifyFile(path, options, sink);
  FUZZ_CHECK(summary.read);
  FUZZ_CHECK(summary.errors + summary.warnings == sink.count);
  if (withKey) FUZZ_CHECK(!summary.mac.note.empty() || summary.mac.checked);
  const std::string json = FormatSummary(OutputFormat::Json, path, summary);
  FUZZ_CHECK(nlohmann::json::accept(json));
  const std::string text = FormatSummary(OutputFormat::Text, path, summary);
  FUZZ_CHECK(!text.empty());
  CheckNoRawC1(json);
  CheckNoRawC1(text);
  // a generated file's MAC is the default key's
  if (generated) FUZZ_CHECK(sink.count == 0);
  if (generated && withKey) FUZZ_CHECK(summary.mac.checked && !summary.mac.matched.empty());
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kalvrin::fuzz::Run(data, size);
  return 0;
}
