#include "firmware/device_log.h"

#include <picojson.h>

#include <cstdio>
#include <cstring>

#include "platform/appdata.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/text.h"
#include "runtime/bytes.h"

namespace qs::fw {

DeviceLog::DeviceLog(const uint8_t deviceId[16]) { std::memcpy(id_, deviceId, 16); }

void DeviceLog::AddEntry(const std::string& name, const std::string& text) {
  plat::ScopedLock hold(lock_);
  entries_[name] = text;
}

void DeviceLog::AddHexEntry(const std::string& name, const uint8_t* bytes, size_t n) {
  AddEntry(name, bytes::HexText(bytes, n));
}

std::string DeviceLog::Json() {
  picojson::object o;
  {
    plat::ScopedLock hold(lock_);
    for (const auto& e : entries_) o.emplace(e.first, picojson::value(e.second));
  }
  return picojson::value(o).serialize();
}

std::u16string DeviceLog::DeviceFolderName(const uint8_t deviceId[16]) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%08X-%08X-%08X", bytes::GetLe32(deviceId), bytes::GetLe32(deviceId + 4),
                bytes::GetLe32(deviceId + 8), bytes::GetLe32(deviceId + 12));
  return plat::AnsiToWide(buf);
}

std::u16string DeviceLog::FileName(const plat::LocalTime& t) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04u%02u%02u_%02u%02u%02u", unsigned{t.year}, unsigned{t.month}, unsigned{t.day},
                unsigned{t.hour}, unsigned{t.minute}, unsigned{t.second});
  return plat::AnsiToWide(buf);
}

bool DeviceLog::Write() {
  std::u16string root;
  if (!plat::CommonAppDataFolder(root)) return false;
  return WriteUnder(root, plat::LocalTimeNow());
}

bool DeviceLog::WriteUnder(const std::u16string& root, const plat::LocalTime& time) {
  if (root.empty()) return false;
  std::u16string folder = root;
  for (const char16_t* part : {u"Tavrolux", u"KV-xR_update", u"Log"}) folder = plat::JoinPath(folder, part);
  folder = plat::JoinPath(folder, DeviceFolderName(id_));
  if (!plat::CreateFolders(folder)) return false;
  const std::u16string path = plat::JoinPath(folder, FileName(time));
  const std::string text = Json();
  plat::File f;
  if (!f.OpenWrite(path, false)) return false;
  const bool ok = f.Write(text.data(), text.size());
  f.Close();
  if (!ok) plat::DeleteFilePath(path);
  return ok;
}

}  // namespace qs::fw
