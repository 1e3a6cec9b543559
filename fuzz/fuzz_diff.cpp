// Two files compared, both made from one input: one with a stretch cut out,
// the other with a stretch copied elsewhere and one byte changed, the places
// picked by a hash of the input so that a crash replays the same way. Every
// record is printed in each output form, the counts add up, masked output
// shows no card number whole, and a file compared with itself gives nothing
// but its unreadable messages.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "compare/compare_files.h"
#include "fuzz_output.h"
#include "fuzz_support.h"
#include "headless/diff_subcommand.h"
#include "verify/message_reader.h"

namespace kalvrin::fuzz {
namespace {

class PrintingSink final : public compare::DifferenceSink {
 public:
  explicit PrintingSink(const std::vector<std::string>& hidden) : hidden_(hidden) {}
  void OnDifference(const compare::Difference& d) override {
    FUZZ_CHECK(d.oldRecord >= 0 && d.newRecord >= 0);
    FUZZ_CHECK(d.element >= 0 && d.element <= 128);
    const std::string json = FormatDifference(OutputFormat::Json, d);
    FUZZ_CHECK(nlohmann::json::accept(json));
    const std::string text = FormatDifference(OutputFormat::Text, d);
    FUZZ_CHECK(!text.empty() && text.back() == '\n' && text.find('\n') == text.size() - 1);
    const std::string csv = FormatDifference(OutputFormat::Csv, d);
    FUZZ_CHECK(csv.size() >= 2 && csv.compare(csv.size() - 2, 2, "\r\n") == 0);
    for (const std::string* out : {&json, &text, &csv}) {
      CheckNoRawC1(*out);
      CheckNoCardNumber(*out, hidden_);
    }
    records.push_back(d.change);
    if (d.change == compare::Change::Unreadable) (d.oldRecord != 0 ? oldUnreadable : newUnreadable)++;
  }
  std::vector<compare::Change> records;
  std::int64_t oldUnreadable = 0;
  std::int64_t newUnreadable = 0;

 private:
  const std::vector<std::string>& hidden_;
};

class Collector final : public verify::MessageVisitor {
 public:
  void OnStart(const verify::FileStart&) override {}
  void OnMessage(const verify::ReadMessage& message) override { messages.push_back(message.decoded); }
  void OnStrayText(const verify::StrayText& text) override { strays.push_back(text.text); }
  std::vector<DecodedMessage> messages;
  std::vector<std::string> strays;
};

std::vector<std::string> CardNumbersOf(const std::string& first, const std::string& second) {
  Collector collector;
  for (const std::string* path : {&first, &second}) {
    verify::MessageFileReader reader(*path);
    reader.Read(collector);
  }
  return CardNumbersToHide(collector.messages, collector.strays);
}

std::uint64_t HashOf(const std::uint8_t* data, std::size_t size) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 0x100000001b3ULL;
  return hash;
}

compare::CompareResult Compare(const std::string& a, const std::string& b, bool masked, PrintingSink& sink) {
  compare::CompareOptions options;
  options.maskCardNumbers = masked;
  const compare::CompareResult result = compare::CompareFiles(a, b, options, sink);
  FUZZ_CHECK(result.read && !result.stopped);
  const compare::Summary& s = result.summary;
  FUZZ_CHECK(s.Records() == static_cast<std::int64_t>(sink.records.size()));
  FUZZ_CHECK(s.pairs + s.removed + sink.oldUnreadable == s.oldMessages);
  FUZZ_CHECK(s.pairs + s.added + sink.newUnreadable == s.newMessages);
  FUZZ_CHECK(s.equal <= s.pairs && s.lineEnds <= 1 && s.envelope <= 3);
  for (const OutputFormat format : {OutputFormat::Json, OutputFormat::Text}) {
    const std::string summary = FormatDiffSummary(format, s);
    FUZZ_CHECK(!summary.empty());
    if (format == OutputFormat::Json) FUZZ_CHECK(nlohmann::json::accept(summary));
  }
  return result;
}

void Run(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::uint64_t pick = HashOf(data, size);
  auto next = [&pick](std::size_t below) {
    pick = pick * 6364136223846793005ULL + 1442695040888963407ULL;
    return below == 0 ? std::size_t{0} : static_cast<std::size_t>((pick >> 33) % below);
  };
  std::string cut = input;
  const std::size_t from = next(cut.size() + 1);
  cut.erase(from, next(1024));
  std::string copied = input;
  const std::size_t source = next(input.size() + 1);
  copied.insert(next(copied.size() + 1), input.substr(source, next(1024)));
  if (!copied.empty()) copied[next(copied.size())] = static_cast<char>('0' + next(10));

  const std::string a = InputFile(reinterpret_cast<const std::uint8_t*>(cut.data()), cut.size(), 0);
  const std::string b = InputFile(reinterpret_cast<const std::uint8_t*>(copied.data()), copied.size(), 1);
  const bool masked = size % 2 == 1;
  const std::vector<std::string> hidden = masked ? CardNumbersOf(a, b) : std::vector<std::string>();
  PrintingSink sink(hidden);
  Compare(a, b, masked, sink);

  PrintingSink self(hidden);
  const compare::CompareResult same = Compare(a, a, masked, self);
  for (const compare::Change change : self.records) FUZZ_CHECK(change == compare::Change::Unreadable);
  FUZZ_CHECK(self.oldUnreadable == self.newUnreadable);
  FUZZ_CHECK(same.summary.equal == same.summary.pairs);
}

}  // namespace
}  // namespace kalvrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kalvrin::fuzz::Run(data, size);
  return 0;
}
