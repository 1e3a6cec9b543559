// Independent references for the tests: the MAC as OpenSSL's DES-CBC computes
// it, and the bytes each MAC variant feeds it.
#pragma once

#include <string>
#include <string_view>

namespace kalvrin::test {

// OpenSSL's DES-CBC over the bytes under a 16-digit key (zero IV, zero
// padding to whole blocks), first 4 bytes of the last block in hex;
// "00000000" for no bytes.
std::string OpenSslMac(std::string_view keyHex, std::string data);

// Every byte outside 0x20..0x7E as 0xAA, as the variants feed the MAC.
std::string Masked(std::string bytes);

// The bytes without any of `dropped`.
std::string Without(std::string bytes, std::string_view dropped);

}  // namespace kalvrin::test
