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

// What the driver's integer means, for the readable report.
std::string_view ResultMeaning(std::string_view command, int result) {
  if (command == "mac") return result != 0 ? "the MACs were computed" : "no MAC was computed";
  return result != 0 ? "the file was read to its end" : "the check stopped before the end";
}

}  // namespace

namespace {

void AppendHexEscape(std::string& line, unsigned char byte) {
  constexpr std::string_view kHex = "0123456789ABCDEF";
  line += "\\x";
  line += kHex[byte >> 4];
  line += kHex[byte & 0x0F];
}

void AppendEscaped(std::string& line, unsigned char byte) {
  switch (byte) {
    case '\n': line += "\\n"; return;
    case '\r': line += "\\r"; return;
    case '\t': line += "\\t"; return;
    default: AppendHexEscape(line, byte); return;
  }
}

bool IsControl(unsigned code) { return code < 0x20 || (code >= 0x7F && code < 0xA0); }

// U+0080-U+009F in a JSON text from `from` on, as \u0080-\u009F: the library
// writes them as they are, and a reader that splits lines on Unicode line
// ends (U+0085) would break the line there. In UTF-8 they are the only
// pairs that start with 0xC2 0x80-0x9F.
void EscapeC1InJson(std::string& json, std::size_t from) {
  std::size_t at = json.find('\xC2', from);
  if (at == std::string::npos) return;
  std::string escaped(json, 0, at);
  for (; at < json.size(); ++at) {
    const auto byte = static_cast<unsigned char>(json[at]);
    const auto next = at + 1 < json.size() ? static_cast<unsigned char>(json[at + 1]) : 0u;
    if (byte == 0xC2 && next >= 0x80 && next < 0xA0) {
      constexpr std::string_view kHex = "0123456789abcdef";
      escaped += "\\u00";
      escaped += kHex[next >> 4];
      escaped += kHex[next & 0x0F];
      ++at;
    } else {
      escaped += static_cast<char>(byte);
    }
  }
  json.swap(escaped);
}

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

namespace {

bool IsC1Control(unsigned code) { return code >= 0x80 && code < 0xA0; }

// The one escaping of a file's text for output: the bytes `escaped` picks
// as \xNN, the stretches between them appended by `append` (as UTF-8 for
// the text forms, as they are for a field that is converted later). Gives
// the number of bytes escaped.
template <typename Append>
std::size_t AppendHexEscaped(std::string& out, std::string_view text, bool (*escaped)(unsigned), Append append) {
  std::size_t from = 0;
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    if (!escaped(byte)) continue;
    append(out, text.substr(from, at - from));
    AppendHexEscape(out, byte);
    ++count;
    from = at + 1;
  }
  append(out, text.substr(from));
  return count;
}

}  // namespace

std::size_t AppendPrintable(std::string& out, std::string_view text) {
  return text.size() + 3 * AppendHexEscaped(out, text, IsControl, AppendLatin1AsUtf8);
}

std::string C1Escaped(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  AppendHexEscaped(shown, text, IsC1Control, [](std::string& out, std::string_view part) { out.append(part); });
  return shown;
}

std::string Printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  AppendPrintable(shown, text);
  return shown;
}

std::size_t PrintableWidth(std::string_view text) {
  const auto controls = std::count_if(text.begin(), text.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); });
  return text.size() + 3 * static_cast<std::size_t>(controls);
}

std::string JsonLine(const nlohmann::ordered_json& json) {
  std::string line = json.dump();
  EscapeC1InJson(line, 0);
  return line;
}

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

// Each text as a JSON string of its own: a document of the whole grid would
// take several times the grid's memory, and the library's arrays allocate
// even as they are destroyed, which ends the program when memory has run out.
// Most of a grid's texts are printable ASCII without quotes or backslashes,
// which stand in JSON as they are.
void AppendJsonText(std::string& line, std::string_view bytes) {
  const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && byte != '"' && byte != '\\';
  });
  if (plain) {
    line += '"';
    line.append(bytes);
    line += '"';
  } else {
    const std::size_t from = line.size();
    line += nlohmann::json(Latin1ToUtf8(bytes)).dump();
    EscapeC1InJson(line, from);
  }
}

