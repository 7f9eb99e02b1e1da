// The jobs that change a device: set-config (network settings or the
// operation mode) and the challenged reboot. Each runs on a pooled thread
// while the export waits; all send to 255.255.255.255:9010 from the interface
// the device was found on, so they reach it even when its address does not.
#pragma once
#include <cstdint>

#include "library/device_record.h"
#include "library/network_config.h"
#include "runtime/log_sink.h"

namespace qs::kvxr {

constexpr uint32_t kChallengeWaitMs = 3000;
// After the rediscovery's announce, how long the job listens on for the
// device's operation-mode report (when it needs the device's mode and has not
// had it yet); never more than half of the budget left.
constexpr uint32_t kOpModeGraceMs = 300;

// Rediscovers the device, then sends the merged settings and waits for the
// acknowledgement, all within timeoutMs. The statuses of KVxR_SetNetworkCfg's
// request (library/KV-xR_update.h). `log` hears what it sends and sees.
int32_t RunSetConfig(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs,
                     ILogSink* log = nullptr);

// The statuses of KVxR_RebootDevice but KVXR_UNKNOWN_DEVICE.
int32_t RunReboot(const DeviceRecord& device, ILogSink* log = nullptr);

}  // namespace qs::kvxr
