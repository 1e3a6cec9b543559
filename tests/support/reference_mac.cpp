// OpenSSL as the reference the DES engine and the MAC are checked against.
#include "support/reference_mac.h"

#include <openssl/evp.h>
#include <openssl/provider.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace kalvrin::test {

namespace {

std::string HexText(const unsigned char* bytes, std::size_t n) {
  std::string text;
  char digits[3];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
    text += digits;
  }
  return text;
}

std::vector<unsigned char> KeyBytes(std::string_view keyHex) {
  std::vector<unsigned char> key(keyHex.size() / 2);
  for (std::size_t i = 0; i < key.size(); ++i) {
    key[i] = static_cast<unsigned char>(std::stoi(std::string(keyHex.substr(2 * i, 2)), nullptr, 16));
  }
  return key;
}

// The cipher over whole blocks, no padding, a zero IV where the mode has one.
// Single DES lives in OpenSSL 3's legacy provider, loaded once.
bool Run(const char* cipherName, const unsigned char* key, const unsigned char* in, std::size_t size,
         unsigned char* out, bool encrypt) {
  static OSSL_PROVIDER* const legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER* const standard = OSSL_PROVIDER_load(nullptr, "default");
  EXPECT_NE(legacy, nullptr);
  EXPECT_NE(standard, nullptr);
  const std::array<unsigned char, 8> iv{};
  EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, cipherName, nullptr);
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int written = 0;
  const bool ok = cipher != nullptr && ctx != nullptr &&
                  EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv.data(), encrypt ? 1 : 0) == 1 &&
                  EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
                  EVP_CipherUpdate(ctx, out, &written, in, static_cast<int>(size)) == 1 &&
                  written == static_cast<int>(size);
  EVP_CIPHER_CTX_free(ctx);
  EVP_CIPHER_free(cipher);
  EXPECT_TRUE(ok) << cipherName;
  return ok;
}

}  // namespace

std::string OpenSslEcb(const char* cipherName, const std::uint8_t* key, const DesBytes& in, bool encrypt) {
  DesBytes out{};
  return Run(cipherName, key, in.data(), in.size(), out.data(), encrypt) ? HexText(out.data(), out.size())
                                                                          : "OpenSSL failed";
}

std::string OpenSslKcv(std::string_view keyHex) {
  const std::vector<unsigned char> key = KeyBytes(keyHex);
  return OpenSslEcb(key.size() == 16 ? "DES-EDE-ECB" : "DES-ECB", key.data(), DesBytes{}, true);
}

std::string OpenSslMac(std::string_view keyHex, std::string data) {
  if (data.empty()) return "00000000";
  data.resize((data.size() + 7) / 8 * 8, '\0');
  const std::vector<unsigned char> key = KeyBytes(keyHex.substr(0, 16));
  std::vector<unsigned char> out(data.size());
  if (!Run("DES-CBC", key.data(), reinterpret_cast<const unsigned char*>(data.data()), data.size(), out.data(), true)) {
    return "OpenSSL failed";
  }
  return HexText(out.data() + out.size() - 8, 4);
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
