// MAC-enveloped transaction files built by the tests, and a surface that
// remembers every text the MAC check writes.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "defines.h"
#include "headless/headless_surface.h"

namespace kalvrin::test {

// The text presetResults writes, to tell an edit the check left alone.
inline constexpr std::string_view kUntouched = "untouched";

// 60 bytes; `declared` stands at 41 (method, version, KCV).
std::string MacHeader(std::string_view declared = "101B690D735");

// The text padded with spaces to 300 bytes, then CR LF.
std::string Record(std::string text);

// The trailer message's first 55 bytes.
std::string Trailer(std::string_view mac, std::string_view functionCode = "971");

std::string FileHeaderMessage();

// A batch of n messages with varied content: spaces inside values, a TAB,
// bytes outside 0x20..0x7E.
std::string BatchMessages(int count);

using Strings = std::vector<std::string>;

// A surface that also remembers every text written, in order.
class RecordingSurface : public HeadlessSurface {
 public:
  void setEditText(Edit edit, std::string_view text) override {
    edits[edit].emplace_back(text);
    HeadlessSurface::setEditText(edit, text);
    if (onEdit) onEdit(edit);
  }
  void setStatus(int panel, std::string_view text) override {
    statuses[panel].emplace_back(text);
    HeadlessSurface::setStatus(panel, text);
  }
  std::vector<std::string> history(Edit edit) const {
    const auto found = edits.find(edit);
    return found == edits.end() ? std::vector<std::string>{} : found->second;
  }
  void presetResults() {
    for (const Edit e : {Edit::CalcMacAll, Edit::CalcMacNHD, Edit::CalcMacNSP, Edit::CalcMac1BNum,
                         Edit::CalcMac2BNum, Edit::CalcMac3BNum, Edit::INFileMac, Edit::INFileKcv}) {
      HeadlessSurface::setEditText(e, kUntouched);
    }
  }

  std::map<Edit, std::vector<std::string>> edits;
  std::map<int, std::vector<std::string>> statuses;
  std::function<void(Edit)> onEdit;
};

}  // namespace kalvrin::test
