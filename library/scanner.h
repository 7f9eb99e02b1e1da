// The KV-xR scan: one Scanner per local interface broadcasts the discover
// request on UDP 9010 for 5 s, collects announces and operation-mode reports,
// and starts one version query per new device; every device record ends in
// the scan result. Everything runs on pooled threads.
#pragma once
#include <atomic>
#include <cstdint>

#include "library/KV-xR_update.h"
#include "library/scan_result.h"
#include "net/adapters.h"
#include "runtime/rc.h"

namespace qs::kvxr {

constexpr uint16_t kKvxrPort = 9010;
constexpr uint32_t kScanWindowMs = 5000;
constexpr uint32_t kResendAfterMs = 670;
constexpr uint32_t kVersionWaitMs = 1000;

// 0: directed broadcast per interface; 1: limited broadcast. Read by each
// request as it is built.
void SetDiscoveryModeFlag(uint8_t mode);
uint8_t DiscoveryModeFlag();

// Destination of a discover request from the interface.
uint32_t DiscoverDestination(uint8_t mode, uint32_t address, uint32_t netmask);

// Starts a scan job reporting into `result`. onDone is called once: by the
// pooled thread whose interface scan ends last, or before this returns when
// no interface could be scanned. The job is listed until it has ended
// completely (its version queries too) or is wound up.
void StartScan(IScanResult* result, KVxR_DoneCallback onDone,
               net::InterfaceQueryFn query = plat::QueryInterfaces);

// Library shutdown: for each listed job, waits up to 5 s for its interface
// scans, calls its done callback if still due and tells its result that the
// scan is finished.
void WindUpScans();

// Listed jobs (for tests).
size_t ListedScanCount();

}  // namespace qs::kvxr
