// SHA-256 of a stream of bytes through OpenSSL's libcrypto, fed piece by
// piece as a pass reads the file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace kalvrin::report {

class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Add(std::string_view bytes);
  // 64 lowercase hex digits; empty when libcrypto failed. Ends the digest.
  std::string Hex();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
  bool failed_ = false;
};

// The digest of one text, for tests and small inputs.
std::string Sha256Hex(std::string_view bytes);

}  // namespace kalvrin::report
