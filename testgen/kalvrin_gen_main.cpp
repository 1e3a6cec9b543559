// kalvrin-gen OUT --size BYTES [--seed N]: writes a generated transaction file.
#include <cstdint>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "testgen/filegen.h"

int main(int argc, char** argv) {
  CLI::App app("Writes a batch file of ISO 8583 messages for tests and benchmarks.", "kalvrin-gen");
  std::string out;
  kalvrin::filegen::FileOptions options;
  app.add_option("OUT", out, "the file to write")->required();
  app.add_option("--size", options.size, "bytes: the file is the smallest whole number of records reaching it")
      ->required();
  app.add_option("--seed", options.seed, "seed of the message contents");
  app.add_option("--mac", options.mac, "the MAC the trailer declares (8 hex digits)");
  CLI11_PARSE(app, argc, argv);

  kalvrin::filegen::FileSummary summary;
  if (!kalvrin::filegen::WriteGeneratedFile(out, options, &summary)) {
    std::cerr << "kalvrin-gen: cannot write " << out << '\n';
    return 2;
  }
  std::cout << out << ": " << summary.bytes << " bytes, " << summary.messages << " messages\n";
  return 0;
}
