// The KV-xR scan: one Scanner per local interface broadcasts the discover
// request on UDP 9010 for 5 s, collects announces and operation-mode reports,
// and asks each new device for its version from the same socket (a bounded
// number at once, see version_queries.h); every device record ends in the
// scan result. Each interface scan runs on one pooled thread.
#pragma once
#include <atomic>
#include <cstdint>

#include "library/KV-xR_update.h"
#include "library/scan_result.h"
#include "library/version_queries.h"
#include "net/adapters.h"
#include "runtime/log_sink.h"
#include "runtime/rc.h"

namespace qs::kvxr {

constexpr uint32_t kScanWindowMs = 5000;
constexpr uint32_t kResendAfterMs = 670;
// Discover requests one interface scan sends at most (one per quiet spell).
constexpr uint32_t kDiscoverAttempts = kScanWindowMs / kResendAfterMs + 1;
// How long a scan job's finished notice is retried when the host's queue is full.
constexpr uint32_t kFinishedPostRetryMs = 2000;

// 0: directed broadcast per interface; 1: limited broadcast. Read by each
// request as it is built.
void SetDiscoveryModeFlag(uint8_t mode);
uint8_t DiscoveryModeFlag();

// Destination of a discover request from the interface.
uint32_t DiscoverDestination(uint8_t mode, uint32_t address, uint32_t netmask);

// Starts a scan job reporting into `result`. onDone is called once: by the
// pooled thread whose interface scan window ends last (an interface whose
// socket cannot be opened waits its window out too), or before this returns
// when no interface could be scanned. The job is listed until it has ended
// completely (its version queries too) or is wound up. `log` hears what the
// interface scans send and see.
void StartScan(IScanResult* result, KVxR_DoneCallback onDone,
               net::InterfaceQueryFn query = plat::QueryInterfaces, ILogSink* log = nullptr);

// Library shutdown: stops every listed job's interface scans, waits up to 5 s
// for them to end, calls each done callback still due and tells each result
// that its scan is finished.
void WindUpScans();

// Listed jobs (for tests).
size_t ListedScanCount();

}  // namespace qs::kvxr
