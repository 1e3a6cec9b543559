// SHA-256 of a stream of bytes through OpenSSL's libcrypto, fed piece by
// piece as a pass reads the file.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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

// The same digest made on a thread of its own, so that the pass reading
// the file does not wait for it (a tenth of a verify's time on one core):
// Add copies the bytes into a short queue of blocks and returns, waiting
// only while the queue is full. Without a thread to be had it hashes as it
// is fed. One caller feeds it and asks for the digest.
class ThreadedSha256 {
 public:
  ThreadedSha256();
  ~ThreadedSha256();  // drops what is queued and ends the thread
  ThreadedSha256(const ThreadedSha256&) = delete;
  ThreadedSha256& operator=(const ThreadedSha256&) = delete;

  void Add(std::string_view bytes);
  // Waits for the queued bytes; then as Sha256::Hex.
  std::string Hex();

 private:
  static constexpr std::size_t kQueuedBlocks = 8;
  void Hash();  // the thread's loop
  void Stop();

  Sha256 sha_;  // the thread's alone while it runs
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::string> queue_;    // under mutex_
  std::vector<std::string> spare_;   // emptied blocks kept for reuse, under mutex_
  bool ending_ = false;              // under mutex_: no more blocks come
  std::thread thread_;
};

// The digest of one text, for tests and small inputs.
std::string Sha256Hex(std::string_view bytes);

}  // namespace kalvrin::report
