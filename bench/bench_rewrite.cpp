// A test copy with an edit, renumbering, re-totalling and re-MACing of a
// generated 100 MB file, beside verify with the MAC rules plus a MAC check
// of the same file in the same run: the rewrite should stay within 2 times
// them. KALVRIN_BENCH_REWRITE_MB sets another size (for a quick try).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "mac/mac_core.h"
#include "rewrite/rewrite.h"
#include "testgen/filegen.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

constexpr std::string_view kKey = "A4F1C07B3E9D2658";

std::uint64_t FileSize() {
  const char* megabytes = std::getenv("KALVRIN_BENCH_REWRITE_MB");
  const std::uint64_t size = megabytes != nullptr ? std::strtoull(megabytes, nullptr, 10) : 100;
  return (size == 0 ? 1 : size) << 20;
}

// The generated file and the copy's place beside it; both removed at exit.
class RewriteFiles {
 public:
  RewriteFiles() {
    folder_ = std::filesystem::temp_directory_path() / ("kalvrin-bench-rewrite-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder_);
    filegen::FileOptions options;
    options.size = FileSize();
    options.seed = 8583;
    ok_ = filegen::WriteGeneratedFile(in(), options);
  }
  ~RewriteFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  bool ok() const { return ok_; }
  std::string in() const { return (folder_ / "in.dat").string(); }
  std::string out() const { return (folder_ / "out.dat").string(); }

 private:
  std::filesystem::path folder_;
  bool ok_ = false;
};

class NoFindings final : public verify::FindingSink {
 public:
  void OnFinding(const verify::Finding&) override { ++count; }
  std::int64_t count = 0;
};

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_RewriteRemac(benchmark::State& state) {
  static RewriteFiles files;
  if (!files.ok()) {
    state.SkipWithError("cannot write the benchmark file");
    return;
  }
  rewrite::RewriteOptions options;
  options.edits = {{rewrite::EditKind::Set, 3, 4, "000000002000"}};
  options.renumber = options.retotal = options.remac = true;
  options.key = kKey;
  double baseline = 0;
  double rewritten = 0;
  for (auto _ : state) {
    baseline += Seconds([&] {
      verify::VerifyOptions verifyOptions;
      verifyOptions.key = kKey;
      NoFindings sink;
      benchmark::DoNotOptimize(verify::VerifyFile(files.in(), verifyOptions, sink));
      MacCheckSecrets secrets;
      benchmark::DoNotOptimize(ComputeFileMac(files.in(), kKey, secrets));
    });
    rewritten += Seconds([&] {
      const rewrite::RewriteResult result = rewrite::RewriteFile(files.in(), files.out(), options);
      if (!result.written) state.SkipWithError(result.error.c_str());
    });
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FileSize()));
  state.counters["verify_and_mac_s"] = baseline / static_cast<double>(state.iterations());
  state.counters["rewrite_s"] = rewritten / static_cast<double>(state.iterations());
  state.counters["ratio"] = rewritten / baseline;
}
BENCHMARK(BM_RewriteRemac)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace kalvrin
