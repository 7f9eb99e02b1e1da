// The per-device log of one firmware job: what the job found in the device's
// data areas, kept as named text entries and written once, at the job's end,
// as compact JSON (one line, keys in ascending byte order, no line end) to
//
//   <machine-wide application-data folder>/Tavrolux/KV-xR_update/Log/
//       <device folder>/<YYYYMMDD_hhmmss>
//
// The device folder is the identifier's four 32-bit little-endian words as
// "%08X-%08X-%08X-%08X"; the file name is the local time of writing and has
// no extension (a second write in the same second replaces the first). A
// failed write leaves no partial file behind; failures are only reported by
// the result, which the job does not act on.
#pragma once
#include <cstdint>
#include <map>
#include <string>

#include "platform/local_time.h"
#include "platform/lock.h"

namespace qs::fw {

// Entry names of the product-data steps.
constexpr const char* kLogCalibrationData = "calibration-data";
constexpr const char* kLogProductData = "product-data";
constexpr const char* kLogObsoleteConfigArea = "obsolete-config-area";
constexpr const char* kLogMigratedConfigArea = "migrated-config-area";
constexpr const char* kLogMigratedProductData = "migrated-product-data";

class DeviceLog {
 public:
  explicit DeviceLog(const uint8_t deviceId[16]);
  DeviceLog(const DeviceLog&) = delete;
  DeviceLog& operator=(const DeviceLog&) = delete;

  // Sets the entry to text (a JSON string), replacing an earlier value.
  void AddEntry(const std::string& name, const std::string& text);
  // Bytes as upper-case hexadecimal text, no separators.
  void AddHexEntry(const std::string& name, const uint8_t* bytes, size_t n);

  // Under the machine-wide application-data folder, at the present local time.
  bool Write();
  // Under root (which stands for that folder), at the time given.
  bool WriteUnder(const std::u16string& root, const plat::LocalTime& time);

  std::string Json();
  static std::u16string DeviceFolderName(const uint8_t deviceId[16]);
  static std::u16string FileName(const plat::LocalTime& time);

 private:
  uint8_t id_[16];
  std::map<std::string, std::string> entries_;
  plat::RecursiveLock lock_;
};

}  // namespace qs::fw
