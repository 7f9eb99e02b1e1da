#include "app/logic/update_outcome.h"

#include <cstdio>

#include "firmware/firmware_status.h"
#include "firmware/update_status.h"

namespace qs::app {

std::string FirmwareFileMeaning(int32_t st) {
  using namespace qs::fw;
  switch (st) {
    case kFwOk: return "loaded";
    case kFwNotFound: return "there is no file at that path";
    case kFwNotLoadable: return "the file is neither Intel HEX nor S-record";
    case kFwNoInfo: return "the image carries no \"fw.info\" description in 0x4000..0x4FFF";
    case kFwBadInfo: return "the image's \"fw.info\" description is malformed";
    case kFwWrongModel: return "the firmware is not for KV-xR devices";
    case kFwBadVersion: return "the image's \"fw.info\" names no version of the form number.number";
  }
  return "unexpected status";
}

std::string UpdateStartMeaning(int32_t st) {
  switch (st) {
    case 0: return "started";
    case -100: return "unknown device (not in the last scan)";
    case -101: return "no firmware file is loaded";
    case -102: return "the update job could not be created or started";
    case -103: return "refused: recovery mode is on";
  }
  return "unexpected status";
}

std::string UpdateResultMeaning(int32_t st) {
  using namespace qs::fw;
  switch (st) {
    case kUpdateWritten: return "firmware written and verified; application started";
    case kUpdateAlreadyCurrent: return "the device already held this firmware; application started";
    case kUpdateNoChallenge: return "the device sent no valid reboot challenge within 5 s";
    case kUpdateStillDiffers: return "a part of the firmware still differs after writing";
    case kUpdateNoRecoveryAnswer: return "the device's boot loader did not answer within 60 s";
    case kUpdateStreamingFailed: return "the RAM program could not be offered to the boot loader";
    case kUpdateWatchFailed: return "the boot loader's answer could not be watched for";
    case kUpdateStreamJobFailed: return "the programming could not be started";
    case kUpdateStreamJobSilent: return "no word from the programming for 15 s";
    case kUpdateConnectFailed: return "the connection to the boot loader failed";
    case kUpdateBadDigestReply: return "the boot loader gave a bad or no digest reply";
    case kUpdateDeviceError: return "the device reported an error while writing";
    case kUpdateProductCheckFailed: return "the product data are invalid and cannot be rebuilt from the old configuration";
    case kUpdateProductReadFailed: return "the product data could not be read";
    case kUpdateProductMigrateFailed: return "the product data could not be rebuilt";
    case kUpdateBadReadReply: return "the boot loader gave a bad or no read reply";
    case kUpdateRebootSocketFailed: return "no socket for the reboot request";
    case kUpdateSendFailed: return "sending to the device failed, or the connection stopped taking data";
    case kUpdateChallengeReceiveError: return "receive error while waiting for the reboot challenge";
    case kUpdateChunkUnavailable: return "a part of the firmware image could not be taken";
  }
  return st > 1 ? "programmed" : "unexpected status";
}

std::string RecoveryModeMeaning(int32_t st) {
  switch (st) {
    case 0: return "done";
    case -100: return "no callback given";
    case -101: return "no firmware file is loaded";
    case -102: return "invalid mode";
  }
  return "unexpected status";
}

UpdateVerdict JudgeUpdate(int32_t st, bool back, const Version& after, const Version& file) {
  if (st != fw::kUpdateWritten && st != fw::kUpdateAlreadyCurrent) return UpdateVerdict::Failed;
  if (!back) return UpdateVerdict::NotBack;
  return after == file ? UpdateVerdict::Done : UpdateVerdict::OtherVersion;
}

std::string VersionText(const Version& v) {
  char b[32];
  std::snprintf(b, sizeof b, "%u.%03u", static_cast<unsigned>(v.major), static_cast<unsigned>(v.minor));
  return b;
}

}  // namespace qs::app
