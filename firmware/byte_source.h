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
  // Back to the first byte, for a second reading; false when that is impossible.
  virtual bool Rewind() = 0;
};

class FileByteSource final : public ByteSource {
 public:
  bool Open(const std::u16string& path);
  long long Read(void* buf, size_t len) override { return file_.Read(buf, len); }
  long long Size() const override { return file_.Size(); }
  // Opens the file again (the handle allows no sharing, so it is closed first).
  bool Rewind() override;

 private:
  std::u16string path_;
  plat::File file_;
};

class MemoryByteSource final : public ByteSource {
 public:
  MemoryByteSource(const void* data, size_t size)
      : begin_(static_cast<const uint8_t*>(data)), p_(begin_), left_(size), size_(size) {}
  long long Read(void* buf, size_t len) override;
  long long Size() const override { return static_cast<long long>(size_); }
  bool Rewind() override;

 private:
  const uint8_t* begin_;
  const uint8_t* p_;
  size_t left_;
  size_t size_;
};

}  // namespace qs::fw
