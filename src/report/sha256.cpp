// SHA-256 through libcrypto's EVP interface.
#include "report/sha256.h"

#include <openssl/evp.h>

#include <array>

namespace kalvrin::report {

struct Sha256::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : context_(std::make_unique<Context>()) {
  failed_ = context_->md == nullptr || EVP_DigestInit_ex(context_->md, EVP_sha256(), nullptr) != 1;
}

Sha256::~Sha256() = default;

void Sha256::Add(std::string_view bytes) {
  if (failed_ || bytes.empty()) return;
  failed_ = EVP_DigestUpdate(context_->md, bytes.data(), bytes.size()) != 1;
}

std::string Sha256::Hex() {
  std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
  unsigned int length = 0;
  if (failed_ || EVP_DigestFinal_ex(context_->md, digest.data(), &length) != 1) return {};
  failed_ = true;  // a finished digest takes no more bytes
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 0xF];
  }
  return hex;
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 sha;
  sha.Add(bytes);
  return sha.Hex();
}

}  // namespace kalvrin::report
