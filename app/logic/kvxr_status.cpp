#include "app/logic/kvxr_status.h"

#include "firmware/update_status.h"
#include "library/config_jobs.h"
#include "library/library_state.h"

namespace qs::app {

namespace {

using namespace qs::kvxr;

const char* RebootMeaning(int32_t st) {
  switch (st) {
    case kRebootNotStarted: return "unknown device, or the reboot could not be started";
    case kRebootNoSocket: return "no socket on the interface the device was found on";
    case kRebootNoBroadcast: return "broadcast is not allowed on that interface";
    case kRebootSendFailed: return "the reboot request could not be sent";
    case kRebootResponseSendFailed: return "the answer to the device's challenge could not be sent";
    case kRebootNoChallenge: return "the device sent no valid challenge within 3 s";
    case kRebootReceiveError: return "receive error while waiting for the challenge";
  }
  return nullptr;
}

const char* SetConfigMeaning(int32_t st) {
  switch (st) {
    case kUnknownDevice: return "unknown device (not in the last scan)";
    case kSetCfgNotStarted: return "the request could not be started, or the settings text was refused";
    case kCfgNoSeparator: return "a separator is missing in the settings text";
    case kCfgBadAddress: return "an address in the settings text is malformed";
    case kRediscoveryTimeout: return "the device did not answer the rediscovery in time";
    case kRediscoveryReceiveError: return "receive error during the rediscovery";
    case kSetCfgRefused: return "the device refused the settings, or the request could not be sent";
    case kSetCfgNoAck: return "no acknowledgement from the device in time";
    case kSetCfgReceiveError: return "receive error while waiting for the acknowledgement";
  }
  return nullptr;
}

const char* UpdateMeaning(int32_t st) {
  using namespace qs::fw;
  switch (st) {
    case kUpdateWritten: return "the firmware was written and verified, and the device started it";
    case kUpdateAlreadyCurrent: return "the device already had this firmware, and started it";
    case kUpdateNoChallenge: return "the device did not answer the restart request within 5 s";
    case kUpdateStillDiffers: return "a block still differed after writing";
    case kUpdateNoRecoveryAnswer: return "the device did not come back in its boot loader within 60 s";
    case kUpdateStreamingFailed: return "the boot program could not be offered on the device's interface";
    case kUpdateWatchFailed: return "the wait for the device's boot loader could not be set up";
    case kUpdateStreamJobFailed: return "the programming could not be started";
    case kUpdateStreamJobSilent: return "the programming stopped reporting for 15 s";
    case kUpdateConnectFailed: return "the programming connection to the device failed";
    case kUpdateBadDigestReply: return "the device gave a bad or no answer when asked to compare its memory";
    case kUpdateDeviceError: return "the device reported an error while writing";
    case kUpdateProductCheckFailed: return "the device's product data failed its check (nothing was written)";
    case kUpdateProductReadFailed: return "the device's product data could not be read";
    case kUpdateProductMigrateFailed: return "the device's product data could not be written";
    case kUpdateBadReadReply: return "the device gave a bad or no answer when asked to read its memory";
    case kUpdateRebootSocketFailed: return "no socket for the restart request";
    case kUpdateSendFailed: return "sending to the device failed";
    case kUpdateChallengeReceiveError: return "receive error while waiting for the device's restart challenge";
    case kUpdateChunkUnavailable: return "a block of the firmware file could not be taken";
  }
  return nullptr;
}

const char* UpdateStartMeaning(int32_t st) {
  switch (st) {
    case kUnknownDevice: return "unknown device (not in the last scan)";
    case kBadArgument: return "no firmware file is loaded";
    case -102: return "the update could not be started";
    case -103: return "recovery mode is on";
  }
  return nullptr;
}

}  // namespace

std::string UpdateStatusMeaning(int32_t st) {
  const char* m = UpdateMeaning(st);
  return m ? m : "unexpected status";
}

std::string KvxrStatusMeaning(KvxrCall call, int32_t st) {
  const char* m = nullptr;
  if (st == kOk) {
    m = "done";
  } else if (st == kNoWindow) {
    m = "the library has no window of the program to deliver its notifications to";
  } else {
    switch (call) {
      case KvxrCall::Reboot: m = RebootMeaning(st); break;
      case KvxrCall::ReadOperationMode:
        if (st == kUnknownDevice) m = "unknown device (not in the last scan)";
        else if (st == kBadArgument) m = "no room for the answer";
        break;
      case KvxrCall::SetNetworkCfg:
      case KvxrCall::WriteOperationMode: m = SetConfigMeaning(st); break;
      case KvxrCall::UpdateFirmware: m = UpdateStartMeaning(st); break;
    }
  }
  return m ? m : "unexpected status";
}

}  // namespace qs::app
