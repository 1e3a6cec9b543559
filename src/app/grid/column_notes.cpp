// Column notes: the grid's own columns described in words, the element
// columns by the element's name and its layout in the element table.
#include "app/grid/column_notes.h"

#include <string>

#include "iso/element_table.h"
#include "iso/result_grid.h"

namespace kalvrin {

namespace {

struct Note {
  int element;  // 0 for a column of the grid's own
  std::string_view title;
  std::string_view text;
};

// Names of the data elements after ISO 8583:1993; the columns without an
// element say what the check writes there.
constexpr Note kNotes[] = {
    {0, "Rec#", "Record: the message's number in the file, counting from 1"},
    {0, "TCode", "Message type identifier (MTI), 4 digits"},
    {0, "FCode=P24", "Function code, element 24, fixed 3"},
    {0, "PMAP", "Primary bitmap, 16 hexadecimal digits: elements 1 to 64"},
    {0, "SMAP", "Secondary bitmap, 16 hexadecimal digits: elements 65 to 128"},
    {0, "PAD", "Padding: the spaces in the gap after the message"},
    {0, "CR/LF", "Line ends: dropped before the check, so always empty"},
    {0, "SIZE", "Size: 36 for MTI and bitmaps, plus the data characters (prefixes not counted), plus 1 for the gap"},
    {2, "", "Primary account number"},
    {3, "", "Processing code"},
    {4, "", "Amount, transaction"},
    {7, "", "Date and time, transmission"},
    {11, "", "Systems trace audit number"},
    {12, "", "Date and time, local transaction"},
    {14, "", "Date, expiration"},
    {17, "", "Date, capture"},
    {22, "", "Point of service data code"},
    {24, "", "Function code"},
    {26, "", "Card acceptor business code"},
    {35, "", "Track 2 data"},
    {36, "", "Track 3 data"},
    {37, "", "Retrieval reference number"},
    {38, "", "Approval code"},
    {41, "", "Card acceptor terminal identification"},
    {42, "", "Card acceptor identification code"},
    {43, "", "Card acceptor name/location"},
    {49, "", "Currency code, transaction"},
    {50, "", "Currency code, reconciliation"},
    {51, "", "Currency code, cardholder billing"},
    {53, "", "Security related control information"},
    {54, "", "Amounts, additional"},
    {55, "", "Integrated circuit card system related data"},
    {60, "", "Reserved for national use"},
    {62, "", "Reserved for private use"},
    {63, "", "Reserved for private use"},
    {71, "", "Message number"},
    {72, "", "Data record"},
    {74, "", "Credits, number"},
    {76, "", "Debits, number"},
    {86, "", "Credits, amount"},
    {88, "", "Debits, amount"},
    {123, "", "Reserved for private use"},
    {128, "", "Message authentication code (MAC)"},
};

std::string_view ElementName(int element) {
  for (const Note& note : kNotes) {
    if (note.element == element) return note.text;
  }
  return {};
}

std::string Layout(int element) {
  const ElementLayout& layout = kElementLayouts[static_cast<std::size_t>(element)];
  const std::string length = std::to_string(layout.maxLength);
  switch (layout.prefixDigits) {
    case 2: return "LL, up to " + length;
    case 3: return "LLL, up to " + length;
    default: return "fixed " + length;
  }
}

std::string ElementNote(int element) {
  std::string note = (element <= 64 ? "P" : "S") + std::to_string(element) + ": " + std::string(ElementName(element)) +
                     ", " + Layout(element);
  return note;
}

}  // namespace

std::string ColumnNote(std::string_view title) {
  for (const Note& note : kNotes) {
    if (note.element == 0 && note.title == title) return std::string(note.text);
  }
  for (int col = 0; col < kGridColumnCount; ++col) {
    const GridColumn& column = kGridColumns[static_cast<std::size_t>(col)];
    if (column.title != title || column.element == 0) continue;
    std::string note = ElementNote(column.element);
    for (const SharedColumn& shared : kSharedColumns) {
      if (shared.shownAs == column.element) note += "; also " + ElementNote(shared.element);
    }
    return note;
  }
  return {};
}

}  // namespace kalvrin
