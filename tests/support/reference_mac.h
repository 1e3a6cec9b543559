// Independent references for the tests: DES, its key check value and the MAC
// as OpenSSL computes them, and the bytes each MAC variant feeds the MAC.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "mac/des.h"

namespace kalvrin::test {

// One block of OpenSSL's DES in ECB, "DES-ECB" with an 8-byte key or
// "DES-EDE-ECB" with 16, as 16 hex digits; "OpenSSL failed" when it fails.
std::string OpenSslEcb(const char* cipherName, const std::uint8_t* key, const DesBytes& in, bool encrypt);

// The zero block under a 16-digit (DES) or 32-digit (two-key triple DES)
// key text, as 16 hex digits.
std::string OpenSslKcv(std::string_view keyHex);

// OpenSSL's DES-CBC over the bytes under a 16-digit key (zero IV, zero
// padding to whole blocks), first 4 bytes of the last block in hex;
// "00000000" for no bytes.
std::string OpenSslMac(std::string_view keyHex, std::string data);

// Every byte outside 0x20..0x7E as 0xAA, as the variants feed the MAC.
std::string Masked(std::string bytes);

// The bytes without any of `dropped`.
std::string Without(std::string bytes, std::string_view dropped);

}  // namespace kalvrin::test
