// The headless format check of a generated 100 MB file, with its rows kept
// in the surface and streamed as kalvrin-check --csv writes them, beside two
// plain passes over the same file that only count its line ends: one as the
// compiler makes it (vectorised, so its speed depends on the CPU's vector
// width) and one a byte at a time (the same on every machine).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <streambuf>
#include <string>

#include "scalar_count.h"
#include "testgen/filegen.h"
#include "headless/check_app.h"
#include "headless/headless_surface.h"
#include "headless/surface_output.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"

namespace {

constexpr std::uint64_t kFileSize = 100ull * 1024 * 1024;

// Generated once into /tmp and kept for later runs.
const std::string& BenchFile() {
  static const std::string path = [] {
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kalvrin-bench-100mb.dat";
    std::error_code error;
    if (std::filesystem::file_size(file, error) < kFileSize || error) {
      kalvrin::filegen::WriteGeneratedFile(file, {.size = kFileSize, .seed = 100});
    }
    return file.string();
  }();
  return path;
}

std::int64_t FileBytes() { return static_cast<std::int64_t>(std::filesystem::file_size(BenchFile())); }

void BM_FormatCheck(benchmark::State& state) {
  const std::string& path = BenchFile();
  for (auto _ : state) {
    kalvrin::HeadlessSurface surface;
    kalvrin::FormatCheck check(surface);
    kalvrin::StartUpState(check, surface);
    const int result = kalvrin::IsoCommand(check, surface, path);
    if (result == 0) state.SkipWithError("the format check failed");
    benchmark::DoNotOptimize(surface.gridRowCount());
  }
  state.SetBytesProcessed(state.iterations() * FileBytes());
}
BENCHMARK(BM_FormatCheck)->Unit(benchmark::kMillisecond)->UseRealTime();

// An output that keeps nothing but a count of the bytes written to it.
class DiscardingBuffer : public std::streambuf {
 public:
  std::int64_t bytes() const { return bytes_; }

 protected:
  int_type overflow(int_type c) override {
    ++bytes_;
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char*, std::streamsize count) override {
    bytes_ += count;
    return count;
  }

 private:
  std::int64_t bytes_ = 0;
};

// kalvrin-check iso --csv without the process around it: each row goes out
// as a CSV record as soon as the check has finished it.
void BM_FormatCheckCsv(benchmark::State& state) {
  const std::string& path = BenchFile();
  DiscardingBuffer discard;
  std::ostream out(&discard);
  for (auto _ : state) {
    kalvrin::HeadlessSurface surface;
    kalvrin::FormatCheck check(surface);
    kalvrin::StartUpState(check, surface);
    surface.setRowSink(kalvrin::CsvRowSink(out), kalvrin::kLiveRows);
    const int result = kalvrin::IsoCommand(check, surface, path);
    surface.flushRows();
    if (result == 0) state.SkipWithError("the format check failed");
  }
  benchmark::DoNotOptimize(discard.bytes());
  state.SetBytesProcessed(state.iterations() * FileBytes());
  state.counters["csv_bytes_per_run"] = static_cast<double>(discard.bytes()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FormatCheckCsv)->Unit(benchmark::kMillisecond)->UseRealTime();

// A plain read of the benchmark file in 64 KiB blocks, each block's line
// ends counted by `count`: the references the format check is set against.
template <typename Count>
void CountLineEndsOfFile(benchmark::State& state, Count count) {
  const std::string& path = BenchFile();
  const auto block = std::make_unique<char[]>(64 * 1024);
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::int64_t lines = 0;
    for (std::size_t read; (read = std::fread(block.get(), 1, 64 * 1024, file)) > 0;) {
      lines += count(block.get(), read);
    }
    std::fclose(file);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * FileBytes());
}

void BM_CountLineEnds(benchmark::State& state) {
  CountLineEndsOfFile(state, [](const char* bytes, std::size_t size) {
    std::int64_t lines = 0;
    for (std::size_t i = 0; i < size; ++i) lines += bytes[i] == '\n';
    return lines;
  });
}
BENCHMARK(BM_CountLineEnds)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same read with a count that is never vectorised.
void BM_CountLineEndsScalar(benchmark::State& state) {
  CountLineEndsOfFile(state, [](const char* bytes, std::size_t size) {
    return kalvrin::bench::CountLineEndsScalar(bytes, size);
  });
}
BENCHMARK(BM_CountLineEndsScalar)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
