// Status codes of a firmware update (the final result an update job reports)
// and of the older boot loader's offer and upload (never passed to a caller).
#pragma once
#include <cstdint>

namespace qs::fw {

// Final result of an update job.
constexpr int32_t kUpdateWritten = 1;              // firmware written and verified; application started
constexpr int32_t kUpdateAlreadyCurrent = 0;       // every chunk already matched; application started
constexpr int32_t kUpdateNoChallenge = -7;         // no reboot challenge within 5000 ms
constexpr int32_t kUpdateStillDiffers = -9;        // a chunk still differs after writing
constexpr int32_t kUpdateNoRecoveryAnswer = -18;   // the device did not answer the recovery scan in time
constexpr int32_t kUpdateStreamingFailed = -19;    // the streaming registration failed
constexpr int32_t kUpdateWatchFailed = -20;        // setting up the recovery-scanner watch failed
constexpr int32_t kUpdateStreamJobFailed = -21;    // starting the stream job failed
constexpr int32_t kUpdateStreamJobSilent = -22;    // 15000 ms without any word from the stream job
constexpr int32_t kUpdateConnectFailed = -23;      // the TCP connection to the device failed
constexpr int32_t kUpdateBadDigestReply = -24;     // bad or missing "DGST" reply
constexpr int32_t kUpdateDeviceError = -25;        // the device reported "ERRO" during a write
constexpr int32_t kUpdateProductCheckFailed = -26; // product-data check failed
constexpr int32_t kUpdateProductReadFailed = -27;  // product-data read failed
constexpr int32_t kUpdateProductMigrateFailed = -28;  // product-data migration failed
constexpr int32_t kUpdateBadReadReply = -29;       // bad or missing "RDAT" reply
constexpr int32_t kUpdateRebootSocketFailed = -100;   // setting up the reboot socket failed
constexpr int32_t kUpdateSendFailed = -104;        // a send failed or the connection was not writable
constexpr int32_t kUpdateChallengeReceiveError = -105;  // receive error while waiting for the challenge
constexpr int32_t kUpdateChunkUnavailable = -107;  // taking a chunk from the image failed

// Offer and upload of the RAM program to an older boot loader.
constexpr int32_t kOldDone = 1;                 // selected, or the whole program acknowledged
constexpr int32_t kOldOtherJob = -1;            // an answer carried another job identifier
constexpr int32_t kOldNoAnswer = -7;            // no answer in time (or a receive failed)
constexpr int32_t kOldOnlyUnrelated = -13;      // only unrelated datagrams arrived
constexpr int32_t kOldNotAcknowledgement = -14; // an answer that is not an acknowledgement
constexpr int32_t kOldBeyondLastBlock = -15;    // an acknowledged number beyond the last block
constexpr int32_t kOldTriesExhausted = -17;     // five failed tries for one block
constexpr int32_t kOldNoFreeAddress = -30;      // no address could be offered (subnet full)
constexpr int32_t kOldSendFailed = -104;        // a send failed

}  // namespace qs::fw
