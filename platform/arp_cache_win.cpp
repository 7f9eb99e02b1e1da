#include "platform/arp_cache.h"

#include <vector>

#include "platform/file.h"
#include "platform/hidden_command.h"

namespace qs::plat {

bool ReadArpCacheText(std::string& text, ArpTextFormat& format) {
  text.clear();
  format = ArpTextFormat::ArpCommand;
  std::u16string path;
  if (!MakeTempFile(u"tmp", path)) return false;
  RunHiddenCommand(u"cmd.exe /C arp.exe -a > \"" + path + u"\"");
  File f;
  bool ok = f.OpenRead(path);
  if (ok) {
    std::vector<char> buf(65536);
    for (;;) {
      const long long n = f.Read(buf.data(), buf.size());
      if (n < 0) ok = false;
      if (n <= 0) break;
      text.append(buf.data(), static_cast<size_t>(n));
      if (text.size() >= kArpTextMax) {
        text.resize(kArpTextMax);
        break;
      }
    }
    f.Close();
  }
  DeleteFilePath(path);
  return ok;
}

}  // namespace qs::plat
