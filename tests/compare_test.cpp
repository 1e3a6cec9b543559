// Two files compared: generated files and copies with known edits, each
// edit with the records it must give and nothing else.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "compare/compare_files.h"
#include "support/test_files.h"
#include "testgen/filegen.h"
#include "verify/message_reader.h"

namespace kalvrin {
namespace {

using compare::Change;
using compare::CompareOptions;
using compare::Difference;
using test::TempFile;

struct Message {
  std::string mti;
  std::map<int, std::string> elements;
};

// A generated file taken apart into messages, to be edited and written
// again as the generator writes it: each message padded to 510 bytes and
// ended by CR LF.
struct File {
  std::string envelope;
  std::vector<Message> messages;

  static File Generated(std::uint64_t size = 12000, std::uint32_t seed = 7) {
    const std::string bytes = filegen::GenerateFileBytes({.size = size, .seed = seed});
    const TempFile temp(bytes);
    struct Collect final : verify::MessageVisitor {
      void OnStart(const verify::FileStart&) override {}
      void OnStrayText(const verify::StrayText&) override {}
      void OnMessage(const verify::ReadMessage& m) override {
        Message message{m.decoded.mti, {}};
        for (const DecodedElement& e : m.decoded.elements) message.elements[e.number] = e.value;
        messages.push_back(message);
      }
      std::vector<Message> messages;
    } collect;
    verify::MessageFileReader reader(temp.str());
    EXPECT_EQ(reader.Read(collect), verify::ReadEnd::EndOfFile);
    File file{bytes.substr(0, filegen::kMacHeaderLength + 2), collect.messages};
    EXPECT_EQ(file.Bytes(), bytes);  // written again, the file is the generator's
    return file;
  }

  std::string Bytes() const {
    std::string bytes = envelope;
    for (const Message& m : messages) {
      std::string text = filegen::BuildMessage(m.mti, m.elements);
      if (text.size() < 510) text.resize(510, ' ');
      bytes += text + "\r\n";
    }
    return bytes;
  }

