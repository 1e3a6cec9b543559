// SHA-256 through libcrypto's EVP interface.
#include "report/sha256.h"

#include <openssl/evp.h>

#include <array>
#include <system_error>

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

ThreadedSha256::ThreadedSha256() {
  try {
    thread_ = std::thread(&ThreadedSha256::Hash, this);
  } catch (const std::system_error&) {
    // no thread: Add hashes at once
  }
}

ThreadedSha256::~ThreadedSha256() {
  {
    const std::lock_guard lock(mutex_);
    queue_.clear();
  }
  Stop();
}

void ThreadedSha256::Add(std::string_view bytes) {
  if (bytes.empty()) return;
  if (!thread_.joinable()) {
    sha_.Add(bytes);
    return;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kQueuedBlocks; });
  std::string block;
  if (!spare_.empty()) {
    block = std::move(spare_.back());
    spare_.pop_back();
  }
  block.assign(bytes);
  queue_.push_back(std::move(block));
  changed_.notify_all();
}

std::string ThreadedSha256::Hex() {
  Stop();
  return sha_.Hex();
}

void ThreadedSha256::Stop() {
  if (!thread_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void ThreadedSha256::Hash() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || ending_; });
    if (queue_.empty()) return;  // ending, and all hashed
    std::string block = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();  // room for the feeder
    lock.unlock();
    sha_.Add(block);
    lock.lock();
    if (spare_.size() < kQueuedBlocks) spare_.push_back(std::move(block));
  }
}

std::string Sha256Hex(std::string_view bytes) {
  Sha256 sha;
  sha.Add(bytes);
  return sha.Hex();
}

}  // namespace kalvrin::report
