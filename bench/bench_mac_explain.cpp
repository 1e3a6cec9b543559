// The MAC explanation of a generated 100 MB file whose declared MAC none of
// the candidates gives (every candidate tried), beside the MAC check of the
// same file under a 16-digit key in the same run: the explanation should
// stay within 8 times the check under a 16-digit key and within 12 times it
// under a 32-digit one.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "io/transaction_file.h"
#include "mac/key_install.h"
#include "mac/mac_core.h"
#include "mac/mac_envelope.h"
#include "mac/mac_explain.h"
#include "testgen/filegen.h"

namespace kalvrin {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";
constexpr std::string_view kDoubleKey = "A4F1C07B3E9D26580123456789ABCDEF";
constexpr std::uint64_t kFileSize = 100ull << 20;

// The generated file with a MAC nothing gives, its MAC header declaring the
// check value of the key; removed at exit.
class ExplainFile {
 public:
  explicit ExplainFile(std::string_view key) {
    path_ = std::filesystem::temp_directory_path() /
            ("kalvrin-bench-explain-" + std::to_string(::getpid()) + "-" + std::to_string(key.size()) + ".dat");
    filegen::FileOptions options;
    options.size = kFileSize;
    options.seed = 8583;
    options.mac = "0BADC0DE";
    ok_ = filegen::WriteGeneratedFile(path_, options);
    char kcv[kKcvDigits + 1] = {};
    CreateKCV(kcv, key, static_cast<int>(kKcvDigits));
    std::fstream out(path_, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kMacKcvAt));
    out.write(kcv, static_cast<std::streamsize>(kKcvDigits));
    ok_ = ok_ && out.good();
  }
  ~ExplainFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  bool ok() const { return ok_; }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  bool ok_ = false;
};

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Each iteration times the MAC check under the 16-digit key and the
// explanation under `key`; the counter is the ratio of their totals.
void ExplainBeside(benchmark::State& state, std::string_view key) {
  static ExplainFile single(kKey);
  static ExplainFile twice(kDoubleKey);
  ExplainFile& file = key.size() == 16 ? single : twice;
  if (!single.ok() || !file.ok()) {
    state.SkipWithError("cannot write the benchmark file");
    return;
  }
  double check = 0;
  double explain = 0;
  int tried = 0;
  for (auto _ : state) {
    check += Seconds([&] {
      TransactionFile opened(single.path());
      benchmark::DoNotOptimize(ComputeFileMac(opened, kKey));
    });
    explain += Seconds([&] {
      TransactionFile opened(file.path());
      const MacExplanation ex = ExplainFileMac(opened, key);
      tried = ex.candidatesTried;
    });
  }
  if (tried == 0) state.SkipWithError("no candidate was tried");
  state.counters["candidates"] = tried;
  state.counters["check_s"] = check / static_cast<double>(state.iterations());
  state.counters["explain_s"] = explain / static_cast<double>(state.iterations());
  state.counters["ratio"] = explain / check;
}

void BM_MacExplain16Digits100MB(benchmark::State& state) { ExplainBeside(state, kKey); }
void BM_MacExplain32Digits100MB(benchmark::State& state) { ExplainBeside(state, kDoubleKey); }
BENCHMARK(BM_MacExplain16Digits100MB)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_MacExplain32Digits100MB)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace kalvrin
