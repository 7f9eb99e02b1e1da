// What the single update and the batch update share: the library's progress
// records as they arrive on the host thread, the limits on waiting for them
// and for the device to come back, and the JSON object of one update.
#pragma once
#include <picojson.h>

#include <cstdint>
#include <vector>

#include "app/logic/kvxr_settings.h"
#include "library/device_line.h"

namespace qs::cli {

// Kinds of the update callback's records.
constexpr int32_t kKindPreparing = 1;
constexpr int32_t kKindProgramming = 3;
constexpr int32_t kKindEnded = 4;

// How long an updated device may take to answer a scan again.
constexpr uint32_t kComeBackMs = 30000;
// The job reports at least once a second while it waits and ends itself
// after 15 s without a word from the device; this only guards against a
// library that falls silent.
constexpr uint32_t kSilenceLimitMs = 90000;
constexpr uint32_t kUpdateLimitMs = 15 * 60 * 1000;

struct UpdateEvent {
  int32_t device, kind, value;
};

// The update callback: queues every record (at most 100000 between two takes).
void OnUpdateEvent(int32_t device, int32_t kind, int32_t value);
// Moves the records queued so far into *out (which is emptied first).
void TakeUpdateEvents(std::vector<UpdateEvent>* out);

app::Version VersionOf(const kvxr::DeviceLine& d);

// {"status", "before", "after", "file"}: versions as [major, minor], null
// when unknown ("after" null when the device was not seen again; "status"
// null when no update ran).
picojson::object UpdateJson(const int32_t* status, const app::Version& before, const app::Version* after,
                            const app::Version& file);

}  // namespace qs::cli
