// The whole MAC check (CheckFileMac: envelope lookup and three variants) of a
// generated 100 MB transaction file, beside one GenerateMAC pass over 100 MB
// already in memory: on two free cores the check, which reads the file once
// and runs its chains on two threads, should stay within 1.5 times that pass.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>

#include "testgen/filegen.h"
#include "headless/headless_surface.h"
#include "mac/file_mac.h"

namespace kalvrin {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::uint64_t kFileSize = 100ull << 20;

// The generated file, written once for the whole run and removed at exit.
class BenchFile {
 public:
  BenchFile() {
    path_ = std::filesystem::temp_directory_path() / ("kalvrin-bench-mac-" + std::to_string(::getpid()) + ".dat");
    filegen::FileOptions options;
    options.size = kFileSize;
    options.seed = 8583;
    ok_ = filegen::WriteGeneratedFile(path_, options, &summary_);
  }
  ~BenchFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  bool ok() const { return ok_; }
  std::string path() const { return path_.string(); }
  std::uint64_t bytes() const { return summary_.bytes; }

 private:
  std::filesystem::path path_;
  filegen::FileSummary summary_;
  bool ok_ = false;
};

BenchFile& SharedFile() {
  static BenchFile file;
  return file;
}

void BM_MacCheckFile100MB(benchmark::State& state) {
  BenchFile& file = SharedFile();
  if (!file.ok()) {
    state.SkipWithError("cannot write the benchmark file");
    return;
  }
  int result = 0;
  for (auto _ : state) {
    HeadlessSurface surface;
    std::array<char, 10> kcv{};
    result = CheckFileMac(surface, file.path(), std::span<char>(kcv), kKey);
    benchmark::DoNotOptimize(result);
  }
  if (result != 1) state.SkipWithError("the MAC check did not finish");
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.bytes()));
}
BENCHMARK(BM_MacCheckFile100MB)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same bytes as one SINGLE message from memory: the floor for one variant.
void BM_GenerateMacInMemory100MB(benchmark::State& state) {
  BenchFile& file = SharedFile();
  if (!file.ok()) {
    state.SkipWithError("cannot write the benchmark file");
    return;
  }
  std::ifstream in(file.path(), std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::array<char, 9> kcv{};
  CreateKCV(kcv.data(), kKey, 8);
  KeyStore store{};
  KeyCryptogram cryptogram{};
  InstallKey(store, cryptogram, kKey, kcv.data(), std::array<std::uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8});
  for (auto _ : state) {
    MacRun run;
    const int code = GenerateMAC(run.macText.data(), run.chain, run.context, SINGLE,
                                 reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), store, cryptogram,
                                 kcv.data());
    benchmark::DoNotOptimize(code);
    benchmark::DoNotOptimize(run.macText);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_GenerateMacInMemory100MB)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace kalvrin
