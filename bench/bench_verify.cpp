// The verify pass over a generated 100 MB batch file beside the headless
// format check of the same file in the same run, and kalvrin-check verify of
// several files on one thread and on two; a file with chip data with and
// without the emv.* rules.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "headless/check_app.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "testgen/filegen.h"
#include "verify/rules.h"
#include "verify/verify_pass.h"

namespace {

namespace fs = std::filesystem;

// Generated into the temporary folder for this run and removed at exit.
class BenchFiles {
 public:
  BenchFiles() {
    dir_ = fs::temp_directory_path() / ("kalvrin-bench-verify-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
    ok_ = kalvrin::filegen::WriteGeneratedFile(big(), {.size = 100ull << 20, .seed = 100});
    for (std::uint32_t i = 0; i < 4; ++i) {
      small_.push_back((dir_ / ("part" + std::to_string(i) + ".dat")).string());
      ok_ = ok_ && kalvrin::filegen::WriteGeneratedFile(small_.back(), {.size = 25ull << 20, .seed = 200 + i});
    }
  }
  ~BenchFiles() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  bool ok() const { return ok_; }
  std::string big() const { return (dir_ / "verify-100mb.dat").string(); }
  const std::vector<std::string>& small() const { return small_; }

 private:
  fs::path dir_;
  std::vector<std::string> small_;
  bool ok_ = false;
};

BenchFiles& Files() {
  static BenchFiles files;
  return files;
}

class CountingSink final : public kalvrin::verify::FindingSink {
 public:
  void OnFinding(const kalvrin::verify::Finding&) override { ++count; }
  std::int64_t count = 0;
};

void BM_VerifyFile(benchmark::State& state) {
  if (!Files().ok()) return state.SkipWithError("cannot write the files");
  const std::string path = Files().big();
  for (auto _ : state) {
    CountingSink sink;
    const kalvrin::verify::VerifySummary summary = kalvrin::verify::VerifyFile(path, {}, sink);
    if (!summary.read || sink.count != 0) state.SkipWithError("the valid file did not verify clean");
    benchmark::DoNotOptimize(summary.messages);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_VerifyFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file through the headless format check, for the ratio.
void BM_FormatCheckSameFile(benchmark::State& state) {
  if (!Files().ok()) return state.SkipWithError("cannot write the files");
  const std::string path = Files().big();
  for (auto _ : state) {
    kalvrin::HeadlessSurface surface;
    kalvrin::FormatCheck check(surface);
    kalvrin::StartUpState(check, surface);
    if (kalvrin::IsoCommand(check, surface, path) == 0) state.SkipWithError("the format check failed");
    benchmark::DoNotOptimize(surface.gridRowCount());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(path)));
}
BENCHMARK(BM_FormatCheckSameFile)->Unit(benchmark::kMillisecond)->UseRealTime();

class NullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Four 25 MB files with --jobs 1 and --jobs 2.
void BM_VerifyCommandJobs(benchmark::State& state) {
  if (!Files().ok()) return state.SkipWithError("cannot write the files");
  const std::string jobs = std::to_string(state.range(0));
  std::vector<std::string> args = {"kalvrin-check", "verify", "--jobs", jobs};
  std::int64_t bytes = 0;
  for (const std::string& file : Files().small()) {
    args.push_back(file);
    bytes += static_cast<std::int64_t>(fs::file_size(file));
  }
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  NullBuffer null;
  std::ostream out(&null);
  for (auto _ : state) {
    if (kalvrin::RunKalvrinCheck(static_cast<int>(argv.size()), argv.data(), out, out) != 0) {
      state.SkipWithError("the valid files did not verify clean");
    }
  }
  state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_VerifyCommandJobs)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Chip data: a 100 MB file with consistent P55 in half of its transactions,
// verified with every rule and with the emv.* rules switched off; the first
// may take at most 1.11 times the second. Made on first use, removed at exit.
class ChipFile {
 public:
  ChipFile() : path_(fs::temp_directory_path() / ("kalvrin-bench-chip-" + std::to_string(::getpid()) + ".dat")) {
    ok_ = kalvrin::filegen::WriteGeneratedFile(path_, {.size = 100ull << 20, .seed = 55, .chip = 0.5});
  }
  ~ChipFile() {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  bool ok() const { return ok_; }
  std::string path() const { return path_.string(); }

 private:
  fs::path path_;
  bool ok_ = false;
};

const ChipFile& Chip() {
  static const ChipFile file;
  return file;
}

// state.range(0): 1 with the emv.* rules, 0 without.
void BM_VerifyChipData(benchmark::State& state) {
  if (!Chip().ok()) return state.SkipWithError("cannot write the chip file");
  kalvrin::verify::VerifyOptions options;
  if (state.range(0) == 0) {
    for (const auto& info : kalvrin::verify::kRules) {
      if (info.id.starts_with("emv.")) options.rules.Disable(info.rule);
    }
  }
  for (auto _ : state) {
    CountingSink sink;
    const kalvrin::verify::VerifySummary summary = kalvrin::verify::VerifyFile(Chip().path(), options, sink);
    if (!summary.read || sink.count != 0) state.SkipWithError("the chip file did not verify clean");
    benchmark::DoNotOptimize(summary.messages);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(fs::file_size(Chip().path())));
}
BENCHMARK(BM_VerifyChipData)->ArgName("emv")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
