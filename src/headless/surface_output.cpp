// Text, JSON and CSV views of a headless window.
#include "headless/surface_output.h"

#include <algorithm>
#include <array>

namespace kalvrin {

namespace {

std::string_view ColourName(TextColour colour) {
  switch (colour) {
    case TextColour::Red: return "red";
    case TextColour::Green: return "green";
    case TextColour::Black: break;
  }
  return "black";
}

std::vector<std::vector<std::string>> HeldRows(const HeadlessSurface& surface) {
  std::vector<std::vector<std::string>> rows;
  rows.reserve(static_cast<std::size_t>(surface.gridRowCount()));
  for (int row = 0; row < surface.gridRowCount(); ++row) rows.push_back(surface.row(row));
  return rows;
}

bool AnyEditSet(const HeadlessSurface& surface) {
  for (int edit = 0; edit < kEditCount; ++edit) {
    if (!surface.editText(static_cast<Edit>(edit)).empty()) return true;
  }
  return false;
}

// Columns are as wide as their widest text, counted in characters.
void WriteTable(std::ostream& out, const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t col = 0; col < row.size(); ++col) widths[col] = std::max(widths[col], row[col].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t col = 0; col < row.size(); ++col) {
      if (col > 0) line += "  ";
      line += Latin1ToUtf8(row[col]);
      line.append(widths[col] - row[col].size(), ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    out << line << '\n';
  }
}

}  // namespace

namespace {

void AppendEscaped(std::string& line, unsigned char byte) {
  switch (byte) {
    case '\n': line += "\\n"; return;
    case '\r': line += "\\r"; return;
    case '\t': line += "\\t"; return;
    default: break;
  }
  constexpr std::string_view kHex = "0123456789ABCDEF";
  line += "\\x";
  line += kHex[byte >> 4];
  line += kHex[byte & 0x0F];
}

bool IsControl(unsigned code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

// The length of the valid UTF-8 sequence at text[at] that encodes a
// character other than a control character, or 0.
std::size_t Utf8Sequence(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  unsigned code = 0;
  unsigned least = 0;
  if (lead < 0x80) return IsControl(lead) ? 0 : 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1Fu;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0Fu;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07u;
    least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF) || IsControl(code)) return 0;
  return length;
}

}  // namespace

std::string FileTextForLine(std::string_view text) {
  std::string line;
  line.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (IsControl(byte)) {
      AppendEscaped(line, byte);
    } else {
      line += Latin1ToUtf8(std::string_view(&c, 1));
    }
  }
  return line;
}

std::string PathForLine(std::string_view path) {
  std::string line;
  line.reserve(path.size());
  for (std::size_t at = 0; at < path.size();) {
    const std::size_t length = Utf8Sequence(path, at);
    if (length == 0) {
      AppendEscaped(line, static_cast<unsigned char>(path[at]));
      ++at;
    } else {
      line.append(path.substr(at, length));
      at += length;
    }
  }
  return line;
}

void WriteSurfaceJson(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result) {
  // Written piece by piece, each text as a JSON string of its own: a
  // document of the whole grid would take several times the grid's memory,
  // and the library's arrays allocate even as they are destroyed, which ends
  // the program when memory has run out.
  auto text = [&out](std::string_view bytes) { out << nlohmann::json(Latin1ToUtf8(bytes)).dump(); };
  out << "{\"command\":";
  text(command);
  out << ",\"result\":" << result << ",\"status\":[";
  for (int panel = 0; panel < 3; ++panel) {
    if (panel > 0) out << ',';
    text(surface.status(panel));
  }
  out << "],\"progress\":{\"min\":" << surface.progressMin() << ",\"max\":" << surface.progressMax()
      << ",\"position\":" << surface.progressPosition() << "},\"grid\":[";
  for (int row = 0; row < surface.gridRowCount(); ++row) {
    out << (row > 0 ? ",[" : "[");
    bool first = true;
    for (const std::string& cell : surface.row(row)) {
      if (!first) out << ',';
      first = false;
      text(cell);
    }
    out << ']';
  }
  out << "],\"edits\":{";
  for (int edit = 0; edit < kEditCount; ++edit) {
    if (edit > 0) out << ',';
    text(kEditNames[edit]);
    out << ':';
    text(surface.editText(static_cast<Edit>(edit)));
  }
  out << "},\"colors\":{";
  bool first = true;
  for (Edit edit : kMacResultEdits) {
    if (!first) out << ',';
    first = false;
    text(EditName(edit));
    out << ':';
    text(ColourName(surface.editColour(edit)));
  }
  out << "}}\n";
}

void WriteTextReport(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result) {
  out << "Command:  " << command << " (result " << result << ")\n";
  for (int panel = 0; panel < 3; ++panel) {
    out << "Status " << panel << ": " << Latin1ToUtf8(surface.status(panel)) << '\n';
  }
  out << "Progress: " << surface.progressPosition() << " of " << surface.progressMin() << ".."
      << surface.progressMax() << '\n';

  if (AnyEditSet(surface)) {
    out << "File MAC: method " << Latin1ToUtf8(surface.editText(Edit::INFileMacMeth)) << ", version "
        << Latin1ToUtf8(surface.editText(Edit::INFileMacVer)) << ", KCV "
        << Latin1ToUtf8(surface.editText(Edit::INFileKcv)) << ", MAC "
        << Latin1ToUtf8(surface.editText(Edit::INFileMac)) << '\n';
    // Each variant's figures: BlockSize, MacCalls, ByteCount.
    constexpr std::array<std::pair<std::string_view, std::array<Edit, 3>>, 3> kFigures{{
        {"MACALL", {Edit::CalcMac1BSize, Edit::CalcMac1BNum, Edit::CalcMac1FSize}},
        {"MACNHD", {Edit::CalcMac2BSize, Edit::CalcMac2BNum, Edit::CalcMac2FSize}},
        {"MACNSP", {Edit::CalcMac3BSize, Edit::CalcMac3BNum, Edit::CalcMac3FSize}}}};
    for (const auto& [name, edits] : kFigures) {
      out << name << ":   BlockSize " << Latin1ToUtf8(surface.editText(edits[0])) << ", MacCalls "
          << Latin1ToUtf8(surface.editText(edits[1])) << ", ByteCount " << Latin1ToUtf8(surface.editText(edits[2]))
          << '\n';
    }
    for (Edit edit : kMacResultEdits) {
      const TextColour colour = surface.editColour(edit);
      out << EditName(edit) << ": " << Latin1ToUtf8(surface.editText(edit));
      if (colour == TextColour::Green) out << " (match)";
      if (colour == TextColour::Red) out << " (mismatch)";
      out << '\n';
    }
  }

  if (command != "iso") return;  // the MAC check leaves the grid as start-up left it
  const auto rows = HeldRows(surface);
  out << "Grid:     " << (rows.empty() ? 0 : rows.size() - 1) << " rows\n";
  WriteTable(out, rows);
}

}  // namespace kalvrin
