// Wiping of key material: buffers that held a clear key, a storage key or a
// schedule made from one are zeroed through volatile writes, which the
// compiler may not drop as dead stores.
#pragma once

#include <cstddef>
#include <type_traits>

namespace kalvrin {

inline void SecureWipe(void* buffer, std::size_t size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
  for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

template <typename T>
void SecureWipe(T& object) {
  static_assert(std::is_trivially_copyable_v<T>, "only plain records are wiped");
  SecureWipe(&object, sizeof(T));
}

// Zeroes the object it guards when it leaves scope, whichever way it leaves.
template <typename T>
class WipeGuard {
 public:
  explicit WipeGuard(T& object) : object_(object) {}
  ~WipeGuard() { SecureWipe(object_); }
  WipeGuard(const WipeGuard&) = delete;
  WipeGuard& operator=(const WipeGuard&) = delete;

 private:
  T& object_;
};

}  // namespace kalvrin
