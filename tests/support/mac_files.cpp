// MAC-enveloped transaction files built by the tests.
#include "support/mac_files.h"

#include <algorithm>

namespace kalvrin::test {

// 60 bytes; `declared` stands at 41 (method, version, KCV).
std::string MacHeader(std::string_view declared) {
  std::string header(60, ' ');
  header.replace(0, 22, "DORVMAC HEADER TEST 01");
  header.replace(41, declared.size(), declared);
  header.replace(52, 8, "20260101");
  return header;
}

std::string Record(std::string text) {
  text.resize(std::max<std::size_t>(text.size(), 300), ' ');
  return text + "\r\n";
}

// The trailer message's first 55 bytes.
std::string Trailer(std::string_view mac, std::string_view functionCode) {
  return "1844" + std::string("80000000000000000000000000000001") + std::string(functionCode) + "00000001" +
         std::string(mac);
}

std::string FileHeaderMessage() { return "16448000000100000000000000030000000000000069200000000000101"; }

// A batch of n messages with varied content: spaces inside values, a TAB,
// bytes outside 0x20..0x7E.
std::string BatchMessages(int count) {
  std::string batch;
  for (int i = 0; i < count; ++i) {
    std::string text = "1240F234054000E08000020000000000000016" + std::to_string(4000000000000000LL + i) +
                       "000000001234 MERCHANT " + std::to_string(i) + " \tCITY";
    if (i % 3 == 0) text += "\xAA\x01\xFF caf\xE9";
    batch += Record(text);
  }
  return batch;
}

}  // namespace kalvrin::test
