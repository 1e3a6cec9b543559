// Builds ISO 8583 messages and batch files of any size.
#include "testgen/filegen.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>

namespace kalvrin::filegen {

namespace {

struct Range {
  int first;
  int last;
};
constexpr Range kLLElements[] = {{2, 2}, {31, 35}, {43, 45}, {53, 53}, {56, 56}, {58, 58},
                                 {93, 95}, {99, 103}, {108, 110}};
constexpr Range kLLLElements[] = {{36, 36}, {46, 48}, {54, 55}, {59, 63}, {66, 66},
                                  {72, 72}, {96, 96}, {104, 104}, {111, 127}};

bool InRanges(int element, const auto& ranges) {
  return std::any_of(std::begin(ranges), std::end(ranges),
                     [element](const Range& r) { return element >= r.first && element <= r.last; });
}

constexpr char kHex[] = "0123456789ABCDEF";

std::string Padded(std::size_t value, int digits) {
  std::string text = std::to_string(value);
  if (static_cast<int>(text.size()) < digits) text.insert(0, static_cast<std::size_t>(digits) - text.size(), '0');
  return text;
}

// Deterministic on every platform: only the engine's raw output is used.
class Random {
 public:
  explicit Random(std::uint32_t seed) : engine_(seed) {}
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(engine_() % bound); }
  bool Chance(std::uint32_t percent) { return Below(100) < percent; }
  std::string Digits(std::size_t count) {
    std::string text(count, '0');
    for (char& c : text) c = static_cast<char>('0' + Below(10));
    return text;
  }
  std::string HexDigits(std::size_t count) {
    std::string text(count, '0');
    for (char& c : text) c = kHex[Below(16)];
    return text;
  }

 private:
  std::mt19937 engine_;
};

constexpr std::string_view kMacHeader =
    "DORVMAC HEADER GENERATED BATCH           "  // 41 bytes not interpreted
    "1"                                          // MAC method
    "01"                                         // MAC version
    "B690D735"                                   // check value of the default key
    "20261208";                                  // not interpreted
static_assert(kMacHeader.size() == kMacHeaderLength);

constexpr std::string_view kMessageTypes[] = {"1140", "1240", "1440", "1542"};
constexpr std::size_t kMessageRoom = kRecordLength - 2;

std::string FileHeader(std::uint32_t batch) {
  return BuildMessage("1644", {{24, "692"}, {71, Padded(1, 8)}, {72, "BATCH GENERATED " + Padded(batch, 5)}});
}

std::string Trailer(std::uint64_t messages, const std::string& mac) {
  return BuildMessage("1844", {{24, "971"}, {71, Padded(messages % 100000000, 8)}, {128, mac}});
}

std::string BatchMessage(Random& random, std::uint64_t number) {
  const std::string pan = "4" + random.Digits(15 + random.Below(4));
  std::map<int, std::string> elements = {
      {2, pan},
      {3, "000000"},
      {4, random.Digits(12)},
      {7, "1208" + random.Digits(6)},
      {11, Padded(number % 1000000, 6)},
      {12, "261208" + random.Digits(6)},
      {14, "2812"},
      {22, "51010151134C"},
      {24, "200"},
      {26, "5999"},
      {37, random.Digits(12)},
      {41, "TERM" + Padded(number % 10000, 4) + "        "},
      {42, "MERCHANT0000001"},
      {43, "SAMPLE SHOP   VIENNA    AT"},
      {49, "978"},
      {71, Padded(number % 100000000, 8)},
      {74, random.Digits(10)},
      {86, random.Digits(16)},
  };
  if (random.Chance(50)) elements[35] = pan + "=2812201" + random.Digits(29 - pan.size());  // 37 at most
  if (random.Chance(40)) elements[55] = "9F2608" + random.HexDigits(16) + "9F2701809F1007" + random.HexDigits(14 + 2 * random.Below(20));
  if (random.Chance(20)) elements[72] = "DATA RECORD " + random.Digits(random.Below(40));
  if (random.Chance(15)) elements[101] = "FILE" + random.Digits(random.Below(12));
  if (random.Chance(10)) elements[123] = random.HexDigits(random.Below(60));
  return BuildMessage(kMessageTypes[random.Below(4)], elements);
}

// One message in its record: spaces up to the record length, then CR LF.
void EmitRecord(std::string& out, const std::string& message) {
  out += message;
  if (message.size() < kMessageRoom) out.append(kMessageRoom - message.size(), ' ');
  out += "\r\n";
}

}  // namespace

