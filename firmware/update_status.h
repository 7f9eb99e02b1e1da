// Status codes of a firmware update: the final result an update job reports
// is a KVXR_UPDATE_ status (library/KV-xR_update.h); the older boot loader's
// offer and upload have statuses of their own (never passed to a caller).
#pragma once
#include <cstdint>

#include "library/KV-xR_update.h"

namespace qs::fw {

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
