#include "app/logic/update_outcome.h"

#include <cstdio>

#include "library/KV-xR_update.h"

namespace qs::app {

std::string FirmwareFileMeaning(int32_t st) {
  switch (st) {
    case KVXR_OK: return "loaded";
    case KVXR_FILE_NOT_FOUND: return "there is no file at that path";
    case KVXR_NOT_FIRMWARE_FILE: return "the file is neither Intel HEX nor S-record";
    case KVXR_NO_FW_INFO: return "the image carries no \"fw.info\" description in 0x4000..0x4FFF";
    case KVXR_BAD_FW_INFO: return "the image's \"fw.info\" description is malformed";
    case KVXR_WRONG_FAMILY: return "the firmware is not for KV-xR devices";
    case KVXR_BAD_FW_VERSION: return "the image's \"fw.info\" names no version of the form number.number";
  }
  return "unexpected status";
}

std::string UpdateStartMeaning(int32_t st) {
  switch (st) {
    case KVXR_OK: return "started";
    case KVXR_UNKNOWN_DEVICE: return "unknown device (not in the last scan)";
    case KVXR_NO_FIRMWARE: return "no firmware file is loaded";
    case KVXR_NOT_CREATED: return "the update job could not be created or started";
    case KVXR_IN_RECOVERY: return "refused: recovery mode is on";
  }
  return "unexpected status";
}

std::string UpdateResultMeaning(int32_t st) {
  switch (st) {
    case KVXR_UPDATE_WRITTEN: return "firmware written and verified; application started";
    case KVXR_UPDATE_UP_TO_DATE: return "the device already held this firmware; application started";
    case KVXR_UPDATE_NO_CHALLENGE: return "the device sent no valid reboot challenge within 5 s";
    case KVXR_UPDATE_STILL_DIFFERS: return "a part of the firmware still differs after writing";
    case KVXR_UPDATE_NO_BOOT_LOADER: return "the device's boot loader did not answer within 60 s";
    case KVXR_UPDATE_NOT_STREAMED: return "the RAM program could not be offered to the boot loader";
    case KVXR_UPDATE_NO_WATCH: return "the boot loader's answer could not be watched for";
    case KVXR_UPDATE_NO_STREAM_JOB: return "the programming could not be started";
    case KVXR_UPDATE_STREAM_SILENT: return "no word from the programming for 15 s";
    case KVXR_UPDATE_NO_CONNECTION: return "the connection to the boot loader failed";
    case KVXR_UPDATE_BAD_DIGEST: return "the boot loader gave a bad or no digest reply";
    case KVXR_UPDATE_DEVICE_ERROR: return "the device reported an error while writing";
    case KVXR_UPDATE_PRODUCT_DATA_CHECK: return "the product data are invalid and cannot be rebuilt from the old configuration";
    case KVXR_UPDATE_PRODUCT_DATA_READ: return "the product data could not be read";
    case KVXR_UPDATE_PRODUCT_DATA_MIGRATION: return "the product data could not be rebuilt";
    case KVXR_UPDATE_BAD_READ: return "the boot loader gave a bad or no read reply";
    case KVXR_UPDATE_NO_SOCKET: return "no socket for the reboot request";
    case KVXR_UPDATE_SEND_FAILED: return "sending to the device failed, or the connection stopped taking data";
    case KVXR_UPDATE_RECEIVE_ERROR: return "receive error while waiting for the reboot challenge";
    case KVXR_UPDATE_NO_CHUNK: return "a part of the firmware image could not be taken";
  }
  return st > 1 ? "programmed" : "unexpected status";
}

std::string RecoveryModeMeaning(int32_t st) {
  switch (st) {
    case KVXR_OK: return "done";
    case KVXR_NO_CALLBACK: return "no callback given";
    case KVXR_NO_FIRMWARE: return "no firmware file is loaded";
    case KVXR_BAD_RECOVERY_MODE: return "invalid mode";
  }
  return "unexpected status";
}

UpdateVerdict JudgeUpdate(int32_t st, bool back, const Version& after, const Version& file) {
  if (st != KVXR_UPDATE_WRITTEN && st != KVXR_UPDATE_UP_TO_DATE) return UpdateVerdict::Failed;
  if (!back) return UpdateVerdict::NotBack;
  return after == file ? UpdateVerdict::Done : UpdateVerdict::OtherVersion;
}

std::string VersionText(const Version& v) {
  char b[32];
  std::snprintf(b, sizeof b, "%u.%03u", static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor));
  return b;
}

}  // namespace qs::app
