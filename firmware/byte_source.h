// Where the readers take their text from: a file, or memory (fuzzing, tests).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace qs::fw {

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Bytes read, 0 at the end, -1 on error.
  virtual long long Read(void* buf, size_t len) = 0;
  // Total size in bytes when known, else -1.
  virtual long long Size() const = 0;
};

class FileByteSource final : public ByteSource {
 public:
  bool Open(const std::u16string& path) { return file_.OpenRead(path); }
  long long Read(void* buf, size_t len) override { return file_.Read(buf, len); }
  long long Size() const override { return file_.Size(); }

 private:
  plat::File file_;
};

class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(const void* data, size_t size) : p_(static_cast<const uint8_t*>(data)), left_(size), size_(size) {}
  long long Read(void* buf, size_t len) override;
  long long Size() const override { return static_cast<long long>(size_); }

 private:
  const uint8_t* p_;
  size_t left_;
  size_t size_;
};

}  // namespace qs::fw
