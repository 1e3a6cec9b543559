// Finding one message of a file as verify frames it: by its record number
// or by the offset of its MTI's first digit. The format check's grid stops at
// a bad length prefix; verify reads on, so a message past the grid is found
// here by reading the file from its start the way verify does.
#pragma once

#include <cstdint>
#include <string>

#include "io/file_identity.h"
#include "verify/finding.h"

namespace kalvrin {

enum class LocateEnd {
  Found,
  NoMessageThere,  // no message of the file has that record number, or starts at that offset
  PastTheEnd,      // the offset is not inside the file
  CannotRead,      // the file cannot be opened or read
  Changed,         // the file changed while it was read
  Stopped,         // the progress callback asked to stop
};

struct LocatedMessage {
  LocateEnd end = LocateEnd::NoMessageThere;
  std::int64_t record = 0;   // when found: counted from 1 in file order, as the grid's Rec#
  std::int64_t offset = -1;  // when found: its MTI's first digit
  // For an offset where no message starts: the messages around it (record 0
  // and offset -1 when there is none on that side).
  std::int64_t recordBefore = 0;
  std::int64_t offsetBefore = -1;
  std::int64_t recordAfter = 0;
  std::int64_t offsetAfter = -1;
  std::int64_t fileSize = 0;
  FileIdentity identity;  // the file as it was read
  std::string error;      // for CannotRead: why
};

// The message with record number `record` (from 1).
LocatedMessage LocateRecord(const std::string& path, std::int64_t record, const verify::ProgressCallback& progress = {});
// The message whose MTI's first digit stands at `offset`.
LocatedMessage LocateOffset(const std::string& path, std::int64_t offset, const verify::ProgressCallback& progress = {});

}  // namespace kalvrin
