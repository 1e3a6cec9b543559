// The comparison of two generated files that differ in 1,000 scattered
// messages, beside the verify pass of one of them in the same run: the
// comparison should take at most 2.5 times the verify. The files are 1 GB,
// or KALVRIN_BENCH_DIFF_MB megabytes (a small size to see that it runs).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "compare/compare_files.h"
#include "testgen/filegen.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

namespace fs = std::filesystem;

constexpr int kEdits = 1000;

std::uint64_t FileBytes() {
  const char* text = std::getenv("KALVRIN_BENCH_DIFF_MB");
  const std::uint64_t megabytes = text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : 1024;
  return (megabytes == 0 ? 1 : megabytes) << 20;
}

// The generated file and its copy with P42 changed in kEdits transactions
// spread evenly over the file; removed at exit.
class DiffFiles {
 public:
  DiffFiles() {
    dir_ = fs::temp_directory_path() / ("kalvrin-bench-diff-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ok_ = filegen::WriteGeneratedFile(before(), {.size = FileBytes(), .seed = 2424});
    std::error_code error;
    ok_ = ok_ && fs::copy_file(before(), after(), error);
    ok_ = ok_ && Edit();
  }
  ~DiffFiles() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  bool ok() const { return ok_; }
  std::int64_t edits() const { return edits_; }
  std::string before() const { return (dir_ / "old.dat").string(); }
  std::string after() const { return (dir_ / "new.dat").string(); }

 private:
  // Each edit goes into the first transaction from its place on.
  bool Edit() {
    std::fstream file(after(), std::ios::in | std::ios::out | std::ios::binary);
    const std::uint64_t records = (fs::file_size(after()) - filegen::kMacHeaderLength - 2) / filegen::kRecordLength;
    const std::string merchant = "MERCHANT0000001";
    std::uint64_t record = 0;
    for (int i = 0; i < kEdits; ++i) {
      record = std::max(record, records * static_cast<std::uint64_t>(i) / kEdits);
      for (; record < records; ++record) {
        const auto at = static_cast<std::streamoff>(filegen::kMacHeaderLength + 2 + record * filegen::kRecordLength);
        std::string bytes(filegen::kRecordLength, '\0');
        file.seekg(at);
        file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const std::size_t found = bytes.find(merchant);
        if (found == std::string::npos) continue;
        file.seekp(at + static_cast<std::streamoff>(found + merchant.size() - 1));
        file.put('2');
        ++edits_;
        ++record;
        break;
      }
    }
    return file.good();
  }

  fs::path dir_;
  bool ok_ = false;
  std::int64_t edits_ = 0;
};

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class CountingFindings final : public verify::FindingSink {
 public:
  void OnFinding(const verify::Finding&) override {}
};
class CountingDifferences final : public compare::DifferenceSink {
 public:
  void OnDifference(const compare::Difference&) override { ++count; }
  std::int64_t count = 0;
};

// Each iteration times verify of the old file and the comparison; the
// counter is the ratio of their totals.
void BM_DiffBesideVerify(benchmark::State& state) {
  static DiffFiles files;
  if (!files.ok()) return state.SkipWithError("cannot write the benchmark files");
  double verifying = 0;
  double comparing = 0;
  std::int64_t records = 0;
  for (auto _ : state) {
    verifying += Seconds([&] {
      CountingFindings sink;
      benchmark::DoNotOptimize(verify::VerifyFile(files.before(), {}, sink).messages);
    });
    comparing += Seconds([&] {
      CountingDifferences sink;
      const compare::CompareResult result = compare::CompareFiles(files.before(), files.after(), {}, sink);
      if (!result.read) state.SkipWithError("the comparison failed");
      records = sink.count;
    });
  }
  if (records != files.edits()) state.SkipWithError("the comparison did not find each edit once");
  state.counters["edits"] = static_cast<double>(files.edits());
  state.counters["verify_s"] = verifying / static_cast<double>(state.iterations());
  state.counters["diff_s"] = comparing / static_cast<double>(state.iterations());
  state.counters["ratio"] = comparing / verifying;
}
BENCHMARK(BM_DiffBesideVerify)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();

}  // namespace
}  // namespace kalvrin
