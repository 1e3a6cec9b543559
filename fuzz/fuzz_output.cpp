// The checks of fuzz_output.h.
#include "fuzz_output.h"

#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fuzz_support.h"
#include "headless/check_app.h"
#include "iso/pan_mask.h"

namespace kalvrin::fuzz {

namespace {

constexpr std::size_t kGridColumns = 41;

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF),
// as the JSON library checks it when it writes a string.
bool IsUtf8(std::string_view text) {
  try {
    (void)nlohmann::json(std::string(text)).dump();
    return true;
  } catch (const nlohmann::json::type_error&) {
    return false;
  }
}

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    FUZZ_CHECK(end != std::string_view::npos);  // every line ends with its line end
    lines.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  return lines;
}

void CheckUtf8Lines(std::string_view text) {
  for (const std::string_view line : Lines(text)) FUZZ_CHECK(IsUtf8(line));
}

nlohmann::json ParsedJson(std::string_view text) {
  nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
  FUZZ_CHECK(!json.is_discarded());
  return json;
}

// The window state's JSON: every grid row holds the 41 columns.
void CheckSurfaceJson(std::string_view text) {
  const nlohmann::json json = ParsedJson(text);
  FUZZ_CHECK(json.is_object() && json.contains("grid") && json["grid"].is_array());
  for (const auto& row : json["grid"]) FUZZ_CHECK(row.is_array() && row.size() == kGridColumns);
}

// RFC 4180 records ending in CRLF, each of 41 fields; returns the records.
std::size_t CheckCsv(std::string_view text) {
  std::size_t records = 0;
  std::size_t fields = 1;
  bool quoted = false;
  bool fieldStart = true;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (quoted) {
      if (c != '"') continue;
      if (at + 1 < text.size() && text[at + 1] == '"') {
        ++at;
      } else {
        quoted = false;
      }
      continue;
    }
    if (c == '"') {
      FUZZ_CHECK(fieldStart);  // a quote opens a field or doubles inside one
      quoted = true;
      fieldStart = false;
    } else if (c == ',') {
      ++fields;
      fieldStart = true;
    } else if (c == '\r') {
      FUZZ_CHECK(at + 1 < text.size() && text[at + 1] == '\n');
      FUZZ_CHECK(fields == kGridColumns);
      ++records;
      fields = 1;
      fieldStart = true;
      ++at;
    } else {
      FUZZ_CHECK(c != '\n');
      fieldStart = false;
    }
  }
  FUZZ_CHECK(!quoted && fields == 1 && fieldStart);  // the text ends with a record's CRLF
  FUZZ_CHECK(IsUtf8(text));
  return records;
}

// Standard error: nothing, or one line of UTF-8 without control characters.
void CheckErrorLine(std::string_view err) {
  if (err.empty()) return;
  FUZZ_CHECK(err.starts_with("kalvrin-check: "));
  FUZZ_CHECK(err.find('\n') == err.size() - 1);
  FUZZ_CHECK(IsUtf8(err));
  for (const char c : err.substr(0, err.size() - 1)) {
    const auto byte = static_cast<unsigned char>(c);
    FUZZ_CHECK(byte >= 0x20 && byte != 0x7F);
  }
}

bool Has(const std::vector<std::string>& options, std::string_view option) {
  return std::find(options.begin(), options.end(), option) != options.end();
}

}  // namespace

Printed RunCheck(std::vector<std::string> args) {
  args.insert(args.begin(), "kalvrin-check");
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  std::ostringstream out;
  std::ostringstream err;
  const int exitCode = RunKalvrinCheck(static_cast<int>(argv.size()), argv.data(), out, err);
  FUZZ_CHECK(exitCode >= 0 && exitCode <= 2);
  CheckErrorLine(err.str());
  // an exit status of 0 goes with an empty standard error, any other with one line
  FUZZ_CHECK((exitCode == 0) == err.str().empty());
  return {exitCode, out.str(), err.str()};
}

void CheckNoRawC1(std::string_view out) {
  for (std::size_t at = out.find('\xC2'); at != std::string_view::npos; at = out.find('\xC2', at + 1)) {
    const auto next = at + 1 < out.size() ? static_cast<unsigned char>(out[at + 1]) : 0u;
    FUZZ_CHECK(next < 0x80 || next >= 0xA0);
  }
}

std::vector<std::string> CardNumbersToHide(const std::vector<DecodedMessage>& messages,
                                           const std::vector<std::string>& strayTexts) {
  constexpr std::size_t kShortest = kShortestDigitRunMasked;
  std::vector<std::string> numbers;
  std::vector<std::string_view> shown;  // what output shows as it is
  std::vector<std::string> shownP55;
  for (const DecodedMessage& message : messages) {
    for (const std::string& number : CardNumbersIn(message)) {
      if (number.size() >= kShortest) numbers.push_back(number);
    }
    shown.insert(shown.end(), {message.mti, message.primaryBitmap, message.secondaryBitmap});
    for (const DecodedElement& element : message.elements) {
      if (!ElementHoldsCardNumber(element.number)) shown.push_back(element.value);
    }
    // P55 is masked tag by tag: text that is no well-formed tag (digits
    // after a fault) is shown as it is, as the other elements are
    for (const DecodedElement& element : message.elements) {
      if (element.number == 55) shownP55.push_back(MaskElement(55, element.value));
    }
  }
  const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  for (const std::string& text : strayTexts) {
    for (auto run = std::find_if(text.begin(), text.end(), isDigit); run != text.end();
         run = std::find_if(run, text.end(), isDigit)) {
      const auto end = std::find_if_not(run, text.end(), isDigit);
      if (static_cast<std::size_t>(end - run) >= kShortest) numbers.emplace_back(run, end);
      run = end;
    }
  }
  // a card number is digits: a card element of other text (a track of
  // blanks, bitmap characters read as P2) is masked too, but the same text
  // may also stand between or across the report's cells
  std::erase_if(numbers,
                [&](const std::string& number) { return !std::all_of(number.begin(), number.end(), isDigit); });
  shown.insert(shown.end(), shownP55.begin(), shownP55.end());
  std::erase_if(numbers, [&](const std::string& number) {
    return std::any_of(shown.begin(), shown.end(),
                       [&](std::string_view text) { return text.find(number) != std::string_view::npos; });
  });
  return numbers;
}

void CheckNoCardNumber(std::string_view out, const std::vector<std::string>& numbers) {
  for (const std::string& number : numbers) {
    if (out.find(number) != std::string_view::npos) std::fprintf(stderr, "shown whole: %s\n", number.c_str());
    FUZZ_CHECK(out.find(number) == std::string_view::npos);
  }
}

void CheckPrinted(const std::string& out, const std::vector<std::string>& options) {
  const bool json = Has(options, "--json");
  // the grid's CSV keeps the cells' bytes as they are; every other form escapes C1
  if (!Has(options, "--csv")) CheckNoRawC1(out);
  if (Has(options, "--elements")) {
    if (json) {
      for (const std::string_view line : Lines(out)) FUZZ_CHECK(ParsedJson(line).is_object());
    } else {
      CheckUtf8Lines(out);
    }
  } else if (json) {
    CheckSurfaceJson(out);
  } else if (Has(options, "--csv")) {
    CheckCsv(out);
  } else {
    CheckUtf8Lines(out);
  }
}

}  // namespace kalvrin::fuzz