namespace {

void WriteJsonText(std::ostream& out, std::string_view bytes) {
  std::string text;
  AppendJsonText(text, bytes);
  out << text;
}

class JsonStream : public ReportStream {
 public:
  JsonStream(std::ostream& out, std::string_view command) : out_(out), command_(command) {}
  void Row(std::span<const std::string_view> cells) override {
    Open();
    line_.assign(rows_++ > 0 ? ",[" : "[");
    for (std::size_t col = 0; col < cells.size(); ++col) {
      if (col > 0) line_ += ',';
      AppendJsonText(line_, cells[col]);
    }
    line_ += ']';
    out_.write(line_.data(), static_cast<std::streamsize>(line_.size()));
  }
  void Finish(const HeadlessSurface& surface, int result, const MacVerdict* verdict) override {
    Open();
    out_ << "],\"result\":" << result << ",\"status\":[";
    for (int panel = 0; panel < 3; ++panel) {
      if (panel > 0) out_ << ',';
      WriteJsonText(out_, surface.status(panel));
    }
    out_ << "],\"progress\":{\"min\":" << surface.progressMin() << ",\"max\":" << surface.progressMax()
         << ",\"position\":" << surface.progressPosition() << "},\"edits\":{";
    for (int edit = 0; edit < kEditCount; ++edit) {
      if (edit > 0) out_ << ',';
      WriteJsonText(out_, kEditNames[edit]);
      out_ << ':';
      WriteJsonText(out_, surface.editText(static_cast<Edit>(edit)));
    }
    out_ << "},\"colors\":{";
    bool first = true;
    for (Edit edit : kMacResultEdits) {
      if (!first) out_ << ',';
      first = false;
      WriteJsonText(out_, EditName(edit));
      out_ << ':';
      WriteJsonText(out_, ColourName(surface.editColour(edit)));
    }
    out_ << '}';
    if (verdict != nullptr) {
      out_ << ",\"verdict\":{\"matched\":[";
      for (std::size_t i = 0; i < verdict->matched.size(); ++i) {
        if (i > 0) out_ << ',';
        WriteJsonText(out_, verdict->matched[i]);
      }
      out_ << "],\"kcv\":";
      WriteJsonText(out_, verdict->kcv);
      out_ << '}';
    }
    out_ << tail.json << "}\n";
  }

 private:
  void Open() {
    if (opened_) return;
    opened_ = true;
    out_ << "{\"command\":";
    WriteJsonText(out_, command_);
    out_ << ",\"grid\":[";
  }
  std::ostream& out_;
  std::string command_;
  bool opened_ = false;
  std::size_t rows_ = 0;
  std::string line_;  // the row being written
};

// The MAC page: what the file declares, then each variant's MAC, whether it
// equals the declared one, and its figures.
void WriteMacLines(std::ostream& out, const HeadlessSurface& surface) {
  auto shown = [&surface](Edit edit) {
    const std::string text = surface.editText(edit);
    return text.empty() ? std::string("-") : Printable(text);
  };
  out << "Declared MAC: " << shown(Edit::INFileMac) << " (method " << shown(Edit::INFileMacMeth) << ", version "
      << shown(Edit::INFileMacVer) << ", key check value " << shown(Edit::INFileKcv) << ")\n";
  for (const MacVariantEdits& variant : kMacVariants) {
    out << variant.caption << ":       ";
    if (surface.editText(variant.result).empty()) {
      out << "not computed";
    } else {
      out << Printable(surface.editText(variant.result));
      const TextColour colour = surface.editColour(variant.result);
      if (colour == TextColour::Green) out << ", equals the declared MAC";
      if (colour == TextColour::Red) out << ", differs from the declared MAC";
    }
    if (!surface.editText(variant.blockSize).empty()) {
      out << " (BlockSize " << Printable(surface.editText(variant.blockSize)) << ", MacCalls "
          << Printable(surface.editText(variant.blockCount)) << ", ByteCount "
          << Printable(surface.editText(variant.byteCount)) << ')';
    }
    out << '\n';
  }
}

// The lines of the report after the grid's table; mac's verdict line first.
void WriteSummary(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result,
                  const MacVerdict* verdict) {
  if (verdict != nullptr) out << verdict->line << '\n';
  out << "Command:  " << command << " (result " << result << ": " << ResultMeaning(command, result) << ")\n";
  for (int panel = 0; panel < 3; ++panel) {
    out << "Status " << panel << ": " << Printable(surface.status(panel)) << '\n';
  }
  out << "Progress: " << surface.progressPosition() << " of " << surface.progressMin() << ".."
      << surface.progressMax() << '\n';
  // the format check fills the declared values too, but they are mac's to show
  if (command == "mac") WriteMacLines(out, surface);
}

// The grid as an aligned table, a row at a time once the widths are known.
class TableWriter {
 public:
  explicit TableWriter(std::ostream& out) : out_(out) {}
  void Add(std::span<const std::string_view> row) {
    ++rows_;
    if (!fixed_) {
      ahead_.emplace_back(row.begin(), row.end());
      if (ahead_.size() >= kTableLookAhead) Fix();
      return;
    }
    Write(row);
  }
  void Finish() {
    if (!fixed_) Fix();
  }
  std::size_t rows() const { return rows_; }

