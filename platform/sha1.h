// SHA-1 from the system's cryptography (BCrypt on Windows, libcrypto elsewhere).
#pragma once
#include <cstddef>
#include <cstdint>

namespace qs::plat {

constexpr size_t kSha1Size = 20;

class Sha1 {
 public:
  Sha1();
  ~Sha1();
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  void Update(const void* data, size_t len);
  // Writes the 20-byte digest; the object is then ready for a new message.
  bool Final(uint8_t out[kSha1Size]);

 private:
  struct Impl;
  Impl* impl_;
};

// One-shot digest of a buffer.
inline bool Sha1Digest(const void* data, size_t len, uint8_t out[kSha1Size]) {
  Sha1 h;
  h.Update(data, len);
  return h.Final(out);
}

}  // namespace qs::plat
