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

nlohmann::ordered_json SurfaceJson(const HeadlessSurface& surface, std::string_view command, int result) {
  nlohmann::ordered_json json;
  json["command"] = command;
  json["result"] = result;
  json["status"] = nlohmann::ordered_json::array();
  for (int panel = 0; panel < 3; ++panel) json["status"].push_back(Latin1ToUtf8(surface.status(panel)));
  json["progress"] = {{"min", surface.progressMin()},
                      {"max", surface.progressMax()},
                      {"position", surface.progressPosition()}};
  json["grid"] = nlohmann::ordered_json::array();
  for (int row = 0; row < surface.gridRowCount(); ++row) {
    nlohmann::ordered_json cells = nlohmann::ordered_json::array();
    for (const std::string& cell : surface.row(row)) cells.push_back(Latin1ToUtf8(cell));
    json["grid"].push_back(std::move(cells));
  }
  json["edits"] = nlohmann::ordered_json::object();
  for (int edit = 0; edit < kEditCount; ++edit) {
    json["edits"][std::string(kEditNames[edit])] = Latin1ToUtf8(surface.editText(static_cast<Edit>(edit)));
  }
  json["colors"] = nlohmann::ordered_json::object();
  for (Edit edit : kMacResultEdits) json["colors"][std::string(EditName(edit))] = ColourName(surface.editColour(edit));
  return json;
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
