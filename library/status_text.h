// What a status of the library means, in words, for the messages of the
// program and the console front end. The statuses themselves are named in
// library/KV-xR_update.h; one number can mean different things for different
// functions, so the meaning is asked for with the function that returned it.
#pragma once
#include <cstdint>
#include <string>

namespace qs::kvxr {

// The functions (and the final result of an update, carried by the update
// callback's done event) whose statuses have meanings.
enum class Call {
  DiscoverDevices,
  EnumDevices,
  SetDiscoveryMode,
  SetNetworkCfg,
  RebootDevice,
  SetFirmwareFile,
  UpdateFirmware,
  AbortUpdate,
  SetRecoveryMode,
  ResumeRecovery,
  WriteOperationMode,
  ReadOperationMode,
  GetSerial,
  GetHardwareID,
  DbgReadProductData,
  DbgEraseProductData,
  UpdateResult,
};

// The meaning of a status of the call ("no acknowledgement from the device in
// time"): lower case, no full stop. Two statuses of one call that share a
// number are both named ("..., or ..."). A status the call does not return
// gives "unexpected status".
std::string StatusMeaning(Call call, int32_t status);

// The status's name in library/KV-xR_update.h ("KVXR_SETCFG_NO_ACK"; names
// sharing the number within the call are joined by "/"), or "" for a status
// the call does not return.
std::string StatusName(Call call, int32_t status);

// "-402: no acknowledgement from the device in time"
std::string StatusText(Call call, int32_t status);

}  // namespace qs::kvxr
