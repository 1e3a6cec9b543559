// What selecting a grid row costs in the core: opening the file and
// decoding one message near the end of a generated 1 GB file, with the bytes
// the hex view shows. The file is written into the temporary folder on first
// use and removed when the program ends.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "testgen/filegen.h"
#include "iso/message_decoder.h"

namespace {

constexpr std::uint64_t kFileSize = 1024ull * 1024 * 1024;

struct BigFile {
  std::filesystem::path path = std::filesystem::temp_directory_path() / "kalvrin-bench-inspector-1gb.dat";
  std::int64_t size = 0;
  bool written = false;
  BigFile() {
    written = kalvrin::filegen::WriteGeneratedFile(path, {.size = kFileSize, .seed = 6});
    std::error_code error;
    size = static_cast<std::int64_t>(std::filesystem::file_size(path, error));
  }
  ~BigFile() {
    std::error_code error;
    std::filesystem::remove(path, error);
  }
};

const BigFile& File() {
  static const BigFile file;
  return file;
}

// Every record of the generated file is 512 bytes; the trailer is the last
// and the batch message before it is the one looked at.
std::int64_t MessageNearTheEnd(const BigFile& file) {
  return file.size - 2 * static_cast<std::int64_t>(kalvrin::filegen::kRecordLength);
}

void BM_InspectRowOf1GBFile(benchmark::State& state) {
  const BigFile& file = File();
  if (!file.written) {
    state.SkipWithError("cannot write the 1 GB file");
    return;
  }
  const std::int64_t offset = MessageNearTheEnd(file);
  std::size_t elements = 0;
  for (auto _ : state) {
    // What the inspector does for one selection: open, decode, read its bytes.
    kalvrin::MessageReader reader(file.path.string());
    const kalvrin::DecodedMessage message = reader.Decode(offset);
    const std::string bytes = reader.ReadBytes(message.span.offset, static_cast<std::size_t>(message.span.bytes));
    if (message.stop != kalvrin::DecodeStop::Complete) state.SkipWithError("the message did not decode");
    elements = message.elements.size();
    benchmark::DoNotOptimize(bytes.data());
  }
  state.counters["elements"] = static_cast<double>(elements);
}
BENCHMARK(BM_InspectRowOf1GBFile)->Unit(benchmark::kMicrosecond);

}  // namespace