 private:
  // Columns as wide as their widest text so far, counted in characters.
  void Fix() {
    for (const auto& row : ahead_) {
      widths_.resize(std::max(widths_.size(), row.size()), 0);
      for (std::size_t col = 0; col < row.size(); ++col) widths_[col] = std::max(widths_[col], PrintableWidth(row[col]));
    }
    stops_.assign(widths_.size(), 0);
    for (std::size_t col = 1; col < widths_.size(); ++col) stops_[col] = stops_[col - 1] + widths_[col - 1] + 2;
    fixed_ = true;
    std::vector<std::string_view> views;
    for (const auto& row : ahead_) {
      views.assign(row.begin(), row.end());
      Write(views);
    }
    ahead_.clear();
    ahead_.shrink_to_fit();
  }
  void Write(std::span<const std::string_view> row) {
    line_.clear();
    std::size_t at = 0;  // characters so far
    for (std::size_t col = 0; col < row.size(); ++col) {
      if (col > 0) {
        const std::size_t to = std::max(at + 2, col < stops_.size() ? stops_[col] : 0);
        line_.append(to - at, ' ');
        at = to;
      }
      at += AppendPrintable(line_, row[col]);
    }
    line_.erase(line_.find_last_not_of(' ') + 1);
    out_ << line_ << '\n';
  }

  std::ostream& out_;
  std::vector<std::vector<std::string>> ahead_;
  std::vector<std::size_t> widths_;
  std::vector<std::size_t> stops_;  // where each column starts
  std::string line_;
  bool fixed_ = false;
  std::size_t rows_ = 0;
};

class TextStream : public ReportStream {
 public:
  TextStream(std::ostream& out, std::string_view command) : out_(out), command_(command), table_(out) {}
  // The MAC check leaves the grid as start-up left it: only the format
  // check's report has a table.
  void Row(std::span<const std::string_view> cells) override {
    if (command_ == "iso") table_.Add(cells);
  }
  void Finish(const HeadlessSurface& surface, int result, const MacVerdict* verdict) override {
    table_.Finish();
    WriteSummary(out_, surface, command_, result, verdict);
    if (command_ == "iso") out_ << "Grid:     " << (table_.rows() == 0 ? 0 : table_.rows() - 1) << " rows\n";
    out_ << tail.text;
  }

 private:
  std::ostream& out_;
  std::string command_;
  TableWriter table_;
};

void WriteHeld(ReportStream& report, const HeadlessSurface& surface, int result, const MacVerdict* verdict) {
  for (int row = 0; row < surface.gridRowCount(); ++row) {
    const std::vector<std::string> cells = surface.row(row);
    const std::vector<std::string_view> views(cells.begin(), cells.end());
    report.Row(views);
  }
  report.Finish(surface, result, verdict);
}

}  // namespace

HeadlessSurface::RowSink CsvRowSink(std::ostream& out) {
  // A plain record is written over the one before, in a string that only
  // grows, so that its room is not filled anew for every row; the others as
  // AppendCsvRow writes them.
  return [&out, record = std::string()](int, std::span<const std::string_view> cells) mutable {
    const std::size_t length = PlainCsvLength(cells);
    if (record.size() < length) record.resize(length);
    if (!WritePlainCsvRecord(cells, record.data())) {
      record.clear();
      AppendCsvRow(record, cells);
      out.write(record.data(), static_cast<std::streamsize>(record.size()));
      return;
    }
    out.write(record.data(), static_cast<std::streamsize>(length));
  };
}

std::unique_ptr<ReportStream> JsonReportStream(std::ostream& out, std::string_view command) {
  return std::make_unique<JsonStream>(out, command);
}

std::unique_ptr<ReportStream> TextReportStream(std::ostream& out, std::string_view command) {
  return std::make_unique<TextStream>(out, command);
}

void WriteSurfaceJson(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result,
                      const MacVerdict* verdict) {
  JsonStream report(out, command);
  WriteHeld(report, surface, result, verdict);
}

void WriteTextReport(std::ostream& out, const HeadlessSurface& surface, std::string_view command, int result,
                     const MacVerdict* verdict) {
  TextStream report(out, command);
  WriteHeld(report, surface, result, verdict);
}

}  // namespace kalvrin
