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

constexpr int32_t kSetCfgNotStarted = -101;
constexpr int32_t kRediscoveryTimeout = -300;
constexpr int32_t kRediscoveryReceiveError = -301;
constexpr int32_t kSetCfgRefused = -401;  // also: the request could not be sent
constexpr int32_t kSetCfgNoAck = -402;
constexpr int32_t kSetCfgReceiveError = -403;

constexpr int32_t kRebootNotStarted = -100;
constexpr int32_t kRebootNoSocket = -201;
constexpr int32_t kRebootNoBroadcast = -202;
constexpr int32_t kRebootSendFailed = -203;
constexpr int32_t kRebootResponseSendFailed = -204;
constexpr int32_t kRebootNoChallenge = -210;
constexpr int32_t kRebootReceiveError = -211;
constexpr uint32_t kChallengeWaitMs = 3000;
// After the rediscovery's announce, how long the job listens on for the
// device's operation-mode report (when it needs the device's mode and has not
// had it yet); never more than half of the budget left.
constexpr uint32_t kOpModeGraceMs = 300;

// Rediscovers the device, then sends the merged settings and waits for the
// acknowledgement, all within timeoutMs. `log` hears what it sends and sees.
int32_t RunSetConfig(const DeviceRecord& device, const NetworkSettings& settings, uint32_t timeoutMs,
                     ILogSink* log = nullptr);

int32_t RunReboot(const DeviceRecord& device, ILogSink* log = nullptr);

// The response to a challenge: the Base64 text of its bytes inverted; false
// when the challenge field (up to 24 characters, NUL-ended when shorter) is
// not the Base64 text of 16 bytes.
bool ChallengeResponse(const uint8_t* field24, char out[25]);

}  // namespace qs::kvxr
