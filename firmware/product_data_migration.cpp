#include "firmware/product_data_migration.h"

#include <vector>

#include "firmware/product_data.h"
#include "firmware/update_status.h"

namespace qs::fw {

namespace {

constexpr size_t kOldLoggedWhenBad = 64;
constexpr size_t kOldLoggedWhenGood = 256;

}  // namespace

int32_t MigrateProductData(DeviceMemory& memory, DeviceLog& log) {
  uint8_t calibration[kCalibrationSize];
  if (memory.Read(kProductDataAddress, kCalibrationSize, calibration) == 1)
    log.AddHexEntry(kLogCalibrationData, calibration, sizeof calibration);

  uint8_t area[kProductDataSize];
  if (memory.Read(kProductDataAddress, kProductDataSize, area) != 1) {
    log.AddEntry(kLogProductData, kLogReadError);
    return KVXR_UPDATE_PRODUCT_DATA_READ;
  }
  const uint8_t* record = area + kCalibrationSize;
  // What was found goes into the log either way: the service staff see the
  // record that a migration replaced.
  log.AddHexEntry(kLogProductData, record, kProductRecordSize);
  if (ProductRecordValid(record, kProductRecordSize)) return 0;

  std::vector<uint8_t> old(kOldConfigSize);
  if (memory.Read(kOldConfigAddress, kOldConfigSize, old.data()) != 1) {
    log.AddEntry(kLogObsoleteConfigArea, kLogReadError);
    return KVXR_UPDATE_PRODUCT_DATA_READ;
  }
  if (!OldBlockPasses(old.data(), old.size())) {
    log.AddHexEntry(kLogObsoleteConfigArea, old.data(), kOldLoggedWhenBad);
    return KVXR_UPDATE_PRODUCT_DATA_CHECK;
  }
  log.AddHexEntry(kLogObsoleteConfigArea, old.data(), kOldLoggedWhenGood);

  uint8_t block[kConfigBlockSize];
  if (!BuildConfigBlock(old.data(), old.size(), block) ||
      memory.Write(WriteTag::Firmware, kConfigBlockAddress, block, kConfigBlockSize) != 1) {
    log.AddEntry(kLogMigratedConfigArea, kLogWriteError);
    return KVXR_UPDATE_PRODUCT_DATA_MIGRATION;
  }
  log.AddHexEntry(kLogMigratedConfigArea, block, sizeof block);

  uint8_t built[kProductRecordSize];
  if (!BuildProductRecord(old.data(), old.size(), built, sizeof built, nullptr)) {
    log.AddEntry(kLogMigratedProductData, kLogBuildError);
    return KVXR_UPDATE_PRODUCT_DATA_MIGRATION;
  }
  if (memory.Write(WriteTag::ProductData, kProductRecordAddress, built, kProductRecordSize) != 1) {
    log.AddEntry(kLogMigratedProductData, kLogWriteError);
    return KVXR_UPDATE_PRODUCT_DATA_MIGRATION;
  }
  log.AddHexEntry(kLogMigratedProductData, built, sizeof built);
  return 1;
}

}  // namespace qs::fw
