// Parsing and checking the edits against the element table.
#include "rewrite/edits.h"

#include <algorithm>
#include <charconv>

#include "iso/element_table.h"
#include "iso/format_rules.h"
#include "verify/finding.h"

namespace kalvrin::rewrite {

namespace {

std::optional<std::int64_t> ParseRecord(std::string_view text) {
  std::int64_t record = 0;
  const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), record);
  if (code != std::errc() || end != text.data() + text.size() || record < 1) return std::nullopt;
  return record;
}

// "P4", "S71" (a secondary element) or "4".
std::optional<int> ParseElement(std::string_view text) {
  if (!text.empty() && (text.front() == 'P' || text.front() == 'p' || text.front() == 'S' || text.front() == 's')) {
    text.remove_prefix(1);
  }
  int element = 0;
  const auto [end, code] = std::from_chars(text.data(), text.data() + text.size(), element);
  if (code != std::errc() || end != text.data() + text.size() || element < 1 || element > kElementCount) {
    return std::nullopt;
  }
  return element;
}

}  // namespace

std::string EditPlace(std::int64_t record, int element) {
  return "record " + std::to_string(record) + ", " + verify::ElementName(element);
}

std::string EditText(const Edit& edit) {
  const std::string record = std::to_string(edit.record);
  switch (edit.kind) {
    case EditKind::Set: return "set " + record + ":" + verify::ElementName(edit.element) + "=" + edit.value;
    case EditKind::Unset: return "unset " + record + ":" + verify::ElementName(edit.element);
    case EditKind::Delete: return "delete " + record;
    case EditKind::Copy: break;
  }
  return "copy " + record;
}

std::optional<Edit> ParseEdit(EditKind kind, std::string_view text, std::string& error) {
  Edit edit;
  edit.kind = kind;
  const bool whole = kind == EditKind::Delete || kind == EditKind::Copy;
  const std::size_t colon = whole ? text.size() : text.find(':');
  if (colon == std::string_view::npos) {
    error = "'" + std::string(text) + "' is not RECORD:ELEMENT" + (kind == EditKind::Set ? "=VALUE" : "");
    return std::nullopt;
  }
  const std::optional<std::int64_t> record = ParseRecord(text.substr(0, colon));
  if (!record) {
    error = "'" + std::string(text.substr(0, colon)) + "' is not a record number (1 for the first message)";
    return std::nullopt;
  }
  edit.record = *record;
  if (whole) return edit;
  std::string_view rest = text.substr(colon + 1);
  const std::size_t equals = rest.find('=');
  if (kind == EditKind::Set && equals == std::string_view::npos) {
    error = "record " + std::to_string(*record) + ": '" + std::string(rest) + "' gives no value (ELEMENT=VALUE)";
    return std::nullopt;
  }
  const std::string_view elementText = kind == EditKind::Set ? rest.substr(0, equals) : rest;
  const std::optional<int> element = ParseElement(elementText);
  if (!element) {
    error = "record " + std::to_string(*record) + ": '" + std::string(elementText) + "' is not an element (P2 to S128)";
    return std::nullopt;
  }
  edit.element = *element;
  if (kind == EditKind::Set) edit.value = rest.substr(equals + 1);
  if (std::string refusal = EditRefusal(edit); !refusal.empty()) {
    error = std::move(refusal);
    return std::nullopt;
  }
  return edit;
}

std::string EditRefusal(const Edit& edit) {
  if (edit.kind == EditKind::Delete || edit.kind == EditKind::Copy) return {};
  const std::string place = EditPlace(edit.record, edit.element);
  if (!IsDataElement(edit.element)) return place + ": not a data element (its bits belong to the bitmaps)";
  if (edit.kind == EditKind::Unset) return {};
  const ElementLayout layout = kElementLayouts[static_cast<std::size_t>(edit.element)];
  const auto length = static_cast<std::int32_t>(edit.value.size());
  if (std::any_of(edit.value.begin(), edit.value.end(), IsControl)) {
    return place + ": a value holds no control characters (the reading skips them)";
  }
  if (layout.prefixDigits == 0 && length != layout.maxLength) {
    return place + ": the element is " + std::to_string(layout.maxLength) + " characters long, the value " +
           std::to_string(length);
  }
  if (length > layout.maxLength) {
    return place + ": the element holds at most " + std::to_string(layout.maxLength) + " characters, the value " +
           std::to_string(length);
  }
  return {};
}

EditList::EditList(std::vector<Edit> edits) : edits_(std::move(edits)) {
  std::stable_sort(edits_.begin(), edits_.end(), [](const Edit& a, const Edit& b) { return a.record < b.record; });
}

std::vector<const Edit*> EditList::Of(std::int64_t record) const {
  std::vector<const Edit*> found;
  auto it = std::lower_bound(edits_.begin(), edits_.end(), record,
                             [](const Edit& edit, std::int64_t r) { return edit.record < r; });
  for (; it != edits_.end() && it->record == record; ++it) found.push_back(&*it);
  return found;
}

std::int64_t EditList::LastRecord() const { return edits_.empty() ? 0 : edits_.back().record; }

}  // namespace kalvrin::rewrite
