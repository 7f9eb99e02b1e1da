#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/file.h"
#include "platform/text.h"

namespace qs::plat {

namespace {
int Fd(void* h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)) - 1; }
void* H(int fd) { return reinterpret_cast<void*>(static_cast<intptr_t>(fd) + 1); }
}  // namespace

bool FileExists(const std::u16string& path) {
  struct stat st;
  return stat(WideToUtf8(path).c_str(), &st) == 0;
}

File::~File() { Close(); }

bool File::OpenRead(const std::u16string& path) {
  Close();
  int fd = open(WideToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  handle_ = H(fd);
  return true;
}

bool File::OpenWrite(const std::u16string& path, bool append) {
  Close();
  int fd = open(WideToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
  if (fd < 0) return false;
  handle_ = H(fd);
  return true;
}

void File::Close() {
  if (handle_) close(Fd(handle_));
  handle_ = nullptr;
}

long long File::Read(void* buf, size_t len) {
  if (!handle_) return -1;
  for (;;) {
    ssize_t n = read(Fd(handle_), buf, len);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

bool File::Write(const void* buf, size_t len) {
  if (!handle_) return false;
  const auto* p = static_cast<const char*>(buf);
  while (len) {
    ssize_t n = write(Fd(handle_), p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

long long File::Size() const {
  struct stat st;
  if (!handle_ || fstat(Fd(handle_), &st) != 0) return -1;
  return st.st_size;
}

bool DeleteFilePath(const std::u16string& path) { return unlink(WideToUtf8(path).c_str()) == 0; }

bool MakeTempFile(const std::u16string& prefix, std::u16string& pathOut) {
  const char* dir = getenv("TMPDIR");
  std::string tmpl = std::string(dir && *dir ? dir : "/tmp") + "/" + WideToUtf8(prefix) + "XXXXXX";
  int fd = mkstemp(&tmpl[0]);
  if (fd < 0) return false;
  close(fd);
  pathOut = Utf8ToWide(tmpl);
  return true;
}

std::u16string ModuleFolder() {
  Dl_info info;
  std::string p;
  if (dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) && info.dli_fname) p = info.dli_fname;
  char resolved[4096];
  if (!p.empty() && realpath(p.c_str(), resolved)) p = resolved;
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return u".";
  return Utf8ToWide(p.substr(0, slash));
}

bool CreateFolders(const std::u16string& path) {
  std::string p = WideToUtf8(path);
  for (size_t i = 1; i <= p.size(); ++i) {
    if (i == p.size() || p[i] == '/') {
      std::string part = p.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

}  // namespace qs::plat
