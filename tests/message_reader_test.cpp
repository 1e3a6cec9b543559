// The message reader: where reading starts, messages in file order with
// their records and offsets, the text between them, broken messages and
// where reading goes on after them, batch ends, stopping, and agreement with
// the generator's files.
#include <gtest/gtest.h>

#include <map>
#include <utility>
#include <string>
#include <vector>

#include "support/test_files.h"
#include "testgen/filegen.h"
#include "verify/message_reader.h"

namespace kalvrin {
namespace {

using filegen::BuildMessage;
using test::TempFile;
using verify::FileStart;
using verify::MessageBreak;
using verify::MessageFileReader;
using verify::ReadEnd;
using verify::ReadMessage;
using verify::StrayText;

// A valid MAC header record (the default key's check value) and its line end.
const std::string kEnvelope = "DORVMAC HEADER TEST                      101B690D73520261208\r\n";

// What the reader handed over, copied out of its events.
struct Element {
  int number = 0;
  std::string value;
  std::int64_t offset = -1;
  bool complete = false;
};
struct Message {
  std::int64_t record = 0;
  std::string mti;
  std::int64_t offset = -1;
  std::int64_t bytes = 0;
  MessageBreak broken = MessageBreak::None;
  std::vector<Element> elements;
  std::string bitmapCharacters;
  std::int64_t bitmapOffset = -1;
  bool isTrailer = false;
  bool closesBatch = false;
};

class Log final : public verify::MessageVisitor {
 public:
  explicit Log(MessageFileReader& reader) : reader_(reader) {}
  void OnStart(const FileStart& s) override {
    ++starts;
    start = s;
  }
  void OnMessage(const ReadMessage& m) override {
    Message copy{m.record, m.decoded.mti, m.decoded.span.offset, m.decoded.span.bytes, m.broken, {},
                 m.bitmap.characters, m.bitmap.offset, m.isTrailer, m.closesBatch};
    for (const DecodedElement& e : m.decoded.elements) copy.elements.push_back({e.number, e.value, e.span.offset, e.complete});
    EXPECT_EQ(m.decoded.mtiSpan.offset, m.decoded.span.offset);
    // where the reader places the first and the seventh data character of the first element
    if (!m.decoded.elements.empty() && m.decoded.elements.front().complete) {
      dataOffsets.push_back({reader_.OffsetInValue(m.decoded.elements.front(), 0),
                             reader_.OffsetInValue(m.decoded.elements.front(), 6)});
    }
    messages.push_back(std::move(copy));
  }
  void OnStrayText(const StrayText& t) override { strays.push_back(t); }

  int starts = 0;
  FileStart start;
  std::vector<Message> messages;
  std::vector<StrayText> strays;
  std::vector<std::pair<std::int64_t, std::int64_t>> dataOffsets;

