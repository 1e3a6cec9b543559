// The envelope rules: the MAC header record, the MAC check's file header
// test, the file header's P53 against the record, and the trailer's layout
// where the MAC check reads its function code and MAC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "verify/message_reader.h"
#include "verify/reporter.h"

namespace kalvrin::verify {

// The MAC header record's method, version and key check value; true when
// the record is whole and all three are well formed.
bool CheckMacHeaderRecord(const FileStart& start, Reporter& report);

// Why reading starts at the file's first byte, when it does.
void CheckFileHeaderTest(const FileStart& start, Reporter& report);

// The file header's P53 against a well-formed MAC header record.
void CheckSecurity(const DecodedMessage& fileHeader, std::string_view macHeader, MessageFileReader& reader,
                   Reporter& report);

// The last trailer seen, for the checks of its layout at the end.
struct TrailerFacts {
  std::int64_t record = 0;
  std::int64_t offset = -1;
  bool complete = false;
  std::vector<std::pair<int, std::int64_t>> elements;  // number and first byte
  std::string mac;
  std::int64_t macOffset = -1;
};
TrailerFacts FactsOf(const ReadMessage& trailer);

// A complete trailer's elements stand where the MAC check reads them.
void CheckTrailerLayout(const TrailerFacts& trailer, MessageFileReader& reader, Reporter& report);

}  // namespace kalvrin::verify
