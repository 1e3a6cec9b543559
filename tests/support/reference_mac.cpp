#include "support/reference_mac.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace kalvrin::test {

std::string OpenSslMac(std::string_view keyHex, std::string data) {
  // DES lives in OpenSSL 3's legacy provider.
  static OSSL_PROVIDER* const legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER* const standard = OSSL_PROVIDER_load(nullptr, "default");
  EXPECT_NE(legacy, nullptr);
  EXPECT_NE(standard, nullptr);
  if (data.empty()) return "00000000";
  data.resize((data.size() + 7) / 8 * 8, '\0');
  std::array<unsigned char, 8> key{};
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<unsigned char>(std::stoi(std::string(keyHex.substr(2 * i, 2)), nullptr, 16));
  }
  const std::array<unsigned char, 8> iv{};
  std::vector<unsigned char> out(data.size() + 8);
  int written = 0;
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EXPECT_EQ(EVP_EncryptInit_ex(ctx, EVP_des_cbc(), nullptr, key.data(), iv.data()), 1);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EXPECT_EQ(EVP_EncryptUpdate(ctx, out.data(), &written, reinterpret_cast<const unsigned char*>(data.data()),
                              static_cast<int>(data.size())),
            1);
  EVP_CIPHER_CTX_free(ctx);
  char hex[9];
  const unsigned char* last = out.data() + written - 8;
  std::snprintf(hex, sizeof hex, "%02X%02X%02X%02X", last[0], last[1], last[2], last[3]);
  return hex;
}

std::string Masked(std::string bytes) {
  for (char& c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b > 0x7E) c = static_cast<char>(0xAA);
  }
  return bytes;
}

std::string Without(std::string bytes, std::string_view dropped) {
  std::erase_if(bytes, [&](char c) { return dropped.find(c) != std::string_view::npos; });
  return bytes;
}

}  // namespace kalvrin::test
