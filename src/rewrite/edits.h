// The edits of a test copy, as a tester names them: set or unset one
// element of a message, delete or copy a whole message. Records count the
// input's messages (verify's record numbers), whatever edits came before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kalvrin::rewrite {

enum class EditKind { Set, Unset, Delete, Copy };

struct Edit {
  EditKind kind = EditKind::Set;
  std::int64_t record = 0;
  int element = 0;    // Set and Unset
  std::string value;  // Set: the element's data, without its length prefix
};

// "RECORD:ELEMENT=VALUE" (Set), "RECORD:ELEMENT" (Unset), "RECORD" (Delete,
// Copy); ELEMENT as P4, S71 or 4. Nullopt with `error` naming what is wrong,
// the record and element included when they were read.
std::optional<Edit> ParseEdit(EditKind kind, std::string_view text, std::string& error);

// Why the element table refuses an edit (an element that is no data
// element, a value too long or of the wrong length for a fixed element, a
// control character); empty when it takes it.
std::string EditRefusal(const Edit& edit);

// "record 8, P4".
std::string EditPlace(std::int64_t record, int element);
// "set 8:P4=000000002000".
std::string EditText(const Edit& edit);

// Edits grouped by record, each record's in the order given.
class EditList {
 public:
  explicit EditList(std::vector<Edit> edits);
  // The edits of one record; empty when it has none.
  std::vector<const Edit*> Of(std::int64_t record) const;
  // The highest record any edit names, 0 when there are none.
  std::int64_t LastRecord() const;
  bool Empty() const { return edits_.empty(); }

 private:
  std::vector<Edit> edits_;  // sorted by record, stable
};

}  // namespace kalvrin::rewrite