int PrefixDigits(int element) {
  if (InRanges(element, kLLElements)) return 2;
  if (InRanges(element, kLLLElements)) return 3;
  return 0;
}

std::string EncodeBitmaps(const std::map<int, std::string>& elements) {
  int bits[129] = {};
  for (const auto& [element, value] : elements) {
    if (element >= 2 && element <= 128 && element != 64) bits[element] = 1;
    if (element > 64 && element <= 128) bits[1] = 1;
  }
  std::string maps;
  for (int first = 1; first <= 128; first += 4) {
    maps += kHex[bits[first] * 8 + bits[first + 1] * 4 + bits[first + 2] * 2 + bits[first + 3]];
  }
  return maps;
}

std::string BuildRawMessage(std::string_view mti, const std::map<int, std::string>& elements) {
  std::string message(mti);
  message += EncodeBitmaps(elements);
  for (const auto& [element, value] : elements) {
    if (element >= 2 && element <= 128 && element != 64) message += value;
  }
  return message;
}

std::string BuildMessage(std::string_view mti, const std::map<int, std::string>& elements) {
  std::map<int, std::string> raw;
  for (const auto& [element, value] : elements) {
    const int digits = PrefixDigits(element);
    raw[element] = digits == 0 ? value : Padded(value.size(), digits) + value;
  }
  return BuildRawMessage(mti, raw);
}

FileSummary GenerateFile(const FileOptions& options, const std::function<void(std::string_view)>& sink) {
  constexpr std::size_t kFixedPart = kMacHeaderLength + 2 + 2 * kRecordLength;  // header record, 1644, 1844
  const std::uint64_t batchMessages =
      options.size > kFixedPart ? (options.size - kFixedPart + kRecordLength - 1) / kRecordLength : 0;
  Random random(options.seed);
  FileSummary summary;
  std::string out;
  out.reserve(256 * kRecordLength);
  auto drain = [&] {
    summary.bytes += out.size();
    sink(out);
    out.clear();
  };

  out.append(kMacHeader).append("\r\n");
  EmitRecord(out, FileHeader(options.seed % 100000));
  for (std::uint64_t number = 1; number <= batchMessages; ++number) {
    EmitRecord(out, BatchMessage(random, number));
    if (out.size() >= 255 * kRecordLength) drain();
  }
  EmitRecord(out, Trailer(batchMessages + 2, options.mac));
  drain();
  summary.messages = batchMessages + 2;
  return summary;
}

std::string GenerateFileBytes(const FileOptions& options, FileSummary* summary) {
  std::string bytes;
  const FileSummary made = GenerateFile(options, [&bytes](std::string_view piece) { bytes.append(piece); });
  if (summary != nullptr) *summary = made;
  return bytes;
}

bool WriteGeneratedFile(const std::filesystem::path& path, const FileOptions& options, FileSummary* summary) {
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  std::unique_ptr<std::FILE, Closer> file(std::fopen(path.string().c_str(), "wb"));
  if (!file) return false;
  bool written = true;
  const FileSummary made = GenerateFile(options, [&](std::string_view piece) {
    written = written && std::fwrite(piece.data(), 1, piece.size(), file.get()) == piece.size();
  });
  if (summary != nullptr) *summary = made;
  return written && std::fclose(file.release()) == 0;
}

}  // namespace kalvrin::filegen
