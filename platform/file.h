// Files by wide path. Only what the system needs: whole reads with a size
// bound, sequential reads, writes, existence and temporary names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qs::plat {

bool FileExists(const std::u16string& path);

class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool OpenRead(const std::u16string& path);
  bool OpenWrite(const std::u16string& path, bool append);  // creates the file
  void Close();
  bool is_open() const { return handle_ != nullptr; }
  // bytes read, 0 at the end, -1 on error
  long long Read(void* buf, size_t len);
  bool Write(const void* buf, size_t len);
  // -1 when unknown
  long long Size() const;

 private:
  void* handle_ = nullptr;
};

enum class ReadResult { Ok, NotFound, TooLarge, Error };
// Reads the whole file when it holds at most maxBytes.
ReadResult ReadWholeFile(const std::u16string& path, size_t maxBytes, std::vector<uint8_t>& out);

bool DeleteFilePath(const std::u16string& path);
// A new unique file in the temporary folder whose name begins with prefix.
bool MakeTempFile(const std::u16string& prefix, std::u16string& pathOut);
// The folder that holds the running module (program or library), with no trailing separator.
std::u16string ModuleFolder();
bool CreateFolders(const std::u16string& path);

}  // namespace qs::plat
