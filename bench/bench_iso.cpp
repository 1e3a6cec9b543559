// The headless format check of a generated 100 MB file, beside a plain pass
// over the same file that only counts its line ends.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "testgen/filegen.h"
#include "headless/headless_surface.h"
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

void BM_CountLineEnds(benchmark::State& state) {
  const std::string& path = BenchFile();
  const auto block = std::make_unique<char[]>(64 * 1024);
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::int64_t lines = 0;
    for (std::size_t count; (count = std::fread(block.get(), 1, 64 * 1024, file)) > 0;) {
      for (std::size_t i = 0; i < count; ++i) lines += block[i] == '\n';
    }
    std::fclose(file);
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(state.iterations() * FileBytes());
}
BENCHMARK(BM_CountLineEnds)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
