#include "app/logic/kvxr_status.h"

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

}  // namespace

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
    }
  }
  return m ? m : "unexpected status";
}

}  // namespace qs::app
