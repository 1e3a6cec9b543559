// How the ISO and MAC commands came out, and the exit status kalvrin-check
// gives for it: both follow from the run, never from the texts it shows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testgen/filegen.h"
#include "headless/check_app.h"
#include "headless/headless_surface.h"
#include "iso/format_check.h"
#include "iso/iso_commands.h"
#include "mac/mac_command.h"
#include "support/check_runner.h"
#include "support/test_files.h"

namespace kalvrin {
namespace {

using test::Check;
using test::TempFile;

std::string Sample(const char* name) { return test::SamplePath(name).string(); }

// A window whose status texts read differently: what a change of wording
// would do to every text the commands show.
class RewordedSurface : public HeadlessSurface {
 public:
  void setStatus(int panel, std::string_view text) override {
    HeadlessSurface::setStatus(panel, "[" + std::string(text) + "] reworded");
  }
};

IsoOutcome RunIso(HeadlessSurface& surface, const std::string& path) {
  FormatCheck check(surface);
  StartUpState(check, surface);
  IsoOutcome outcome;
  IsoCommand(check, surface, path, outcome);
  return outcome;
}

MacOutcome RunMac(HeadlessSurface& surface, const std::string& path, const std::string& key) {
  FormatCheck check(surface);
  StartUpState(check, surface);
  MacOutcome outcome;
  MacCommand(surface, path, "(B690D735)", key, outcome);
  return outcome;
}

constexpr const char* kKey = "A4F1C07B3E9D2658";

TEST(CommandOutcome, IsoFollowsTheRunNotItsTexts) {
  const TempFile cut(filegen::BuildMessage("1240", {{2, "4111"}}).substr(0, 38));
  struct Case {
    std::string path;
    Outcome outcome;
    IsoReason reason;
    int exitCode;
  };
  const Case cases[] = {
      {Sample("batch-nsp.dat"), Outcome::Succeeded, IsoReason::Processed, 0},
      {Sample("batch-bad-prefix.dat"), Outcome::Failed, IsoReason::BadPrefix, 1},
      {cut.str(), Outcome::Failed, IsoReason::EndsInsideMessage, 1},
      {"/nonexistent/batch.dat", Outcome::CannotRun, IsoReason::CannotReadFile, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    HeadlessSurface plain;
    RewordedSurface reworded;
    const IsoOutcome shown = RunIso(plain, c.path);
    const IsoOutcome rewordedOutcome = RunIso(reworded, c.path);
    EXPECT_EQ(shown.outcome, c.outcome);
    EXPECT_EQ(shown.reason, c.reason);
    EXPECT_EQ(rewordedOutcome.outcome, c.outcome);
    EXPECT_EQ(rewordedOutcome.reason, c.reason);
    EXPECT_NE(reworded.status(kCommandPanel), plain.status(kCommandPanel));
    EXPECT_EQ(ExitStatus(c.outcome), c.exitCode);
    EXPECT_EQ(Check({"iso", c.path}).exitCode, c.exitCode);
  }
}

TEST(CommandOutcome, MacFollowsTheRunNotItsTexts) {
  const std::string nsp = Sample("batch-nsp.dat");
  const std::string bytes = test::ReadFileBytes(nsp);
  const TempFile noTrailer(bytes.substr(0, bytes.rfind("1844")));
  struct Case {
    std::string path;
    std::string key;
    Outcome outcome;
    MacReason reason;
    int exitCode;
  };
  const Case cases[] = {
      {nsp, kKey, Outcome::Succeeded, MacReason::Matched, 0},
      {Sample("batch-nhd.dat"), kKey, Outcome::Failed, MacReason::Mismatch, 1},
      {noTrailer.str(), kKey, Outcome::CannotRun, MacReason::NoTrailer, 2},
      {nsp, "A4F1C07B3E9D265", Outcome::CannotRun, MacReason::BadKey, 2},
      {nsp, "A4F1C07B3E9D26581C587F1C13924FEF", Outcome::CannotRun, MacReason::KeyNotInstalled, 2},
      {"/nonexistent/batch.dat", kKey, Outcome::CannotRun, MacReason::NoEnvelope, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + c.key);
    HeadlessSurface plain;
    RewordedSurface reworded;
    const MacOutcome shown = RunMac(plain, c.path, c.key);
    const MacOutcome rewordedOutcome = RunMac(reworded, c.path, c.key);
    EXPECT_EQ(shown.outcome, c.outcome);
    EXPECT_EQ(shown.reason, c.reason);
    EXPECT_EQ(rewordedOutcome.outcome, c.outcome);
    EXPECT_EQ(rewordedOutcome.reason, c.reason);
    EXPECT_EQ(rewordedOutcome.matches, shown.matches);
    EXPECT_NE(reworded.status(2), plain.status(2));
    EXPECT_EQ(ExitStatus(c.outcome), c.exitCode);
    EXPECT_EQ(Check({"mac", c.path, "--key", c.key}).exitCode, c.exitCode);
  }
  // the sample's declared MAC is the one MACNSP computes
  HeadlessSurface surface;
  EXPECT_EQ(RunMac(surface, nsp, kKey).matches, (std::array<bool, 3>{false, false, true}));
}

}  // namespace
}  // namespace kalvrin
