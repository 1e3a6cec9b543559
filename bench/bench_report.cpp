// The report of a generated file (the summary in verify's read, SHA-256
// included, and its HTML) beside a verify of the same file in the same run:
// the report should cost at most 1.2 times the verify, and its HTML stay
// under 2 MB. The file is 1 GB; KALVRIN_BENCH_REPORT_MB sets another size.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "report/html_report.h"
#include "report/summary.h"
#include "testgen/filegen.h"
#include "verify/verify_pass.h"

namespace kalvrin {
namespace {

std::uint64_t FileBytes() {
  const char* text = std::getenv("KALVRIN_BENCH_REPORT_MB");
  const std::uint64_t megabytes = text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : 1024;
  return (megabytes == 0 ? 1 : megabytes) << 20;
}

// Removed at exit.
class ReportFile {
 public:
  ReportFile() {
    path_ = std::filesystem::temp_directory_path() / ("kalvrin-bench-report-" + std::to_string(::getpid()) + ".dat");
    filegen::FileOptions options;
    options.size = FileBytes();
    options.seed = 27;
    ok_ = filegen::WriteGeneratedFile(path_, options);
  }
  ~ReportFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  bool ok() const { return ok_; }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
  bool ok_ = false;
};

class NoSink final : public verify::FindingSink {
 public:
  void OnFinding(const verify::Finding&) override {}
};

double Seconds(const std::function<void()>& run) {
  const auto start = std::chrono::steady_clock::now();
  run();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_ReportBesideVerify(benchmark::State& state) {
  static ReportFile file;
  if (!file.ok()) return state.SkipWithError("cannot write the benchmark file");
  double verifySeconds = 0;
  double reportSeconds = 0;
  std::size_t htmlBytes = 0;
  for (auto _ : state) {
    verifySeconds += Seconds([&] {
      NoSink sink;
      benchmark::DoNotOptimize(verify::VerifyFile(file.path(), {}, sink).messages);
    });
    reportSeconds += Seconds([&] {
      // card numbers as the verify beside it shows them: the report's own cost, not masking's
      report::SummaryOptions options;
      options.maskCardNumbers = false;
      const report::FileSummary summary = report::SummariseFile(file.path(), options);
      std::ostringstream html;
      report::WriteHtmlReport(html, {summary}, {"bench", "kalvrin-bench", "", true});
      htmlBytes = html.str().size();
      if (summary.identity.sha256.empty()) state.SkipWithError("no SHA-256: the file was not read whole");
    });
  }
  const auto runs = static_cast<double>(state.iterations());
  state.counters["verify_s"] = verifySeconds / runs;
  state.counters["report_s"] = reportSeconds / runs;
  state.counters["ratio"] = reportSeconds / verifySeconds;
  state.counters["html_bytes"] = static_cast<double>(htmlBytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * FileBytes()));
}
BENCHMARK(BM_ReportBesideVerify)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

}  // namespace
}  // namespace kalvrin
