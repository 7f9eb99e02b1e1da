#include "library/status_text.h"

#include <cstdio>
#include <iterator>

#include "library/KV-xR_update.h"

namespace qs::kvxr {

namespace {

struct Status {
  int32_t code;
  const char* name;
  const char* meaning;
};

#define QS_STATUS(var, name, meaning) const Status var = {name, #name, meaning}

QS_STATUS(kOk, KVXR_OK, "done");
QS_STATUS(kNoWindow, KVXR_NO_WINDOW, "the scan's notification window could not be made");
QS_STATUS(kUnknownDevice, KVXR_UNKNOWN_DEVICE, "unknown device (not in the last scan)");
QS_STATUS(kNoScan, KVXR_NO_SCAN, "no scan has been started");
QS_STATUS(kBadDiscoveryMode, KVXR_BAD_DISCOVERY_MODE, "the discovery mode is neither 0 nor 1");
QS_STATUS(kFileNotFound, KVXR_FILE_NOT_FOUND, "no file or folder at this path");
QS_STATUS(kNoCallback, KVXR_NO_CALLBACK, "recovery mode needs a callback");
QS_STATUS(kRebootNotStarted, KVXR_REBOOT_NOT_STARTED, "the reboot could not be started");
QS_STATUS(kNoRecoveryDevice, KVXR_NO_RECOVERY_DEVICE, "no recovery device has that number");
QS_STATUS(kBadKeyword, KVXR_BAD_KEYWORD, "the settings text starts with neither DHCP nor static");
QS_STATUS(kNoFirmware, KVXR_NO_FIRMWARE, "no firmware file has been accepted");
QS_STATUS(kNoRoom, KVXR_NO_ROOM, "no room for the answer");
QS_STATUS(kSetCfgNotStarted, KVXR_SETCFG_NOT_STARTED, "the request could not be started");
QS_STATUS(kNoSeparator, KVXR_NO_SEPARATOR, "a separator is missing in the settings text");
QS_STATUS(kBadRecoveryMode, KVXR_BAD_RECOVERY_MODE, "the recovery mode is neither 0 nor 1");
QS_STATUS(kNotCreated, KVXR_NOT_CREATED, "the job could not be made");
QS_STATUS(kBadAddress, KVXR_BAD_ADDRESS, "an address in the settings text is malformed");
QS_STATUS(kInRecovery, KVXR_IN_RECOVERY, "refused while recovery mode is on");
QS_STATUS(kNoRunningUpdate, KVXR_NO_RUNNING_UPDATE, "no update runs for the device");
QS_STATUS(kNotFirmwareFile, KVXR_NOT_FIRMWARE_FILE, "the file is neither Intel HEX nor S-record");
QS_STATUS(kNoFwInfo, KVXR_NO_FW_INFO, "no \"fw.info\" marker in 0x4000..0x4FFF");
QS_STATUS(kBadFwInfo, KVXR_BAD_FW_INFO,
          "the \"fw.info\" text is not a JSON object with string \"model\" and \"version\"");
QS_STATUS(kWrongFamily, KVXR_WRONG_FAMILY, "\"model\" is not \"KV-xR\"");
QS_STATUS(kBadFwVersion, KVXR_BAD_FW_VERSION, "\"version\" is not a number, a \".\" and a number");
QS_STATUS(kRebootNoSocket, KVXR_REBOOT_NO_SOCKET, "no socket on the interface the device was found on");
QS_STATUS(kRebootNoBroadcast, KVXR_REBOOT_NO_BROADCAST, "broadcast is not allowed on that interface");
QS_STATUS(kRebootNotSent, KVXR_REBOOT_NOT_SENT, "the reboot request could not be sent");
QS_STATUS(kResponseNotSent, KVXR_RESPONSE_NOT_SENT, "the answer to the device's challenge could not be sent");
QS_STATUS(kNoChallenge, KVXR_NO_CHALLENGE, "the device sent no valid challenge within 3 s");
QS_STATUS(kChallengeReceiveError, KVXR_CHALLENGE_RECEIVE_ERROR, "receive error while waiting for the challenge");
QS_STATUS(kRediscoveryTimeout, KVXR_REDISCOVERY_TIMEOUT, "the device did not answer the rediscovery in time");
QS_STATUS(kRediscoveryReceiveError, KVXR_REDISCOVERY_RECEIVE_ERROR, "receive error during the rediscovery");
QS_STATUS(kSetCfgRefused, KVXR_SETCFG_REFUSED, "the device refused the settings, or the request could not be sent");
QS_STATUS(kSetCfgNoAck, KVXR_SETCFG_NO_ACK, "no acknowledgement from the device in time");
QS_STATUS(kSetCfgReceiveError, KVXR_SETCFG_RECEIVE_ERROR, "receive error while waiting for the acknowledgement");
QS_STATUS(kUpdateWritten, KVXR_UPDATE_WRITTEN, "firmware written and verified; application started");
QS_STATUS(kUpdateUpToDate, KVXR_UPDATE_UP_TO_DATE, "the device already held this firmware; application started");
QS_STATUS(kUpdateNoChallenge, KVXR_UPDATE_NO_CHALLENGE, "the device sent no valid reboot challenge within 5 s");
QS_STATUS(kUpdateStillDiffers, KVXR_UPDATE_STILL_DIFFERS, "a part of the firmware still differs after writing");
QS_STATUS(kUpdateNoBootLoader, KVXR_UPDATE_NO_BOOT_LOADER, "the device's boot loader did not answer within 60 s");
QS_STATUS(kUpdateNotStreamed, KVXR_UPDATE_NOT_STREAMED, "the RAM program could not be offered to the boot loader");
QS_STATUS(kUpdateNoWatch, KVXR_UPDATE_NO_WATCH, "the boot loader's answer could not be watched for");
QS_STATUS(kUpdateNoStreamJob, KVXR_UPDATE_NO_STREAM_JOB, "the programming could not be started");
QS_STATUS(kUpdateStreamSilent, KVXR_UPDATE_STREAM_SILENT, "no word from the programming for 15 s");
QS_STATUS(kUpdateNoConnection, KVXR_UPDATE_NO_CONNECTION, "the connection to the boot loader failed");
QS_STATUS(kUpdateBadDigest, KVXR_UPDATE_BAD_DIGEST, "the boot loader gave a bad or no digest reply");
QS_STATUS(kUpdateDeviceError, KVXR_UPDATE_DEVICE_ERROR, "the device reported an error while writing");
QS_STATUS(kUpdateProductDataCheck, KVXR_UPDATE_PRODUCT_DATA_CHECK,
          "the product data are invalid and cannot be rebuilt from the old configuration");
QS_STATUS(kUpdateProductDataRead, KVXR_UPDATE_PRODUCT_DATA_READ, "the product data could not be read");
QS_STATUS(kUpdateProductDataMigration, KVXR_UPDATE_PRODUCT_DATA_MIGRATION, "the product data could not be rebuilt");
QS_STATUS(kUpdateBadRead, KVXR_UPDATE_BAD_READ, "the boot loader gave a bad or no read reply");
QS_STATUS(kUpdateNoSocket, KVXR_UPDATE_NO_SOCKET, "no socket for the reboot request");
QS_STATUS(kUpdateSendFailed, KVXR_UPDATE_SEND_FAILED,
          "sending to the device failed, or the connection stopped taking data");
QS_STATUS(kUpdateReceiveError, KVXR_UPDATE_RECEIVE_ERROR, "receive error while waiting for the reboot challenge");
QS_STATUS(kUpdateNoChunk, KVXR_UPDATE_NO_CHUNK, "a part of the firmware image could not be taken");

#undef QS_STATUS

// Each function's statuses, as library/KV-xR_update.h lists them.
const Status* const kDiscoverDevices[] = {&kOk, &kNoWindow};
const Status* const kEnumDevices[] = {&kOk, &kNoScan};
const Status* const kSetDiscoveryMode[] = {&kOk, &kBadDiscoveryMode};
const Status* const kSetNetworkCfg[] = {&kOk,         &kUnknownDevice,      &kBadKeyword,
                                        &kSetCfgNotStarted, &kNoSeparator, &kBadAddress,
                                        &kRediscoveryTimeout, &kRediscoveryReceiveError, &kSetCfgRefused,
                                        &kSetCfgNoAck, &kSetCfgReceiveError};
const Status* const kRebootDevice[] = {&kOk,           &kUnknownDevice,  &kRebootNotStarted,
                                       &kRebootNoSocket, &kRebootNoBroadcast, &kRebootNotSent,
                                       &kResponseNotSent, &kNoChallenge,  &kChallengeReceiveError};
const Status* const kSetFirmwareFile[] = {&kOk,       &kFileNotFound, &kNotFirmwareFile, &kNoFwInfo,
                                          &kBadFwInfo, &kWrongFamily,  &kBadFwVersion};
const Status* const kUpdateFirmware[] = {&kOk, &kInRecovery, &kUnknownDevice, &kNoFirmware, &kNotCreated};
const Status* const kAbortUpdate[] = {&kOk, &kUnknownDevice, &kNoRunningUpdate};
const Status* const kSetRecoveryMode[] = {&kOk, &kBadRecoveryMode, &kNoCallback, &kNoFirmware};
const Status* const kResumeRecovery[] = {&kOk, &kNoRecoveryDevice};
const Status* const kWriteOperationMode[] = {&kOk,           &kUnknownDevice,           &kSetCfgNotStarted,
                                             &kRediscoveryTimeout, &kRediscoveryReceiveError, &kSetCfgRefused,
                                             &kSetCfgNoAck,  &kSetCfgReceiveError};
const Status* const kLookUp[] = {&kOk, &kUnknownDevice, &kNoRoom};  // ReadOperationMode, GetSerial, GetHardwareID
const Status* const kProductData[] = {&kOk, &kInRecovery, &kUnknownDevice, &kNotCreated};
const Status* const kUpdateResult[] = {&kUpdateWritten,      &kUpdateUpToDate,          &kUpdateNoChallenge,
                                       &kUpdateStillDiffers, &kUpdateNoBootLoader,      &kUpdateNotStreamed,
                                       &kUpdateNoWatch,      &kUpdateNoStreamJob,       &kUpdateStreamSilent,
                                       &kUpdateNoConnection, &kUpdateBadDigest,         &kUpdateDeviceError,
                                       &kUpdateProductDataCheck, &kUpdateProductDataRead, &kUpdateProductDataMigration,
                                       &kUpdateBadRead,      &kUpdateNoSocket,          &kUpdateSendFailed,
                                       &kUpdateReceiveError, &kUpdateNoChunk};

struct List {
  const Status* const* begin;
  const Status* const* end;
};

template <size_t N>
List Of(const Status* const (&a)[N]) {
  return {a, a + N};
}

List StatusesOf(Call call) {
  switch (call) {
    case Call::DiscoverDevices: return Of(kDiscoverDevices);
    case Call::EnumDevices: return Of(kEnumDevices);
    case Call::SetDiscoveryMode: return Of(kSetDiscoveryMode);
    case Call::SetNetworkCfg: return Of(kSetNetworkCfg);
    case Call::RebootDevice: return Of(kRebootDevice);
    case Call::SetFirmwareFile: return Of(kSetFirmwareFile);
    case Call::UpdateFirmware: return Of(kUpdateFirmware);
    case Call::AbortUpdate: return Of(kAbortUpdate);
    case Call::SetRecoveryMode: return Of(kSetRecoveryMode);
    case Call::ResumeRecovery: return Of(kResumeRecovery);
    case Call::WriteOperationMode: return Of(kWriteOperationMode);
    case Call::ReadOperationMode:
    case Call::GetSerial:
    case Call::GetHardwareID: return Of(kLookUp);
    case Call::DbgReadProductData:
    case Call::DbgEraseProductData: return Of(kProductData);
    case Call::UpdateResult: return Of(kUpdateResult);
  }
  return {nullptr, nullptr};
}

// The call's statuses of that number, their field joined.
std::string Join(Call call, int32_t status, const char* Status::*field, const char* separator) {
  std::string s;
  List l = StatusesOf(call);
  for (const Status* const* p = l.begin; p != l.end; ++p) {
    if ((*p)->code != status) continue;
    if (!s.empty()) s += separator;
    s += (*p)->*field;
  }
  return s;
}

}  // namespace

std::string StatusMeaning(Call call, int32_t status) {
  // A recovery's programming ends with the count of what it wrote.
  if (call == Call::UpdateResult && status > KVXR_UPDATE_WRITTEN) return "programmed";
  std::string s = Join(call, status, &Status::meaning, ", or ");
  return s.empty() ? "unexpected status" : s;
}

std::string StatusName(Call call, int32_t status) { return Join(call, status, &Status::name, "/"); }

std::string StatusText(Call call, int32_t status) {
  char b[16];
  std::snprintf(b, sizeof b, "%d: ", static_cast<int>(status));
  return b + StatusMeaning(call, status);
}

}  // namespace qs::kvxr