 private:
  MessageFileReader& reader_;
};

// A file read whole: its bytes, the reader and what it handed over.
struct ReadFile {
  explicit ReadFile(const std::string& bytes, const verify::ProgressCallback& progress = {})
      : file(bytes), reader(file.str()), log(reader) {
    EXPECT_TRUE(reader.IsOpen());
    end = reader.Read(log, progress);
  }
  TempFile file;
  MessageFileReader reader;
  Log log;
  ReadEnd end = ReadEnd::CannotRead;
};

std::int64_t At(const std::string& bytes, std::string_view text, std::size_t from = 0) {
  const std::size_t at = bytes.find(text, from);
  EXPECT_NE(at, std::string::npos) << text;
  return static_cast<std::int64_t>(at);
}

// ---- where reading starts ---------------------------------------------------------

TEST(MessageReaderStart, ReadsFromTheFileHeaderWhenTheEnvelopeTestPasses) {
  const std::string header = BuildMessage("1644", {{24, "961"}});
  const std::string bytes = kEnvelope + header + "\r\n";
  const ReadFile read(bytes);
  EXPECT_EQ(read.end, ReadEnd::EndOfFile);
  EXPECT_EQ(read.log.starts, 1);
  EXPECT_TRUE(read.log.start.fileHeaderFound);
  EXPECT_EQ(read.log.start.start, 62);
  EXPECT_EQ(read.log.start.headerDigit, 62);
  EXPECT_EQ(read.log.start.macHeader, kEnvelope.substr(0, 60));
  EXPECT_EQ(read.log.start.size, static_cast<std::int64_t>(bytes.size()));
  // the MAC header record's digits open no message: the 1644 is record 1
  ASSERT_EQ(read.log.messages.size(), 1u);
  EXPECT_EQ(read.log.messages[0].mti, "1644");
  EXPECT_EQ(read.log.messages[0].offset, 62);
  EXPECT_TRUE(read.log.strays.empty());
}

TEST(MessageReaderStart, ReadsFromTheFirstByteWhenTheFileHeaderTestFails) {
  // the first digit after 60 bytes opens a 1240, not the 1644
  const std::string first = BuildMessage("1240", {{3, "000000"}});
  const std::string bytes = std::string(60, ' ') + first + "\n" + BuildMessage("1644", {{24, "961"}});
  const ReadFile read(bytes);
  EXPECT_FALSE(read.log.start.fileHeaderFound);
  EXPECT_EQ(read.log.start.headerDigit, 60);
  EXPECT_EQ(read.log.start.headerMti, "1240");
  EXPECT_EQ(read.log.start.start, 0);
  ASSERT_EQ(read.log.messages.size(), 2u);
  EXPECT_EQ(read.log.messages[0].offset, 60);

  const ReadFile shortFile("1240");
  EXPECT_EQ(shortFile.log.start.headerDigit, -1);
  EXPECT_EQ(shortFile.log.start.macHeader, "1240");
  EXPECT_EQ(shortFile.end, ReadEnd::EndOfFile);
}

// ---- messages, offsets, elements ----------------------------------------------------

TEST(MessageReaderMessages, RecordsOffsetsAndElementsInFileOrder) {
  std::map<int, std::size_t> starts;
  const std::string transaction = BuildMessage("1240", {{2, "4111111111111111"}, {4, "000000001000"}}, &starts);
  // a line end inside the card number: skipped, but counted in the offsets
  std::string split = transaction;
  split.insert(starts.at(2) + 2 + 5, "\r\n");
  const std::string header = BuildMessage("1644", {{24, "961"}});
  const std::string bytes = kEnvelope + header + "\r\n" + split + "   \r\n" + transaction + "\r\n";
  const ReadFile read(bytes);
  EXPECT_EQ(read.end, ReadEnd::EndOfFile);
  ASSERT_EQ(read.log.messages.size(), 3u);

  const std::int64_t second = At(bytes, "1240");
  const std::int64_t third = At(bytes, "1240", static_cast<std::size_t>(second) + 1);
  const Message& m2 = read.log.messages[1];
  EXPECT_EQ(m2.record, 2);
  EXPECT_EQ(m2.offset, second);
  EXPECT_EQ(m2.bytes, static_cast<std::int64_t>(split.size()));
  EXPECT_EQ(m2.broken, MessageBreak::None);
  ASSERT_EQ(m2.elements.size(), 2u);
  EXPECT_EQ(m2.elements[0].number, 2);
  EXPECT_EQ(m2.elements[0].value, "4111111111111111");  // the line end dropped
  EXPECT_EQ(m2.elements[0].offset, second + static_cast<std::int64_t>(starts.at(2)));
  EXPECT_TRUE(m2.elements[0].complete);
  EXPECT_EQ(m2.elements[1].number, 4);
  EXPECT_EQ(m2.elements[1].value, "000000001000");
  EXPECT_EQ(m2.elements[1].offset, second + static_cast<std::int64_t>(starts.at(4)) + 2);

  const Message& m3 = read.log.messages[2];
  EXPECT_EQ(m3.record, 3);
  EXPECT_EQ(m3.offset, third);
  EXPECT_EQ(m3.bytes, static_cast<std::int64_t>(transaction.size()));

  // P2's data past its two prefix digits; a character beyond the line end
  // stands two bytes further
  ASSERT_EQ(read.log.dataOffsets.size(), 3u);
  const std::int64_t data = second + static_cast<std::int64_t>(starts.at(2)) + 2;
  EXPECT_EQ(read.log.dataOffsets[1], std::make_pair(data, data + 6 + 2));
}

TEST(MessageReaderMessages, TellsTrailersAndBatchEnds) {
  const std::string bytes = kEnvelope + BuildMessage("1644", {{24, "961"}}) + "\r\n" +
                            BuildMessage("1240", {{3, "000000"}, {4, "000000001000"}}) + "\r\n" +
                            BuildMessage("1542", {{24, "500"}, {76, "0000000001"}, {88, "0000000000001000"}}) +
                            "\r\n" + BuildMessage("1844", {{24, "971"}, {71, "00000004"}, {128, "0123ABCD"}}) +
                            "\r\n" + BuildMessage("1844", {{24, "972"}}) + "\r\n";
  const ReadFile read(bytes);
  ASSERT_EQ(read.log.messages.size(), 5u);
  std::vector<bool> trailers;
  std::vector<bool> batchEnds;
  for (const Message& m : read.log.messages) {
    trailers.push_back(m.isTrailer);
    batchEnds.push_back(m.closesBatch);
  }
  EXPECT_EQ(trailers, (std::vector<bool>{false, false, false, true, false}));  // only function code 971
  EXPECT_EQ(batchEnds, (std::vector<bool>{false, false, true, false, false}));
}

// ---- the text between messages --------------------------------------------------------

TEST(MessageReaderGaps, StrayTextAfterACompleteMessageUpToItsFirstControlCharacter) {
  const std::string message = BuildMessage("1240", {{3, "000000"}});
  const std::string bytes = message + "  hello\r\n" + message + "\r\n" + message + "9911 and more than sixteen";
  const ReadFile read(bytes);
  ASSERT_EQ(read.log.messages.size(), 3u);
  ASSERT_EQ(read.log.strays.size(), 2u);
  EXPECT_EQ(read.log.strays[0].afterRecord, 1);
  EXPECT_EQ(read.log.strays[0].offset, At(bytes, "hello"));
  EXPECT_EQ(read.log.strays[0].text, "hello");
  // digits that open no message are text like any other; the last stray runs to the end of the file
  EXPECT_EQ(read.log.strays[1].afterRecord, 3);
  EXPECT_EQ(read.log.strays[1].offset, At(bytes, "9911"));
  EXPECT_EQ(read.log.strays[1].text, "9911 and more th");
}

// What masking needs to see a card number the text holds in part: the
// digits right before it (the message's last element) and the rest of a
// run of digits that the sixteen characters cut.
TEST(MessageReaderGaps, StrayTextKeepsTheDigitsAroundIt) {
  const std::string message = BuildMessage("1240", {{3, "200000"}, {71, "49291234"}});
  const std::string bytes = message + "56781234 and more\r\n" + message + "\r\nABCDEFGH4929123456781234 end\r\n";
  const ReadFile read(bytes);
  ASSERT_EQ(read.log.strays.size(), 2u);
  const StrayText& split = read.log.strays[0];
  EXPECT_EQ(split.text, "56781234 and mor");
  EXPECT_TRUE(split.digitsBefore.ends_with("49291234")) << split.digitsBefore;
  EXPECT_LE(split.digitsBefore.size(), verify::kCardNumberContext);
  EXPECT_EQ(split.digitsAfter, "");  // the cut falls on a letter
  const StrayText& cut = read.log.strays[1];
  EXPECT_EQ(cut.text, "ABCDEFGH49291234");
  EXPECT_EQ(cut.digitsBefore, "");  // a line end stands before it
  EXPECT_EQ(cut.digitsAfter, "56781234");
}

// ---- broken messages --------------------------------------------------------------

TEST(MessageReaderBroken, ABadPrefixGoesOnAtTheNextMessageThatStartsALine) {
  const std::string good = BuildMessage("1240", {{3, "000000"}});
  // P2's prefix "1A": not a number; the "1140" inside the rest of its line
  // starts no line and opens no message
  const std::string bad = filegen::BuildRawMessage("1240", {{2, "1A41111140111111"}, {3, "000000"}});
  const std::string bytes = good + "\r\n" + bad + " tail\r\n" + good + "\r\n";
  const ReadFile read(bytes);
  EXPECT_EQ(read.end, ReadEnd::EndOfFile);
  ASSERT_EQ(read.log.messages.size(), 3u);
  const Message& broken = read.log.messages[1];
  EXPECT_EQ(broken.broken, MessageBreak::BadPrefix);
  ASSERT_EQ(broken.elements.size(), 1u);
  EXPECT_FALSE(broken.elements[0].complete);
  EXPECT_EQ(broken.elements[0].offset, At(bytes, "1A"));
  EXPECT_EQ(read.log.messages[2].record, 3);
  EXPECT_EQ(read.log.messages[2].offset, At(bytes, "1240", static_cast<std::size_t>(At(bytes, "tail"))));
  EXPECT_TRUE(read.log.strays.empty());  // the broken message's rest is no stray text

  // no line start follows: reading goes on right after the prefix and finds the 1140
  const std::string noLine = good + "\r\n" + bad;
  const ReadFile rest(noLine);
  ASSERT_EQ(rest.log.messages.size(), 3u);
  EXPECT_EQ(rest.log.messages[2].mti, "1140");
  EXPECT_EQ(rest.log.messages[2].offset, At(noLine, "1140"));
}

TEST(MessageReaderBroken, AFileCutShortEndsInATruncatedMessage) {
  const std::string message = BuildMessage("1240", {{2, "4111111111111111"}, {3, "000000"}});
  for (const std::size_t keep : {std::size_t{10}, message.size() - 3}) {
    SCOPED_TRACE(keep);
    const std::string bytes = message + "\r\n" + message.substr(0, keep);
    const ReadFile read(bytes);
    EXPECT_EQ(read.end, ReadEnd::EndOfFile);
    ASSERT_EQ(read.log.messages.size(), 2u);
    const Message& cut = read.log.messages[1];
    EXPECT_EQ(cut.broken, MessageBreak::Truncated);
    EXPECT_FALSE(cut.closesBatch);
    if (keep == 10) {
      EXPECT_TRUE(cut.elements.empty());  // inside the bitmaps
    } else {
      ASSERT_EQ(cut.elements.size(), 2u);
      EXPECT_EQ(cut.elements[1].number, 3);
      EXPECT_EQ(cut.elements[1].value, "000");
      EXPECT_FALSE(cut.elements[1].complete);
    }
  }
}

TEST(MessageReaderBroken, BitmapCharactersThatMarkNoElements) {
  std::string message = BuildMessage("1240", {{3, "000000"}, {70, "301"}});
  const std::size_t primary = 4;
  const std::size_t secondary = 20;
  message[primary + 15] = 'x';   // marks nothing
  message[secondary + 1] = 'a';  // lower case marks nothing
  const std::string bytes = "\n" + message;
  const ReadFile read(bytes);
  ASSERT_EQ(read.log.messages.size(), 1u);
  EXPECT_EQ(read.log.messages[0].bitmapCharacters, "xa");
  EXPECT_EQ(read.log.messages[0].bitmapOffset, static_cast<std::int64_t>(1 + primary + 15));

  const ReadFile clean(BuildMessage("1240", {{3, "000000"}}));
  EXPECT_EQ(clean.log.messages[0].bitmapCharacters, "");
  EXPECT_EQ(clean.log.messages[0].bitmapOffset, -1);
}

// ---- whole files ------------------------------------------------------------------------

TEST(MessageReaderFiles, GeneratedFilesReadAsTheGeneratorWroteThem) {
  for (const std::uint32_t seed : {1u, 7u, 42u}) {
    SCOPED_TRACE(seed);
    filegen::FileSummary made;
    const std::string bytes = filegen::GenerateFileBytes({.size = 60000, .seed = seed}, &made);
    const ReadFile read(bytes);
    EXPECT_EQ(read.end, ReadEnd::EndOfFile);
    EXPECT_TRUE(read.log.start.fileHeaderFound);
    EXPECT_EQ(read.log.start.start, static_cast<std::int64_t>(filegen::kMacHeaderLength + 2));
    ASSERT_EQ(read.log.messages.size(), made.messages);
    std::size_t batches = 0;
    for (std::size_t i = 0; i < read.log.messages.size(); ++i) {
      const Message& m = read.log.messages[i];
      EXPECT_EQ(m.record, static_cast<std::int64_t>(i + 1));
      EXPECT_EQ(m.offset, static_cast<std::int64_t>(filegen::kMacHeaderLength + 2 + i * filegen::kRecordLength));
      EXPECT_EQ(m.broken, MessageBreak::None);
      batches += m.closesBatch;
      EXPECT_EQ(m.closesBatch, m.mti == "1542");
    }
    EXPECT_GT(batches, 0u);
    EXPECT_TRUE(read.log.messages.back().isTrailer);
    EXPECT_TRUE(read.log.strays.empty());
  }
}

TEST(MessageReaderFiles, TheProgressCallbackStopsTheReading) {
  const std::string bytes = filegen::GenerateFileBytes({.size = 2u << 20, .seed = 9});
  std::int64_t calls = 0;
  std::int64_t lastTotal = 0;
  const ReadFile stopped(bytes, [&](std::int64_t, std::int64_t total) {
    lastTotal = total;
    return ++calls < 2;
  });
  EXPECT_EQ(stopped.end, ReadEnd::Stopped);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(lastTotal, static_cast<std::int64_t>(bytes.size()));
  EXPECT_LT(stopped.log.messages.size(), bytes.size() / filegen::kRecordLength / 2);

  const ReadFile whole(bytes, [](std::int64_t, std::int64_t) { return true; });
  EXPECT_EQ(whole.end, ReadEnd::EndOfFile);
  EXPECT_EQ(whole.log.messages.size(), bytes.size() / filegen::kRecordLength);
}

TEST(MessageReaderFiles, AFileThatCannotBeOpenedIsNotOpen) {
  const MessageFileReader reader("/nonexistent/kalvrin/batch.dat");
  EXPECT_FALSE(reader.IsOpen());
}

}  // namespace
}  // namespace kalvrin
