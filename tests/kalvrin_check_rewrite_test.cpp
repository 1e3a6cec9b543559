// kalvrin-check rewrite: edits in the order the command line gives them,
// the report of changes in both forms, argument errors that name the record
// and element, and the secret and key sources.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/check_runner.h"
#include "support/test_files.h"
#include "testgen/filegen.h"

namespace kalvrin {
namespace {

using test::Check;
using test::Printed;
using test::ReadFileBytes;
using test::TempFile;

constexpr std::string_view kKey = filegen::kDefaultKey;

std::string GeneratedFile(std::uint32_t seed) {
  filegen::FileOptions options;
  options.seed = seed;
  options.size = 12000;
  return filegen::GenerateFileBytes(options);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(nlohmann::json::parse(line));
  return lines;
}

class RewriteCommand : public ::testing::Test {
 protected:
  RewriteCommand() : in_(GeneratedFile(5), "in.dat") {}
  std::string In() const { return in_.str(); }
  std::string Out(std::string_view name = "out.dat") const { return (in_.path().parent_path() / name).string(); }
  TempFile in_;
};

TEST_F(RewriteCommand, WritesTheCopyAndReportsEveryChangeAsJsonLines) {
  // a debit or credit, whose amount counts in its batch's totals: a
  // generated file holds the MAC header record on its first line, then a
  // message a line
  const std::string bytes = ReadFileBytes(In());
  int record = 0;
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos && bytes.compare(at + 2, 4, "1240") != 0;
       at = bytes.find("\r\n", at + 1)) {
    ++record;
  }
  const std::string edit = std::to_string(record + 1) + ":P4=000000002000";
  const Printed printed = Check({"rewrite", In(), Out(), "--set", edit, "--renumber", "--retotal",
                                 "--remac", "--key", std::string(kKey), "--json"});
  ASSERT_EQ(printed.exitCode, 0) << printed.err;
  EXPECT_EQ(printed.err, "");
  const std::vector<nlohmann::json> lines = JsonLines(printed.out);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines.front()["change"], "set");
  EXPECT_EQ(lines.front()["record"], record + 1);
  EXPECT_EQ(lines.front()["element"], "P4");
  EXPECT_EQ(lines.front()["after"], "000000002000");
  bool retotalled = false;
  for (const nlohmann::json& line : lines) retotalled = retotalled || line.value("change", "") == "retotal";
  EXPECT_TRUE(retotalled);
  const nlohmann::json& summary = lines.back()["summary"];
  EXPECT_EQ(summary["macVariant"], "MACNSP");
  EXPECT_EQ(summary["mac"].get<std::string>().size(), 8u);
  EXPECT_EQ(lines[lines.size() - 2]["change"], "mac");
  EXPECT_EQ(lines[lines.size() - 2]["after"], summary["mac"]);
  const Printed verified = Check({"verify", Out(), "--key", std::string(kKey)});
  EXPECT_EQ(verified.exitCode, 0) << verified.out;
  // the readable form lists the edits and sums up
  const Printed text = Check({"rewrite", In(), Out("text.dat"), "--set", edit});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.out.substr(0, text.out.find('\n')), "set record " + std::to_string(record + 1) + ", P4: '" +
                                                         JsonLines(printed.out).front()["before"].get<std::string>() +
                                                         "' -> '000000002000'");
  EXPECT_NE(text.out.find("1 changes"), std::string::npos) << text.out;
}

TEST_F(RewriteCommand, EditsApplyInTheOrderGivenAcrossOptions) {
  ASSERT_EQ(Check({"rewrite", In(), Out("a.dat"), "--copy", "3", "--set", "3:P11=917253"}).exitCode, 0);
  ASSERT_EQ(Check({"rewrite", In(), Out("b.dat"), "--set", "3:P11=917253", "--copy", "3"}).exitCode, 0);
  const std::string a = ReadFileBytes(Out("a.dat"));
  const std::string b = ReadFileBytes(Out("b.dat"));
  EXPECT_EQ(a.size(), b.size());
  EXPECT_NE(a, b);
  // the copy taken after the edit carries it twice
  auto count = [](const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(a, "917253"), 1);
  EXPECT_EQ(count(b, "917253"), 2);
}

TEST_F(RewriteCommand, ArgumentErrorsNameTheRecordAndElementAndWriteNothing) {
  // a generated file: the MAC header record's line, then one line a message
  const std::string bytes = ReadFileBytes(In());
  int messages = -1;
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at + 1)) ++messages;
  const struct {
    std::vector<std::string> args;
    std::string error;
  } cases[] = {
      {{"--set", "8:P4=2000"}, "kalvrin-check: --set: record 8, P4: the element is 12 characters long, the value 4\n"},
      {{"--unset", "8:P999"}, "kalvrin-check: --unset: record 8: 'P999' is not an element (P2 to S128)\n"},
      {{"--delete", "x"}, "kalvrin-check: --delete: 'x' is not a record number (1 for the first message)\n"},
      {{"--set", "2:P11=000001", "--set", "999:P4=000000000001"}, "kalvrin-check: record 999 is not in the input file (" + std::to_string(messages) + " messages)\n"},
      {{"--remac", "--key", "12"}, "kalvrin-check: the key must be 16 or 32 hex digits\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"rewrite", In(), Out()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args.front());
    const Printed printed = Check(args);
    EXPECT_EQ(printed.exitCode, 2);
    EXPECT_EQ(printed.err, c.error);
    EXPECT_EQ(printed.out, "");
    EXPECT_FALSE(std::filesystem::exists(Out()));
  }
  const Printed same = Check({"rewrite", In(), In()});
  EXPECT_EQ(same.exitCode, 2);
  EXPECT_EQ(same.err, "kalvrin-check: OUT is the input file itself; a test copy goes to another file\n");
}

TEST_F(RewriteCommand, TheSecretFromAFileOrTheEnvironmentGivesTheSameCopy) {
  const std::string secret = Out("secret.txt");
  std::ofstream(secret) << "team secret\n";
  ASSERT_EQ(Check({"rewrite", In(), Out("a.dat"), "--anonymize", "--anonymize-secret", secret}).exitCode, 0);
  ::setenv("KALVRIN_ANON_SECRET", "team secret", 1);
  const Printed fromEnvironment = Check({"rewrite", In(), Out("b.dat"), "--anonymize", "--json"});
  ::unsetenv("KALVRIN_ANON_SECRET");
  ASSERT_EQ(fromEnvironment.exitCode, 0) << fromEnvironment.err;
  EXPECT_EQ(ReadFileBytes(Out("a.dat")), ReadFileBytes(Out("b.dat")));
  ASSERT_EQ(Check({"rewrite", In(), Out("c.dat"), "--anonymize"}).exitCode, 0);
  EXPECT_NE(ReadFileBytes(Out("c.dat")), ReadFileBytes(Out("a.dat")));  // a random secret
  // the report masks card numbers
  for (const nlohmann::json& line : JsonLines(fromEnvironment.out)) {
    if (line.value("element", nlohmann::json()) != "P2") continue;
    const std::string before = line["before"];
    EXPECT_NE(before.find('*'), std::string::npos) << before;
  }
  const Printed missing = Check({"rewrite", In(), Out("d.dat"), "--anonymize", "--anonymize-secret", Out("none")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("cannot read the anonymisation secret"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace kalvrin