  // Records from 1, as verify counts them.
  Message& At(std::size_t record) { return messages.at(record - 1); }
  // The records of the transactions of a batch, from 1, and of its 1542.
  std::vector<std::size_t> Batch(int number) const {
    std::vector<std::size_t> records;
    int batch = 1;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      if (messages[i].mti == "1542") ++batch;
      if (batch == number && messages[i].mti != "1542" && messages[i].mti != "1644") records.push_back(i + 1);
      if (batch > number) break;
    }
    return records;
  }
  std::size_t Reconciliation(int number) const {
    int seen = 0;
    for (std::size_t i = 0; i < messages.size(); ++i) {
      if (messages[i].mti == "1542" && ++seen == number) return i + 1;
    }
    return 0;
  }
};

std::string Describe(const Difference& d) {
  std::string text(compare::ChangeName(d.change));
  if (d.oldRecord != compare::kNoRecord) text += " old " + std::to_string(d.oldRecord);
  if (d.newRecord != compare::kNoRecord) text += " new " + std::to_string(d.newRecord);
  if (d.element != compare::kNoElement) text += " " + verify::ElementName(d.element);
  if (!d.field.empty()) text += " " + d.field;
  if (d.oldValue || d.newValue) text += " " + d.oldValue.value_or("(none)") + " -> " + d.newValue.value_or("(none)");
  return text;
}

struct Outcome {
  compare::CompareResult result;
  std::vector<std::string> records;
  std::vector<Difference> differences;
};

Outcome Compare(const std::string& before, const std::string& after, const CompareOptions& options = {}) {
  const TempFile a(before, "old.dat");
  const TempFile b(after, "new.dat");
  struct Sink final : compare::DifferenceSink {
    void OnDifference(const Difference& d) override { differences.push_back(d); }
    std::vector<Difference> differences;
  } sink;
  Outcome outcome;
  outcome.result = compare::CompareFiles(a.str(), b.str(), options, sink);
  EXPECT_TRUE(outcome.result.read) << outcome.result.error;
  outcome.differences = sink.differences;
  for (const Difference& d : sink.differences) outcome.records.push_back(Describe(d));
  return outcome;
}

using Records = std::vector<std::string>;

TEST(CompareEdits, SameFileGivesNothingAndEveryMessagePairs) {
  const File file = File::Generated();
  const Outcome outcome = Compare(file.Bytes(), file.Bytes());
  EXPECT_EQ(outcome.records, Records{});
  const auto count = static_cast<std::int64_t>(file.messages.size());
  EXPECT_EQ(outcome.result.summary.oldMessages, count);
  EXPECT_EQ(outcome.result.summary.pairs, count);
  EXPECT_EQ(outcome.result.summary.equal, count);
}

TEST(CompareEdits, ChangedElementsOfEveryFormat) {
  File old = File::Generated();
  File edited = old;
  const std::size_t t = old.Batch(1).at(1);
  const std::size_t r = old.Reconciliation(1);
  edited.At(t).elements[4] = "000000002000";          // fixed
  edited.At(t).elements[43] = "A LONGER SHOP NAME IN VIENNA AT";  // LL, the message grows
  edited.At(r).elements[72] = "RECON";                 // LLL, it shrinks
  const std::string was4 = old.At(t).elements[4];
  const Outcome outcome = Compare(old.Bytes(), edited.Bytes());
  const std::string ts = std::to_string(t);
  const std::string rs = std::to_string(r);
  EXPECT_EQ(outcome.records, (Records{"changed old " + ts + " new " + ts + " P4 " + was4 + " -> 000000002000",
                                      "changed old " + ts + " new " + ts + " P43 SAMPLE SHOP   VIENNA    AT -> " +
                                          "A LONGER SHOP NAME IN VIENNA AT",
                                      "changed old " + rs + " new " + rs + " S72 RECONCILIATION -> RECON"}));
  EXPECT_EQ(outcome.result.summary.changed, 3);
  EXPECT_EQ(outcome.result.summary.equal, outcome.result.summary.pairs - 2);
}

TEST(CompareEdits, ElementAddedAndRemovedChangeTheBitmap) {
  File old = File::Generated();
  File edited = old;
  const std::size_t t = old.Batch(1).at(0);
  edited.At(t).elements.erase(14);
  edited.At(t).elements[63] = "ADDED";
  const std::string ts = std::to_string(t);
  EXPECT_EQ(Compare(old.Bytes(), edited.Bytes()).records,
            (Records{"changed old " + ts + " new " + ts + " P14 " + old.At(t).elements[14] + " -> (none)",
                     "changed old " + ts + " new " + ts + " P63 (none) -> ADDED"}));
}

TEST(CompareEdits, DeletedAndInsertedMessagesStandWhereTheirNeighboursDo) {
  File old = File::Generated();
  File edited = old;
  const std::vector<std::size_t> batch = old.Batch(1);
  ASSERT_GE(batch.size(), 3u);
  const std::size_t gone = batch[1];
  Message inserted = old.At(batch[0]);
  inserted.elements[11] = "999999";
  edited.messages.erase(edited.messages.begin() + static_cast<std::ptrdiff_t>(gone - 1));
  edited.messages.insert(edited.messages.begin() + static_cast<std::ptrdiff_t>(batch[2] - 1), inserted);
  // new: ..., batch[0], batch[2] (at gone), inserted (at batch[2]), ...
  const Outcome outcome = Compare(old.Bytes(), edited.Bytes());
  EXPECT_EQ(outcome.records, (Records{"removed old " + std::to_string(gone), "added new " + std::to_string(batch[2])}));
  EXPECT_EQ(outcome.result.summary.removed, 1);
  EXPECT_EQ(outcome.result.summary.added, 1);
  EXPECT_EQ(outcome.differences[0].newOffset, compare::kNoOffset);
  EXPECT_EQ(outcome.differences[0].oldOffset,
            static_cast<std::int64_t>(filegen::kMacHeaderLength + 2 + (gone - 1) * filegen::kRecordLength));
}

TEST(CompareEdits, MovedToAnotherBatchButNotWithinOne) {
  File old = File::Generated();
  const std::vector<std::size_t> first = old.Batch(1);
  ASSERT_GE(first.size(), 3u);
  File swapped = old;
  std::swap(swapped.At(first[0]), swapped.At(first[2]));
  EXPECT_EQ(Compare(old.Bytes(), swapped.Bytes()).records, Records{});

  File moved = old;
  const Message message = old.At(first[0]);
  moved.messages.erase(moved.messages.begin() + static_cast<std::ptrdiff_t>(first[0] - 1));
  const std::size_t closing = moved.Reconciliation(1);  // the first 1542, one record earlier now
  moved.messages.insert(moved.messages.begin() + static_cast<std::ptrdiff_t>(closing), message);
  const Outcome outcome = Compare(old.Bytes(), moved.Bytes());
  EXPECT_EQ(outcome.records, (Records{"moved old " + std::to_string(first[0]) + " new " + std::to_string(closing + 1) +
                                      " 1 -> 2"}));
  EXPECT_EQ(outcome.result.summary.moved, 1);
}

TEST(CompareEdits, DuplicateKeysPairInFileOrder) {
  File old = File::Generated();
  const std::size_t t = old.Batch(1).at(0);
  Message twin = old.At(t);
  twin.elements[4] = "000000000111";
  old.messages.insert(old.messages.begin() + static_cast<std::ptrdiff_t>(t), twin);
  File edited = old;
  edited.At(t + 1).elements[4] = "000000000222";
  const std::string second = std::to_string(t + 1);
  EXPECT_EQ(Compare(old.Bytes(), edited.Bytes()).records,
            (Records{"changed old " + second + " new " + second + " P4 000000000111 -> 000000000222"}));
}

TEST(CompareEdits, MacHeaderRecord) {
  const File old = File::Generated();
  File edited = old;
  edited.envelope[41] = '2';
  edited.envelope[44] = edited.envelope[44] == 'F' ? '0' : 'F';
  const Outcome outcome = Compare(old.Bytes(), edited.Bytes());
  ASSERT_EQ(outcome.records.size(), 2u);
  EXPECT_EQ(outcome.records[0], "envelope method " + old.envelope.substr(41, 1) + " -> 2");
  EXPECT_EQ(outcome.records[1].substr(0, 13), "envelope kcv ");
  EXPECT_EQ(outcome.differences[1].oldValue, old.envelope.substr(44, 8));
  EXPECT_EQ(outcome.result.summary.envelope, 2);
}

TEST(CompareEdits, LineEndsConvertedOrWrapped) {
  const File old = File::Generated();
  const std::string bytes = old.Bytes();
  std::string unix;
  for (const char c : bytes) {
    if (c != '\r') unix += c;
  }
  EXPECT_EQ(Compare(bytes, unix).records, Records{"line-ends CR LF -> LF"});
  std::string mixed = unix;
  mixed.insert(mixed.size() / 2, "\r\n");
  EXPECT_EQ(Compare(unix, mixed).records, Records{"line-ends LF -> mixed"});
  // wrapped at 80 characters: line ends inside elements are no difference
  std::string wrapped;
  for (std::size_t at = 0; at < bytes.size(); at += 80) wrapped += bytes.substr(at, 80) + "\r\n";
  EXPECT_EQ(Compare(bytes, wrapped).records, Records{});
  bool failed = true;
  EXPECT_EQ(compare::LineEndKind(TempFile("no end").str(), failed), "none");
  EXPECT_FALSE(failed);
  EXPECT_EQ(compare::LineEndKind(TempFile("cut\r").str(), failed), "CR");
  EXPECT_EQ(Compare("a\rb", "a\r\nb").records, Records{"line-ends CR -> CR LF"});
}

TEST(CompareEdits, BadPrefixTakesNoPartInPairing) {
  const File old = File::Generated();
  const std::size_t t = old.Batch(1).at(1);
  std::string broken = old.Bytes();
  const std::int64_t at = static_cast<std::int64_t>(filegen::kMacHeaderLength + 2 + (t - 1) * filegen::kRecordLength);
  const std::size_t prefix = broken.find("26SAMPLE SHOP", static_cast<std::size_t>(at));
  ASSERT_NE(prefix, std::string::npos);
  broken[prefix + 1] = 'X';
  const std::string ts = std::to_string(t);
  const Outcome outcome = Compare(old.Bytes(), broken);
  // the old message stands after the partner of the one before it
  EXPECT_EQ(outcome.records, (Records{"removed old " + ts, "unreadable new " + ts + " P43"}));
  EXPECT_EQ(outcome.differences[1].newOffset, at);
  // a file with itself: nothing but its unreadable messages, once from each side
  EXPECT_EQ(Compare(broken, broken).records, (Records{"unreadable old " + ts + " P43", "unreadable new " + ts + " P43"}));
  EXPECT_EQ(Compare(broken, broken).result.summary.unreadable, 2);
}

TEST(CompareOptions, MatchReplacesTheTransactionKey) {
  File old = File::Generated();
  File edited = old;
  const std::size_t t = old.Batch(1).at(0);
  edited.At(t).elements[11] = "999999";
  const std::string ts = std::to_string(t);
  EXPECT_EQ(Compare(old.Bytes(), edited.Bytes()).records, (Records{"removed old " + ts, "added new " + ts}));
  CompareOptions byAmount;
  byAmount.match = {2, 4};
  EXPECT_EQ(Compare(old.Bytes(), edited.Bytes(), byAmount).records,
            (Records{"changed old " + ts + " new " + ts + " P11 " + old.At(t).elements[11] + " -> 999999"}));
}

TEST(CompareOptions, IgnoredElementsAreNotCompared) {
  File old = File::Generated();
  File edited = old;
  for (Message& m : edited.messages) m.elements[7] = "0101000000";
  CompareOptions options;
  options.ignore.set(7);
  const Outcome outcome = Compare(old.Bytes(), edited.Bytes(), options);
  EXPECT_EQ(outcome.records, Records{});
  EXPECT_EQ(outcome.result.summary.changed, 0);
  // every message's, the trailer's added
  EXPECT_EQ(Compare(old.Bytes(), edited.Bytes()).result.summary.changed, static_cast<std::int64_t>(old.messages.size()));
}

TEST(CompareOptions, MaskedCardNumbersInValuesAndKeys) {
  File old = File::Generated();
  const std::vector<std::size_t> batch = old.Batch(1);
  const std::size_t t = batch.at(0);
  const std::size_t u = batch.at(1);
  const std::string pan = old.At(t).elements[2];
  old.At(t).elements[35] = pan + "=2512201";
  File edited = old;
  edited.At(t).elements[35] = pan + "=2612201";
  edited.At(u).elements[2] = "4111111111111111";  // a new key: removed and added
  CompareOptions options;
  options.maskCardNumbers = true;
  const Outcome outcome = Compare(old.Bytes(), edited.Bytes(), options);
  ASSERT_EQ(outcome.records.size(), 3u) << ::testing::PrintToString(outcome.records);
  for (const Difference& d : outcome.differences) {
    for (const std::string& clear : {pan, old.At(u).elements[2], std::string("4111111111111111")}) {
      for (const std::string& text : {d.key, d.oldValue.value_or(""), d.newValue.value_or("")}) {
        EXPECT_EQ(text.find(clear), std::string::npos) << text;
      }
    }
  }
  EXPECT_EQ(outcome.differences[0].element, 35);
  EXPECT_EQ(outcome.differences[0].newValue, pan.substr(0, 6) + std::string(pan.size() - 10, '*') +
                                                  pan.substr(pan.size() - 4) + "=2612201");
  EXPECT_NE(outcome.differences[2].key.find("411111******1111"), std::string::npos);
}

TEST(CompareOptions, ElementLists) {
  std::string error;
  EXPECT_EQ(compare::ParseElementList("P2,S71,P11", error), (std::vector<int>{2, 71, 11}));
  for (const char* bad : {"", "P1", "P64", "S64", "S129", "P2,", "p2", "X4", "P2 ,P3", "P0002"}) {
    EXPECT_FALSE(compare::ParseElementList(bad, error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

TEST(CompareEdges, EmptyAndOneMessageFiles) {
  EXPECT_EQ(Compare("", "").records, Records{});
  const std::string one = filegen::BuildMessage("1240", {{2, "4111111111111111"}, {4, "000000000100"}});
  const Outcome added = Compare("", one);
  EXPECT_EQ(added.records, Records{"added new 1"});
  EXPECT_EQ(added.result.summary.newMessages, 1);
  EXPECT_EQ(added.result.summary.oldMessages, 0);
  EXPECT_EQ(Compare(one, one).records, Records{});
  EXPECT_EQ(Compare(one + "\n", "").records, (Records{"line-ends LF -> none", "removed old 1"}));
}

TEST(CompareEdges, UnreadableFileNamesItself) {
  const TempFile file("");
  struct Sink final : compare::DifferenceSink {
    void OnDifference(const Difference&) override { ++count; }
    int count = 0;
  } sink;
  const auto result = compare::CompareFiles(file.str(), file.str() + ".missing", {}, sink);
  EXPECT_FALSE(result.read);
  EXPECT_EQ(result.errorPath, file.str() + ".missing");
  EXPECT_EQ(sink.count, 0);
}

TEST(CompareEdges, StoppedByProgress) {
  const File file = File::Generated(60000);
  const TempFile a(file.Bytes());
  struct Sink final : compare::DifferenceSink {
    void OnDifference(const Difference&) override {}
  } sink;
  CompareOptions options;
  int calls = 0;
  options.progress = [&calls](std::int64_t, std::int64_t) { return ++calls < 3; };
  const auto result = compare::CompareFiles(a.str(), a.str(), options, sink);
  EXPECT_TRUE(result.stopped);
}

}  // namespace
}  // namespace kalvrin
